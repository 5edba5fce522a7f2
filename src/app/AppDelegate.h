#pragma once

#include "app/AppCollaborators.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariantMap>

#include <memory>

class QAction;
class QMenuBar;
class QWidget;

namespace vornakel {

class AboutViewController;
class PreferencesWindowController;
class UserDefaults;
class WiFiNetworkPolicy;
class Workspace;

// User-default keys whose defaults the application registers at start; the copy queue and the destinations
// read them under these names.
inline QString dragAndDropGroupingBehaviourUserDefaultsKey() { return QStringLiteral("DragAndDropGroupingBehaviour"); }
inline QString photosGroupingBehaviourUserDefaultsKey() { return QStringLiteral("PhotosGroupingBehaviour"); }
inline QString lightroomGroupingBehaviourUserDefaultsKey() { return QStringLiteral("LightroomGroupingBehaviour"); }
inline QString folderGroupingBehaviourUserDefaultsKey() { return QStringLiteral("FolderCopyDestinationGroupingBehaviour"); }

// Shows the window in front of the others, un-minimised, and gives it the focus; a second start of the
// application asks the running one to do this with its main window.
void bringWindowForward(QWidget* window);

// The application delegate: runs the start-up sequence, serves the app menu (feedback, web site, preferences,
// About, quit) and is the software updater's delegate.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    struct Collaborators {
        WiFiNetworkPolicy& wifi;
        ImageCachePurger& imageCache;
        VendorFramework& vendor;
        HelpRegistration& help;
        Workspace& workspace;
        UserDefaults& defaults;
        const VersionInfoProvider& versions;
        PreferencesPanes panes;
    };

    explicit AppDelegate(Collaborators collaborators, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The delegate of the running application; none before one is made or after it is gone.
    static AppDelegate* current();

    // The six defaults, in registration order: the three grouping behaviours for drag and drop, Photos and
    // Lightroom (2, 0, 0), the folder's (0), and both Wi-Fi switches (true).
    static QList<std::pair<QString, QVariant>> registeredDefaults();
    static QUrl vornakelWebsite();

    // The start-up sequence; runs once, before any window is shown.
    void applicationDidFinishLaunching();
    void purgeOutOfDateThumbnailsAndPreviews();

    // Builds the app and help menus in the menu bar and wires their items to this delegate.
    void installMenus(QMenuBar* menuBar);

    QAction* preferencesMenuItem() const { return m_preferencesMenuItem; }
    void setPreferencesMenuItem(QAction* item) { m_preferencesMenuItem = item; }

    PreferencesWindowController* preferencesWindowController() const { return m_preferences.get(); }
    QWidget* aboutWindow() const { return m_aboutWindow; }
    // The alert shown when no program could show the help; none otherwise.
    QWidget* helpUnavailableAlert() const { return m_helpAlert; }

public slots:
    void sendAppFeedback();
    void launchVornakelWebsite();
    // Opens the preferences window as the Preferences menu item does; nothing without that item.
    void showPreferences();
    void showAbout();
    void showHelp();
    // The Preferences menu item's action: builds the window when needed, then shows it.
    void openPreferencesWindow();
    void updaterWillInstallUpdate();

private:
    void showHelpUnavailable(const QString& page);

    Collaborators m_collaborators;
    QPointer<QAction> m_preferencesMenuItem;
    std::unique_ptr<PreferencesWindowController> m_preferences;
    QPointer<QWidget> m_aboutWindow;
    QPointer<QWidget> m_helpAlert;
    bool m_launched = false;
};

} // namespace vornakel
