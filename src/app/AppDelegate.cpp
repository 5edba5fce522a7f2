#include "app/AppDelegate.h"

#include "app/AboutWindow.h"
#include "app/PreferencesWindowController.h"
#include "discovery/WiFiNetworkAutoLaunching.h"
#include "mainwindow/WiFiNetworkPolicy.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "platform/services/Workspace.h"
#include "sorting/editor/PhotoSortingMenuBuilder.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

namespace vornakel {
namespace {

QPointer<AppDelegate> gCurrent;

// The copy queue's FileGroupBehaviour values.
constexpr int kCopyAll = 0;
constexpr int kPreferPreview = 2;

} // namespace

AppDelegate::AppDelegate(Collaborators collaborators, QObject* parent)
    : QObject(parent), m_collaborators(std::move(collaborators))
{
    gCurrent = this;
    // The preset menus' "Customize…" opens the preferences on the photo-sorting pane.
    PhotoSortingMenuBuilder::setCustomizeHandler([] { PreferencesWindowController::showPhotoSorting(); });
}

AppDelegate::~AppDelegate()
{
    delete m_aboutWindow.data();
}

AppDelegate* AppDelegate::current()
{
    return gCurrent.data();
}

QList<std::pair<QString, QVariant>> AppDelegate::registeredDefaults()
{
    return {
        {dragAndDropGroupingBehaviourUserDefaultsKey(), kPreferPreview},
        {photosGroupingBehaviourUserDefaultsKey(), kCopyAll},
        {lightroomGroupingBehaviourUserDefaultsKey(), kCopyAll},
        {folderGroupingBehaviourUserDefaultsKey(), kCopyAll},
        {WiFiNetworkAutoLaunching::shouldAutoLaunchUserDefaultsKey, true},
        {WiFiNetworkAutoLaunching::disconnectFromCameraNetworksOnExitUserDefaultsKey, true},
    };
}

QUrl AppDelegate::vornakelWebsite()
{
    return QUrl(QStringLiteral("https://www.vornakel.com/"));
}

void AppDelegate::applicationDidFinishLaunching()
{
    if (m_launched)
        return;
    m_launched = true;

    m_collaborators.wifi.createSharedWatcher();

    QVariantMap defaults;
    for (const auto& [key, value] : registeredDefaults())
        defaults.insert(key, value);
    m_collaborators.defaults.registerDefaults(defaults);

    m_collaborators.vendor.sendTrackingReport();
    m_collaborators.vendor.setupIssuesController(true);
    m_collaborators.vendor.setUpdaterDelegate(this, [this] { updaterWillInstallUpdate(); });
    m_collaborators.wifi.enforceAutoLaunchSetting();
    purgeOutOfDateThumbnailsAndPreviews();
    m_collaborators.help.registerBooks();
}

void AppDelegate::purgeOutOfDateThumbnailsAndPreviews()
{
    m_collaborators.imageCache.purgeOutOfDateThumbnailsAndPreviews();
}

void AppDelegate::installMenus(QMenuBar* menuBar)
{
    QMenu* appMenu = menuBar->addMenu(GeneralUI::text(QStringLiteral("AppName")));
    appMenu->setObjectName(QStringLiteral("AppMenu"));

    QAction* about = appMenu->addAction(GeneralUI::text(QStringLiteral("AppMenuAbout")), this, &AppDelegate::showAbout);
    about->setMenuRole(QAction::AboutRole);
    about->setObjectName(QStringLiteral("AboutMenuItem"));
    appMenu->addSeparator();

    QAction* preferences = appMenu->addAction(GeneralUI::text(QStringLiteral("AppMenuPreferences")), this,
                                              &AppDelegate::openPreferencesWindow);
    preferences->setMenuRole(QAction::PreferencesRole);
    preferences->setShortcut(QKeySequence::Preferences);
    preferences->setObjectName(QStringLiteral("PreferencesMenuItem"));
    setPreferencesMenuItem(preferences);
    appMenu->addSeparator();

    appMenu->addAction(GeneralUI::text(QStringLiteral("AppMenuSendFeedback")), this, &AppDelegate::sendAppFeedback)
        ->setObjectName(QStringLiteral("FeedbackMenuItem"));
    appMenu->addAction(GeneralUI::text(QStringLiteral("AppMenuWebsite")), this, &AppDelegate::launchVornakelWebsite)
        ->setObjectName(QStringLiteral("WebsiteMenuItem"));
    appMenu->addSeparator();

    QAction* quit = appMenu->addAction(GeneralUI::text(QStringLiteral("AppMenuQuit")), qApp, &QCoreApplication::quit);
    quit->setMenuRole(QAction::QuitRole);
    quit->setShortcut(QKeySequence::Quit);
    quit->setObjectName(QStringLiteral("QuitMenuItem"));

    QMenu* helpMenu = menuBar->addMenu(GeneralUI::text(QStringLiteral("HelpMenu")));
    helpMenu->setObjectName(QStringLiteral("HelpMenu"));
    QAction* help = helpMenu->addAction(GeneralUI::text(QStringLiteral("HelpMenuAppHelp")), this, &AppDelegate::showHelp);
    help->setShortcut(QKeySequence::HelpContents);
    help->setObjectName(QStringLiteral("HelpMenuItem"));
}

void AppDelegate::sendAppFeedback()
{
    m_collaborators.vendor.showFeedbackDialog(nullptr);
}

void AppDelegate::launchVornakelWebsite()
{
    m_collaborators.workspace.openUrl(vornakelWebsite());
}

void AppDelegate::showPreferences()
{
    if (m_preferencesMenuItem && m_preferencesMenuItem->isEnabled())
        m_preferencesMenuItem->trigger();
}

void AppDelegate::openPreferencesWindow()
{
    if (!m_preferences)
        m_preferences = std::make_unique<PreferencesWindowController>(m_collaborators.panes);
    QMainWindow* window = m_preferences->window();
    window->show();
    window->raise();
    window->activateWindow();
}

void AppDelegate::showAbout()
{
    if (!m_aboutWindow) {
        auto* window = new QWidget;
        window->setObjectName(QStringLiteral("AboutWindow"));
        AboutViewController::configureWindow(window);
        auto* layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new AboutViewController(m_collaborators.versions, window));
        layout->setSizeConstraint(QLayout::SetFixedSize);
        m_aboutWindow = window;
    }
    m_aboutWindow->show();
    m_aboutWindow->raise();
    m_aboutWindow->activateWindow();
}

void AppDelegate::showHelp()
{
    m_collaborators.help.openHelpAnchor(QString());
}

void AppDelegate::updaterWillInstallUpdate()
{
    m_collaborators.wifi.quitHelperIfRunning();
}

} // namespace vornakel
