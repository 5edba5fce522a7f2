#pragma once

#include "ui/MainWindowViewController.h"

#include <QObject>
#include <QList>
#include <QAction>
#include <QPointer>
#include <QRect>

#include <functional>
#include <memory>

class QMainWindow;
class QPropertyAnimation;
class QToolBar;
class QWidget;

namespace vornakel {

class UserDefaults;
class WiFiNetworkPolicy;

// Owns the main window, which shows one content controller at a time: first the discovery screen, later the
// connected camera's view. Closing the window quits the application.
class MainWindowController : public QObject {
    Q_OBJECT
public:
    using QuitHandler = std::function<void()>;

    // `initialContent` (a QWidget that is a MainWindowViewController) is shown at start. `quit` defaults to
    // QCoreApplication::quit.
    MainWindowController(std::unique_ptr<QWidget> initialContent, WiFiNetworkPolicy& wifi, UserDefaults& defaults,
                         QuitHandler quit = {});
    ~MainWindowController() override;

    // The controller of the main window that shows `widget`; none when the widget is in another window (a
    // content controller uses this to switch the window it is in).
    static MainWindowController* forWidget(const QWidget* widget);

    QMainWindow* window() const { return m_window.get(); }
    // The content shown now, or nullptr (also while the window resizes for new content).
    QWidget* contentViewController() const { return m_content; }

    // Makes `content` the window's content and applies its toolbar, title, title bar, window buttons and size,
    // keeping the window's centre: the emptied window resizes (animated), then the content is installed. The
    // window owns its content; the content it replaces is deleted once control returns to the event loop, so
    // a content may ask for its own replacement from inside its own signal. Content that is not a
    // MainWindowViewController is refused (and deleted).
    void transition(std::unique_ptr<QWidget> content);
    // True while the window resizes towards content not yet installed.
    bool isTransitioning() const { return m_pendingContent != nullptr; }

    // How fast resizes animate: 1.0 is normal (0.2 s), 0 jumps (tests).
    void setAnimationSpeed(double speed) { m_animationSpeed = speed; }
    double animationSpeed() const { return m_animationSpeed; }

    bool isTitleVisible() const { return m_titleVisible; }
    bool titlebarAppearsTransparent() const { return m_titlebarTransparent; }
    bool hasWindowControls() const;

    static QString windowTitle();

protected:
    // Sets the window's frame (its client area); `then` runs once it is reached (at once unless animated).
    virtual void setWindowFrame(const QRect& frame, bool animate, std::function<void()> then = {});
    // Called when the window is about to close: applies the Wi-Fi rule, then quits.
    void windowWillClose();

    // Shows the initial content; called once by the constructor.
    void windowDidLoad();

private:
    class CloseWatcher;

    void setWindowControlsVisible(bool visible);
    void setTitleVisible(bool visible);
    void setTitlebarTransparent(bool transparent);
    void removeContent();
    void installContent(QRect newFrame);

    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<QWidget> m_initialContent;
    std::unique_ptr<QWidget> m_pendingContent;
    QPointer<QPropertyAnimation> m_resize;
    double m_animationSpeed = 1.0;
    WiFiNetworkPolicy& m_wifi;
    UserDefaults& m_defaults;
    QuitHandler m_quit;
    QPointer<QWidget> m_content;
    QPointer<QToolBar> m_toolbar;
    QList<QPointer<QAction>> m_contentMenuActions; // the content's menus in the menu bar
    bool m_titleVisible = false;
    bool m_titlebarTransparent = false;
};

} // namespace vornakel
