#include "mainwindow/MainWindowController.h"

#include "mainwindow/MainWindowGeometry.h"
#include "discovery/WiFiNetworkAutoLaunching.h"
#include "mainwindow/WiFiNetworkPolicy.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "ui/WindowDragging.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPropertyAnimation>
#include <QToolBar>
#include <QLoggingCategory>

namespace vornakel {
namespace {

Q_LOGGING_CATEGORY(lcMainWindow, "vornakel.mainwindow")
const char* const kControllerProperty = "vklMainWindowController";
} // namespace

// Turns the window's close event into windowWillClose.
class MainWindowController::CloseWatcher : public QObject {
public:
    explicit CloseWatcher(MainWindowController& owner) : QObject(owner.window()), m_owner(owner)
    {
        owner.window()->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_owner.window() || event->type() != QEvent::Close || !event->isAccepted())
            return false;
        if (m_owner.m_closeGuard && !m_owner.m_closeApproved) {
            QPointer<QMainWindow> window = m_owner.window();
            MainWindowController* owner = &m_owner;
            const bool held = m_owner.m_closeGuard([window, owner] {
                if (!window)
                    return;
                owner->m_closeApproved = true;
                window->close();
            });
            if (held) {
                event->ignore();
                return true;
            }
        }
        m_owner.windowWillClose();
        return false;
    }

private:
    MainWindowController& m_owner;
};

MainWindowController::MainWindowController(std::unique_ptr<QWidget> initialContent, WiFiNetworkPolicy& wifi,
                                           UserDefaults& defaults, QuitHandler quit)
    : m_window(std::make_unique<QMainWindow>()), m_initialContent(std::move(initialContent)), m_wifi(wifi),
      m_defaults(defaults), m_quit(quit ? std::move(quit) : [] { QCoreApplication::quit(); })
{
    m_window->setObjectName(QStringLiteral("MainWindow"));
    m_window->setProperty(kControllerProperty, QVariant::fromValue<QObject*>(this));
    m_window->setWindowTitle(windowTitle());
    m_window->setContextMenuPolicy(Qt::NoContextMenu);
    new CloseWatcher(*this);
    windowDidLoad();
}

MainWindowController::~MainWindowController()
{
    if (m_resize)
        m_resize->stop();
    m_pendingContent.reset();
    removeContent();
}

MainWindowController* MainWindowController::forWidget(const QWidget* widget)
{
    const QWidget* window = widget ? widget->window() : nullptr;
    return window ? qobject_cast<MainWindowController*>(window->property(kControllerProperty).value<QObject*>()) : nullptr;
}

QString MainWindowController::windowTitle()
{
    return GeneralUI::text(QStringLiteral("AppName"));
}

void MainWindowController::windowDidLoad()
{
    if (!dynamic_cast<MainWindowViewController*>(m_initialContent.get())) {
        qCCritical(lcMainWindow, "Eeek!");
        m_initialContent.reset();
        return;
    }
    makeMovableByBackground(m_window.get());
    // The first content appears at its size at once.
    const double speed = m_animationSpeed;
    m_animationSpeed = 0;
    transition(std::move(m_initialContent));
    m_animationSpeed = speed;
}

void MainWindowController::setWindowFrame(const QRect& frame, bool animate, std::function<void()> then)
{
    if (m_resize) {
        m_resize->stop();
        delete m_resize.data();
    }
    const int duration = animate && m_animationSpeed > 0 ? int(200 / m_animationSpeed) : 0;
    if (duration == 0 || !m_window->isVisible() || m_window->geometry() == frame) {
        m_window->setGeometry(frame);
        if (then)
            then();
        return;
    }
    auto* resize = new QPropertyAnimation(m_window.get(), "geometry", m_window.get());
    resize->setDuration(duration);
    resize->setStartValue(m_window->geometry());
    resize->setEndValue(frame);
    resize->setEasingCurve(QEasingCurve::InOutQuad);
    connect(resize, &QPropertyAnimation::finished, this, [resize, then = std::move(then)] {
        resize->deleteLater();
        if (then)
            then();
    });
    m_resize = resize;
    resize->start();
}

bool MainWindowController::hasWindowControls() const
{
    return m_window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint)
        && m_window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint);
}

void MainWindowController::setWindowControlsVisible(bool visible)
{
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (visible)
        flags |= Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint;
    if (m_window->windowFlags() == flags)
        return;
    // Changing the flags of a shown window hides it; show it again in the same place.
    const bool wasVisible = m_window->isVisible();
    const QRect geometry = m_window->geometry();
    m_window->setWindowFlags(flags);
    if (wasVisible) {
        m_window->setGeometry(geometry);
        m_window->show();
    }
}

void MainWindowController::setTitleVisible(bool visible)
{
    m_titleVisible = visible;
    m_window->setWindowTitle(visible ? windowTitle() : QString());
}

void MainWindowController::setTitlebarTransparent(bool transparent)
{
    m_titlebarTransparent = transparent;
    m_window->setUnifiedTitleAndToolBarOnMac(transparent);
}

void MainWindowController::removeContent()
{
    if (m_toolbar) {
        m_window->removeToolBar(m_toolbar);
        m_toolbar->setParent(m_content ? m_content.data() : nullptr);
        if (!m_content)
            delete m_toolbar.data();
    }
    m_toolbar = nullptr;
    for (const QPointer<QAction>& menuAction : std::as_const(m_contentMenuActions))
        if (menuAction)
            m_window->menuBar()->removeAction(menuAction);
    m_contentMenuActions.clear();
    if (m_content && m_window->centralWidget() == m_content) {
        QWidget* old = m_window->takeCentralWidget();
        old->hide();
        old->setParent(m_window.get());
        // Not now: the old content may be replacing itself from inside one of its own signals.
        old->deleteLater();
    }
    m_content = nullptr;
}

void MainWindowController::transition(std::unique_ptr<QWidget> content)
{
    auto* controller = dynamic_cast<MainWindowViewController*>(content.get());
    if (!controller)
        return;

    const QRect frame = m_window->geometry();
    const QSize size = controller->wantsInitialSize();
    const QRect newFrame = centeredFrame(QRectF(frame), QSizeF(size)).toRect();

    // Content still waiting for an earlier resize never gets shown.
    if (m_pendingContent)
        m_pendingContent.release()->deleteLater();
    // Empty the window first so the old content is never shown at the new size. The window buttons are set
    // once, below: changing a shown window's flags makes the window system map it again.
    removeContent();
    setTitleVisible(false);
    setTitlebarTransparent(true);
    content->hide();
    content->setParent(m_window.get());
    m_pendingContent = std::move(content);
    setWindowFrame(frame, false);
    setWindowFrame(newFrame, true, [this, newFrame] { installContent(newFrame); });
}

void MainWindowController::installContent(QRect newFrame)
{
    if (!m_pendingContent)
        return;
    QWidget* view = m_pendingContent.release();
    auto* controller = dynamic_cast<MainWindowViewController*>(view);
    const QSize size = controller->wantsInitialSize();
    if (QToolBar* toolbar = controller->toolbar()) {
        toolbar->setMovable(false);
        m_window->addToolBar(toolbar);
        toolbar->show();
        m_toolbar = toolbar;
    }
    // The content's menus go before the last menu of the bar (Help), which the application put there.
    QMenuBar* menuBar = m_window->menuBar();
    const QList<QAction*> barActions = menuBar->actions();
    QAction* before = barActions.isEmpty() ? nullptr : barActions.last();
    for (QMenu* menu : controller->menus()) {
        menuBar->insertMenu(before, menu);
        m_contentMenuActions << menu->menuAction();
    }
    setTitlebarTransparent(controller->wantsTransparentToolbar());
    setWindowControlsVisible(controller->wantsWindowControls());
    setTitleVisible(controller->wantsVisibleTitle());

    view->setGeometry(QRect(QPoint(0, 0), size));
    m_window->setCentralWidget(view);
    view->show();
    m_content = view;
    setWindowFrame(newFrame, false);
}

void MainWindowController::windowWillClose()
{
    if (auto* controller = dynamic_cast<MainWindowViewController*>(m_content.data())) {
        const std::shared_ptr<VKLCamera> camera = controller->connectedCamera();
        if (camera && m_wifi.isCurrentWiFiGateway(camera)
            && m_defaults.boolForKey(WiFiNetworkAutoLaunching::disconnectFromCameraNetworksOnExitUserDefaultsKey)) {
            // The window is gone at once; the application quits once the network has been left.
            m_wifi.disconnectFromCurrentWiFiNetwork(m_quit);
            return;
        }
    }
    m_quit();
}

} // namespace vornakel
