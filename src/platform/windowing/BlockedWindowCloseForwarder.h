#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <optional>

namespace vornakel {

// Under X11 a window manager asks a window to close (its title bar's close button, a task bar's "Close") with a
// WM_DELETE_WINDOW message. While a window-modal sheet is open on the window, Qt drops that request, so the
// window's own close rule (which asks before it stops a running copy) never hears of it. This filter hands such
// a request to the window's `close()` instead; every other message takes Qt's usual path.
class BlockedWindowCloseForwarder : public QObject, public QAbstractNativeEventFilter {
public:
    // The two atoms of the request: WM_PROTOCOLS (the message's type) and WM_DELETE_WINDOW (its first word).
    struct Atoms {
        uint32_t protocols = 0;
        uint32_t deleteWindow = 0;
    };

    // The request's atoms on the application's X11 display; none when it runs elsewhere.
    static std::optional<Atoms> x11Atoms();

    // Installs a forwarder for `window` on the application when it runs on X11 (none elsewhere); it goes with
    // the window.
    static BlockedWindowCloseForwarder* install(QWidget* window);

    BlockedWindowCloseForwarder(QWidget* window, Atoms atoms);
    ~BlockedWindowCloseForwarder() override;

    // The window an xcb event asks to close, when it is a WM_DELETE_WINDOW request; none for any other event.
    static std::optional<uint32_t> deleteRequestTarget(const void* xcbEvent, const Atoms& atoms);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    QPointer<QWidget> m_window;
    Atoms m_atoms;
};

} // namespace vornakel
