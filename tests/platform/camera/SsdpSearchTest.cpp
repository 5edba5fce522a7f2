// The SSDP search: what it sends, which answers it takes, and that a device that floods it or answers with
// oversized datagrams costs bounded work. The device is a UDP socket on 127.0.0.1 reached with `searchAt`.
#include "FakeSsdpDevice.h"

#include "platform/camera/ssdp/SsdpSearch.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace vornakel;
using namespace vornakel::test;
using vornakel::test::FakeSsdpDevice;
using vornakel::test::ssdpAnswer;
using namespace std::chrono_literals;

namespace {

struct Found {
    std::vector<SsdpReply> replies;
    bool finished = false;
};

Found searchOnce(SsdpSearch& search, const FakeSsdpDevice& device, const QStringList& targets, std::chrono::milliseconds duration = 1500ms)
{
    Found found;
    QObject::connect(&search, &SsdpSearch::replyReceived, [&](const SsdpReply& reply) { found.replies.push_back(reply); });
    QObject::connect(&search, &SsdpSearch::finished, [&] { found.finished = true; });
    search.searchAt(QHostAddress::LocalHost, device.port(), targets, duration);
    EXPECT_TRUE(runUntil([&] { return found.finished; }, 30s));
    search.disconnect();
    return found;
}

TEST(SsdpSearchTest, ParsesAnswersAndAnnouncementsAndRefusesEverythingElse)
{
    const struct {
        const char* name;
        QByteArray datagram;
        std::optional<int> status;
        QString st;
    } cases[] = {
        {"answer", ssdpAnswer(QStringLiteral("urn:microsoft-com:service:MtpNullService:1"), QStringLiteral("uuid:1::x")), 200,
         QStringLiteral("urn:microsoft-com:service:MtpNullService:1")},
        {"lower-case names, bare newlines", "HTTP/1.1 200 OK\nst: upnp:rootdevice\nusn: uuid:2\n\n", 200, QStringLiteral("upnp:rootdevice")},
        {"announcement", "NOTIFY * HTTP/1.1\r\nNT: urn:x:service:Y:1\r\nNTS: ssdp:alive\r\nUSN: uuid:3\r\n\r\n", 0, QStringLiteral("urn:x:service:Y:1")},
        {"another computer's search", SsdpSearch::searchRequest(QStringLiteral("ssdp:all"), 2), std::nullopt, {}},
        {"no status code", "HTTP/1.1 OK\r\nST: a\r\n\r\n", std::nullopt, {}},
        {"neither ST nor USN", "HTTP/1.1 200 OK\r\nLOCATION: http://x/\r\n\r\n", std::nullopt, {}},
        {"not SSDP", "\x01\x02garbage", std::nullopt, {}},
        {"empty", QByteArray(), std::nullopt, {}},
        {"too many header lines", "HTTP/1.1 200 OK\r\nST: a\r\n" + QByteArray("X: y\r\n").repeated(SsdpSearch::kMaxHeaderLines) + "\r\n",
         std::nullopt, {}},
        {"over the size bound", "HTTP/1.1 200 OK\r\nST: a\r\nSERVER: " + QByteArray(SsdpSearch::kMaxDatagramBytes, 'x') + "\r\n\r\n",
         std::nullopt, {}},
    };
    for (const auto& each : cases) {
        const auto reply = SsdpSearch::parse(each.datagram);
        ASSERT_EQ(reply.has_value(), each.status.has_value()) << each.name;
        if (!reply)
            continue;
        EXPECT_EQ(reply->status, *each.status) << each.name;
        EXPECT_EQ(reply->searchTarget, each.st) << each.name;
    }
    const auto full = SsdpSearch::parse(ssdpAnswer(QStringLiteral("st:1"), QStringLiteral("uuid:9::st:1"), QStringLiteral("http://10.0.0.5:1900/d.xml")));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->location, QStringLiteral("http://10.0.0.5:1900/d.xml"));
    EXPECT_EQ(full->uniqueServiceName, QStringLiteral("uuid:9::st:1"));
    EXPECT_EQ(full->server, QStringLiteral("Camera OS/1.0 UPnP/1.0 Test/1.0"));
    EXPECT_TRUE(full->alive);
    const auto bye = SsdpSearch::parse("NOTIFY * HTTP/1.1\r\nNT: a\r\nNTS: ssdp:byebye\r\nUSN: uuid:4\r\n\r\n");
    ASSERT_TRUE(bye);
    EXPECT_FALSE(bye->alive);
}

TEST(SsdpSearchTest, SearchesForEachTargetAndReportsADeviceOnceWhateverItRepeats)
{
    FakeSsdpDevice device([](const QByteArray& request) -> QList<QByteArray> {
        if (!request.contains("ST: urn:microsoft-com:service:MtpNullService:1"))
            return {};
        const QByteArray reply = ssdpAnswer(QStringLiteral("urn:microsoft-com:service:MtpNullService:1"), QStringLiteral("uuid:cam::mtp"));
        return {reply, reply, "HTTP/1.1 404 Not Found\r\nST: x\r\n\r\n"};
    });
    SsdpSearch search;
    const Found found = searchOnce(search, device, {QStringLiteral("urn:microsoft-com:service:MtpNullService:1"), QStringLiteral("upnp:rootdevice")});
    EXPECT_TRUE(found.finished);
    ASSERT_EQ(found.replies.size(), 1u);
    EXPECT_EQ(found.replies[0].sender, QHostAddress(QHostAddress::LocalHost));
    EXPECT_EQ(found.replies[0].uniqueServiceName, QStringLiteral("uuid:cam::mtp"));
    // Every target, each sent again once in case the first was lost; the request is well formed.
    EXPECT_EQ(device.requests.size(), 4);
    for (const QByteArray& request : device.requests) {
        EXPECT_TRUE(request.startsWith("M-SEARCH * HTTP/1.1\r\n")) << request.toStdString();
        EXPECT_TRUE(request.contains("MAN: \"ssdp:discover\"\r\n"));
        EXPECT_TRUE(request.contains("MX: 1\r\n"));
        EXPECT_TRUE(request.endsWith("\r\n\r\n"));
    }
    EXPECT_GE(search.droppedDatagrams(), 1) << "the 404 is no answer";
    EXPECT_FALSE(search.isSearching());
}

TEST(SsdpSearchTest, AFloodAndOversizedDatagramsAreDroppedAndTheSearchStillEnds)
{
    FakeSsdpDevice device([](const QByteArray&) {
        QList<QByteArray> replies;
        replies.push_back("HTTP/1.1 200 OK\r\nST: a\r\nSERVER: " + QByteArray(60000, 'x') + "\r\n\r\n");
        for (int i = 0; i < SsdpSearch::kMaxReplies + 200; ++i)
            replies.push_back(ssdpAnswer(QStringLiteral("st"), QStringLiteral("uuid:%1").arg(i)));
        return replies;
    });
    SsdpSearch search;
    const Found found = searchOnce(search, device, {QStringLiteral("ssdp:all")});
    EXPECT_TRUE(found.finished);
    EXPECT_LE(found.replies.size(), size_t(SsdpSearch::kMaxReplies));
    EXPECT_GT(found.replies.size(), 0u);
    EXPECT_GT(search.droppedDatagrams(), 0);
    for (const SsdpReply& reply : found.replies)
        EXPECT_LT(reply.server.size(), SsdpSearch::kMaxDatagramBytes);
}

TEST(SsdpSearchTest, StoppingEndsTheSearchWithoutFinishingIt)
{
    FakeSsdpDevice device([](const QByteArray&) { return QList<QByteArray>{}; });
    SsdpSearch search;
    bool finished = false;
    QObject::connect(&search, &SsdpSearch::finished, [&] { finished = true; });
    search.searchAt(QHostAddress::LocalHost, device.port(), {QStringLiteral("ssdp:all")}, 200ms);
    EXPECT_TRUE(search.isSearching());
    search.stop();
    runFor(400ms);
    EXPECT_FALSE(finished);
    EXPECT_FALSE(search.isSearching());
}

} // namespace
