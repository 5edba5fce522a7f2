#include "support/WindowManagerRequests.h"

#include "platform/windowing/BlockedWindowCloseForwarder.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstring>

namespace vornakel::test {

bool sendWindowManagerCloseRequest(QWidget* window)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || !window || !window->internalWinId())
        return false;
    const std::optional<BlockedWindowCloseForwarder::Atoms> atoms = BlockedWindowCloseForwarder::x11Atoms();
    if (!atoms)
        return false;
    const uint32_t protocols = atoms->protocols;
    const uint32_t deleteWindow = atoms->deleteWindow;
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = uint32_t(window->internalWinId());
    event.type = protocols;
    event.data.data32[0] = deleteWindow;
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
    return true;
}

} // namespace vornakel::test
