#pragma once

#include "ui/MainWindowViewController.h"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <functional>
#include <memory>

class QMainWindow;
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

    // `initialContent` (a QWidget that is a MainWindowViewController) is shown at start and kept for the
    // controller's life. `quit` defaults to QCoreApplication::quit.
    MainWindowController(std::unique_ptr<QWidget> initialContent, WiFiNetworkPolicy& wifi, UserDefaults& defaults,
                         QuitHandler quit = {});
    ~MainWindowController() override;

    // The controller of the main window that shows `widget`; none when the widget is in another window (a
    // content controller uses this to switch the window it is in).
    static MainWindowController* forWidget(const QWidget* widget);

    QMainWindow* window() const { return m_window.get(); }
    QWidget* initialContent() const { return m_initialContent.get(); }
    // The content shown now, or nullptr.
    QWidget* contentViewController() const { return m_content; }

    // Makes `controller` the window's content and applies its toolbar, title, title bar, window buttons and
    // size, keeping the window's centre. Does nothing when `controller` is not a QWidget. Ownership of the
    // controller stays with the caller.
    void transition(MainWindowViewController* controller);

    bool isTitleVisible() const { return m_titleVisible; }
    bool titlebarAppearsTransparent() const { return m_titlebarTransparent; }
    bool hasWindowControls() const;

    static QString windowTitle();

protected:
    // Sets the window's frame (its client area); an animated change may be shown as such by the window system.
    virtual void setWindowFrame(const QRect& frame, bool animate);
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

    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<QWidget> m_initialContent;
    WiFiNetworkPolicy& m_wifi;
    UserDefaults& m_defaults;
    QuitHandler m_quit;
    QPointer<QWidget> m_content;
    QPointer<QToolBar> m_toolbar;
    bool m_titleVisible = false;
    bool m_titlebarTransparent = false;
};

} // namespace vornakel
