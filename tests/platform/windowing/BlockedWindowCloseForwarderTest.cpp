// A window manager's close request for a window under a sheet reaches the window's close rule; other messages,
// and requests Qt handles itself, are left alone.
#include "platform/windowing/BlockedWindowCloseForwarder.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace vornakel;
using namespace vornakel::test;

namespace {

constexpr BlockedWindowCloseForwarder::Atoms kAtoms{301, 302};

// A window that counts the close requests its close rule hears, and refuses them, as a window asking first does.
class GuardedWindow : public QWidget {
public:
    int closeRequests = 0;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        ++closeRequests;
        event->ignore();
    }
};

xcb_client_message_event_t clientMessage(uint32_t window, uint32_t type, uint32_t first, uint8_t format = 32)
{
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE | 0x80; // as sent by another client
    event.format = format;
    event.window = window;
    event.type = type;
    event.data.data32[0] = first;
    return event;
}

TEST(BlockedWindowCloseForwarderTest, OnlyADeleteRequestIsReadAsOne)
{
    const xcb_client_message_event_t request = clientMessage(77, kAtoms.protocols, kAtoms.deleteWindow);
    EXPECT_EQ(BlockedWindowCloseForwarder::deleteRequestTarget(&request, kAtoms), 77u);
    const struct {
        const char* name;
        xcb_client_message_event_t event;
    } others[] = {
        {"another protocol", clientMessage(77, kAtoms.protocols, 999)},
        {"another message type", clientMessage(77, 555, kAtoms.deleteWindow)},
        {"8-bit data", clientMessage(77, kAtoms.protocols, kAtoms.deleteWindow, 8)},
    };
    for (const auto& other : others)
        EXPECT_FALSE(BlockedWindowCloseForwarder::deleteRequestTarget(&other.event, kAtoms)) << other.name;
    xcb_generic_event_t expose;
    std::memset(&expose, 0, sizeof expose);
    expose.response_type = XCB_EXPOSE;
    EXPECT_FALSE(BlockedWindowCloseForwarder::deleteRequestTarget(&expose, kAtoms));
}

TEST(BlockedWindowCloseForwarderTest, ARequestForAWindowUnderASheetReachesItsCloseRule)
{
    GuardedWindow window;
    window.resize(400, 300);
    window.show();
    auto* forwarder = new BlockedWindowCloseForwarder(&window, kAtoms);
    const uint32_t id = uint32_t(window.winId());
    xcb_client_message_event_t request = clientMessage(id, kAtoms.protocols, kAtoms.deleteWindow);
    xcb_client_message_event_t elsewhere = clientMessage(id + 1, kAtoms.protocols, kAtoms.deleteWindow);

    // No sheet: Qt delivers the request itself.
    EXPECT_FALSE(forwarder->nativeEventFilter("xcb_generic_event_t", &request, nullptr));

    auto* sheet = new QDialog(&window);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->open();
    ASSERT_TRUE(runUntil([&] { return QApplication::activeModalWidget() == sheet; }));
    EXPECT_FALSE(forwarder->nativeEventFilter("xcb_generic_event_t", &elsewhere, nullptr)) << "another window";
    EXPECT_FALSE(forwarder->nativeEventFilter("windows_generic_MSG", &request, nullptr)) << "another platform";
    EXPECT_TRUE(forwarder->nativeEventFilter("xcb_generic_event_t", &request, nullptr));
    ASSERT_TRUE(runUntil([&] { return window.closeRequests == 1; }));
    EXPECT_TRUE(window.isVisible()) << "the close rule decides";
    delete sheet;
}

} // namespace
