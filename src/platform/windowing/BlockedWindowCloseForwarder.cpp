#include "platform/windowing/BlockedWindowCloseForwarder.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace vornakel {
namespace {

xcb_connection_t* x11Connection()
{
    auto* app = qGuiApp;
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

uint32_t internAtom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const uint32_t atom = reply->atom;
    std::free(reply);
    return atom;
}

} // namespace

std::optional<BlockedWindowCloseForwarder::Atoms> BlockedWindowCloseForwarder::x11Atoms()
{
    xcb_connection_t* const connection = x11Connection();
    if (!connection)
        return std::nullopt;
    BlockedWindowCloseForwarder::Atoms atoms{internAtom(connection, "WM_PROTOCOLS"),
                                             internAtom(connection, "WM_DELETE_WINDOW")};
    if (atoms.protocols == XCB_ATOM_NONE || atoms.deleteWindow == XCB_ATOM_NONE)
        return std::nullopt;
    return atoms;
}

BlockedWindowCloseForwarder* BlockedWindowCloseForwarder::install(QWidget* window)
{
    const std::optional<Atoms> atoms = window ? x11Atoms() : std::nullopt;
    if (!atoms)
        return nullptr;
    return new BlockedWindowCloseForwarder(window, *atoms);
}

BlockedWindowCloseForwarder::BlockedWindowCloseForwarder(QWidget* window, Atoms atoms)
    : QObject(window), m_window(window), m_atoms(atoms)
{
    if (auto* app = QCoreApplication::instance())
        app->installNativeEventFilter(this);
}

BlockedWindowCloseForwarder::~BlockedWindowCloseForwarder()
{
    if (auto* app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
}

std::optional<uint32_t> BlockedWindowCloseForwarder::deleteRequestTarget(const void* xcbEvent, const Atoms& atoms)
{
    const auto* event = static_cast<const xcb_generic_event_t*>(xcbEvent);
    if (!event || (event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return std::nullopt;
    const auto* message = static_cast<const xcb_client_message_event_t*>(xcbEvent);
    if (message->format != 32 || message->type != atoms.protocols || message->data.data32[0] != atoms.deleteWindow)
        return std::nullopt;
    return message->window;
}

bool BlockedWindowCloseForwarder::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (!m_window || eventType != "xcb_generic_event_t")
        return false;
    const std::optional<uint32_t> target = deleteRequestTarget(message, m_atoms);
    if (!target || !m_window->internalWinId() || *target != uint32_t(m_window->internalWinId()))
        return false;
    // Only a request Qt would drop: one that arrives while a modal window other than this one is open.
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == m_window)
        return false;
    QPointer<QWidget> window = m_window;
    QMetaObject::invokeMethod(
        m_window, [window] { if (window) window->close(); }, Qt::QueuedConnection);
    return true;
}

} // namespace vornakel
