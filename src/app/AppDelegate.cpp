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
#include <QMessageBox>
#include <QScreen>
#include <QVBoxLayout>

namespace vornakel {
namespace {

QPointer<AppDelegate> gCurrent;

// The copy queue's FileGroupBehaviour values.
constexpr int kCopyAll = 0;
constexpr int kPreferPreview = 2;

// The screen of the window the user works in: the active one, else the first application window shown.
QScreen* screenOfMainWindow(const QWidget* besides)
{
    if (QWidget* active = QApplication::activeWindow(); active && active != besides)
        return active->screen();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget != besides && widget->isVisible() && qobject_cast<QMainWindow*>(widget))
            return widget->screen();
    }
    return QGuiApplication::primaryScreen();
}

} // namespace

void bringWindowForward(QWidget* window)
{
    if (!window)
        return;
    if (window->isMinimized())
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}

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
    delete m_helpAlert.data();
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
    // The platform's Quit keys, and Ctrl+Q where the platform names none (a plain X session).
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (!quitKeys.contains(QKeySequence(Qt::CTRL | Qt::Key_Q)))
        quitKeys.append(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcuts(quitKeys);
    // Quit works from every window of the application, the preferences and About included.
    quit->setShortcutContext(Qt::ApplicationShortcut);
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
    const bool made = !m_preferences;
    if (made)
        m_preferences = std::make_unique<PreferencesWindowController>(m_collaborators.panes);
    QMainWindow* window = m_preferences->window();
    // The window opens where the user works: on the main window's screen, whole.
    QScreen* screen = screenOfMainWindow(window);
    if (made || (!window->isVisible() && screen && window->screen() != screen))
        m_preferences->placeOnScreen(screen);
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
    const QPointer<AppDelegate> self(this);
    m_collaborators.help.openHelpAnchor(QString(), [self](const QString& page) {
        if (self)
            self->showHelpUnavailable(page);
    });
}

void AppDelegate::showHelpUnavailable(const QString& page)
{
    // Without a browser the Help command would do nothing at all: say so, and where the pages are.
    delete m_helpAlert.data();
    auto* alert = new QMessageBox(QMessageBox::Information, GeneralUI::text(QStringLiteral("HelpUnavailableTitle")),
                                  GeneralUI::text(QStringLiteral("HelpUnavailableMessage")), QMessageBox::Ok,
                                  QApplication::activeWindow());
    alert->setObjectName(QStringLiteral("HelpUnavailableAlert"));
    alert->setTextFormat(Qt::PlainText);
    alert->setInformativeText(GeneralUI::format(QStringLiteral("HelpUnavailableInformative"), {page}));
    alert->setTextInteractionFlags(Qt::TextSelectableByMouse);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    m_helpAlert = alert;
    alert->open();
}

void AppDelegate::updaterWillInstallUpdate()
{
    m_collaborators.wifi.quitHelperIfRunning();
}

} // namespace vornakel
