#include "mainwindow/MainWindowController.h"

#include "mainwindow/MainWindowGeometry.h"
#include "mainwindow/WiFiNetworkPolicy.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "ui/WindowDragging.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMainWindow>
#include <QToolBar>

namespace vornakel {
namespace {
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
        if (watched == m_owner.window() && event->type() == QEvent::Close && event->isAccepted())
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
    // The content and its toolbar belong to their controllers, not to the window that shows them.
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
    auto* controller = dynamic_cast<MainWindowViewController*>(m_initialContent.get());
    if (!controller) {
        qWarning("Eeek!");
        return;
    }
    makeMovableByBackground(m_window.get());
    transition(controller);
}

void MainWindowController::setWindowFrame(const QRect& frame, bool)
{
    m_window->setGeometry(frame);
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
    if (m_content && m_window->centralWidget() == m_content) {
        QWidget* old = m_window->takeCentralWidget();
        old->hide();
    }
    m_content = nullptr;
}

void MainWindowController::transition(MainWindowViewController* controller)
{
    auto* view = dynamic_cast<QWidget*>(controller);
    if (!view)
        return;

    const QRect frame = m_window->geometry();
    const QSize size = controller->wantsInitialSize();
    const QRect newFrame = centeredFrame(QRectF(frame), QSizeF(size)).toRect();

    // Empty the window first so the old content is never shown at the new size. The window buttons are set
    // once, below: changing a shown window's flags makes the window system map it again.
    removeContent();
    setTitleVisible(false);
    setTitlebarTransparent(true);
    setWindowFrame(frame, false);
    setWindowFrame(newFrame, true);

    if (QToolBar* toolbar = controller->toolbar()) {
        toolbar->setMovable(false);
        m_window->addToolBar(toolbar);
        toolbar->show();
        m_toolbar = toolbar;
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
            && m_defaults.boolForKey(disconnectFromCameraNetworksUserDefaultsKey())) {
            m_wifi.disconnectFromCurrentWiFiNetwork();
        }
    }
    m_quit();
}

} // namespace vornakel
