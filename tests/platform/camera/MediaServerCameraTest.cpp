// The media-server camera (Sony's and Panasonic's Wi-Fi modes) against the UPnP test camera on 127.0.0.1: paging,
// hostile listings, lying counts and sizes, a camera that drops or freezes, and the Sony discovery.
#include "CameraTestSupport.h"

#include "platform/camera/VKLCamera.h"
#include "platform/camera/sony/SonyCameraDiscovery.h"
#include "platform/camera/upnp/MediaServerCamera.h"
#include "platform/core/SafePathComponent.h"
#include "support/TestSupport.h"
#include "upnp-camera/UpnpResponder.h"

#include <QFileInfo>
#include <QXmlStreamWriter>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using namespace std::chrono_literals;
using test::runUntil;

// An in-memory card: `folders` folders of `perFolder` files each under DCIM.
SimulatedCameraContent card(int folders, int perFolder, uint64_t fileSize = 1000)
{
    SimulatedCameraContent content;
    SimulatedCameraContent::Folder dcim;
    dcim.name = QStringLiteral("DCIM");
    for (int f = 0; f < folders; ++f) {
        SimulatedCameraContent::Folder folder;
        folder.name = QStringLiteral("%1MSDCF").arg(100 + f);
        for (int i = 0; i < perFolder; ++i)
            folder.files.push_back({QStringLiteral("DSC%1.JPG").arg(f * perFolder + i, 5, 10, QLatin1Char('0')), fileSize,
                                    QDateTime(QDate(2026, 3, 1), QTime(9, 0)).addSecs(i), {}});
        dcim.folders.push_back(folder);
    }
    content.root.folders.push_back(dcim);
    return content;
}

struct Setup {
    std::unique_ptr<tools::UpnpResponder> responder;
    std::shared_ptr<MediaServerCamera> camera;
    std::shared_ptr<VKLFileSystemFolderItem> root;
};

Setup start(std::unique_ptr<tools::UpnpResponder> responder, upnp::ContentDirectoryOptions contentDirectory = {})
{
    Setup setup;
    setup.responder = std::move(responder);
    EXPECT_TRUE(setup.responder->listen());
    MediaServerCameraOptions options;
    options.descriptionUrl = QUrl(setup.responder->descriptionUrl());
    options.contentDirectory = contentDirectory;
    setup.camera = MediaServerCamera::create(options);
    setup.root = test::openStorage(*setup.camera);
    return setup;
}

// One SOAP Browse reply whose Result is `didl`, with the counts given.
QByteArray browseReply(const QString& didl, quint32 returned, quint32 total)
{
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("Envelope"));
    writer.writeStartElement(QStringLiteral("Body"));
    writer.writeStartElement(QStringLiteral("BrowseResponse"));
    writer.writeTextElement(QStringLiteral("Result"), didl);
    writer.writeTextElement(QStringLiteral("NumberReturned"), QString::number(returned));
    writer.writeTextElement(QStringLiteral("TotalMatches"), QString::number(total));
    writer.writeEndDocument();
    return xml;
}

QString items(int from, int count, const QString& base)
{
    QString didl = QStringLiteral("<DIDL-Lite xmlns:dc=\"http://purl.org/dc/elements/1.1/\">");
    for (int i = from; i < from + count; ++i) {
        didl += QStringLiteral("<item id=\"i%1\"><dc:title>F%1.JPG</dc:title><res protocolInfo=\"http-get:*:image/jpeg:*\" "
                               "size=\"10\">%2/res/%1/orig</res></item>").arg(i).arg(base);
    }
    return didl + QStringLiteral("</DIDL-Lite>");
}

std::vector<VKLFileSystemItem::ItemPtr> listed(const std::shared_ptr<VKLFileSystemFolderItem>& folder)
{
    return folder->children().value_or(std::vector<VKLFileSystemItem::ItemPtr>{});
}

TEST(MediaServerCamera, WalksEveryPageWhenTheCameraAnswersFewerThanAsked)
{
    tools::UpnpResponderOptions options;
    options.maxPageSize = 70; // cameras cap a page below what was asked for
    auto setup = start(std::make_unique<tools::UpnpResponder>(card(2, 450), options));
    ASSERT_TRUE(setup.root);
    const auto files = test::walkFiles(setup.root);
    ASSERT_EQ(files.size(), 900u);
    EXPECT_EQ(files.front()->name(), QStringLiteral("DSC00000.JPG"));
    EXPECT_EQ(files.back()->name(), QStringLiteral("DSC00899.JPG"));
    EXPECT_EQ(files.back()->size(), 1000u);
    EXPECT_EQ(files.back()->dateCreated(), QDateTime(QDate(2026, 3, 1), QTime(9, 0)).addSecs(449));
    // Root and DCIM one page each, then 450 / 70 → 7 pages per folder.
    EXPECT_EQ(setup.responder->browseCount(), 2 + 2 * 7);
}

TEST(MediaServerCamera, LyingCountsEndTheListingOrFailItWithinBounds)
{
    struct Case {
        const char* what;
        // (request's starting index) → the reply
        std::function<QByteArray(quint32 start, const QString& base)> reply;
        std::optional<int> error;
        size_t children;
        int maxBrowses;
    };
    const Case cases[] = {
        {"TotalMatches far beyond the entries", [](quint32 start, const QString& base) {
             return start == 0 ? browseReply(items(0, 3, base), 3, 4294967295u) : browseReply(items(0, 0, base), 0, 4294967295u);
         }, std::nullopt, 3, 2},
        {"NumberReturned larger than the entries", [](quint32 start, const QString& base) {
             return browseReply(items(int(start), start == 0 ? 5 : 0, base), 200, 5);
         }, std::nullopt, 5, 1},
        {"the same full page for ever, TotalMatches unknown", [](quint32, const QString& base) {
             return browseReply(items(0, 200, base), 200, 0);
         }, VKLErrorListingFailed, 0, 6},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        upnp::ContentDirectoryOptions limits;
        limits.maxChildren = 1000;
        auto setup = start(std::make_unique<tools::UpnpResponder>(card(1, 1), tools::UpnpResponderOptions{}), limits);
        ASSERT_TRUE(setup.root);
        const QString base = QUrl(setup.responder->descriptionUrl()).adjusted(QUrl::RemovePath).toString();
        setup.responder->setBrowseOverride([&](const upnp::BrowseRequest& request) -> std::optional<QByteArray> {
            return each.reply(request.startingIndex, base);
        });
        const auto error = test::awaitError([&](auto done) { setup.root->loadChildren(done); });
        EXPECT_EQ(error ? std::optional<int>(error->code) : std::nullopt, each.error);
        if (!each.error) {
            EXPECT_EQ(listed(setup.root).size(), each.children);
        }
        EXPECT_LE(setup.responder->browseCount(), each.maxBrowses);
    }
}

TEST(MediaServerCamera, HostileListingsFailTheWalkWithAReason)
{
    QString deep;
    for (int i = 0; i < 200; ++i)
        deep += QStringLiteral("<x>");
    struct Case {
        const char* what;
        QByteArray reply;
        const char* reason;
    };
    const Case cases[] = {
        {"entities in the listing",
         browseReply(QStringLiteral("<!DOCTYPE DIDL-Lite [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]><DIDL-Lite><item id=\"1\"><title>&b;</title></item></DIDL-Lite>"), 1, 1),
         "document type"},
        {"an external reference",
         browseReply(QStringLiteral("<!DOCTYPE DIDL-Lite SYSTEM \"http://203.0.113.9/x.dtd\"><DIDL-Lite/>"), 0, 0), "document type"},
        {"entities in the SOAP reply",
         "<!DOCTYPE Envelope [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><Envelope><Body><Result>&x;</Result></Body></Envelope>",
         "document type"},
        {"deep nesting", browseReply(QStringLiteral("<DIDL-Lite><item id=\"1\">") + deep, 1, 1), "nested deeper"},
        {"not XML at all", "\x89PNG\r\n\x1a\n", ""},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        auto setup = start(std::make_unique<tools::UpnpResponder>(card(1, 1), tools::UpnpResponderOptions{}));
        ASSERT_TRUE(setup.root);
        setup.responder->setBrowseOverride([&](const upnp::BrowseRequest&) -> std::optional<QByteArray> { return each.reply; });
        const auto error = test::awaitError([&](auto done) { setup.root->loadChildren(done); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, VKLErrorListingFailed);
        EXPECT_TRUE(error->message.contains(QLatin1String(each.reason))) << error->message.toStdString();
        EXPECT_EQ(setup.camera->connectionState(), 2u) << "a bad listing is not a lost camera";
    }
}

TEST(MediaServerCamera, AReplyWithoutAnEndIsCutAtItsBound)
{
    tools::UpnpResponderOptions options;
    options.endlessBrowse = true; // 100 MB and more, never closed
    auto setup = start(std::make_unique<tools::UpnpResponder>(card(1, 1), options));
    ASSERT_TRUE(setup.root);
    const auto error = test::awaitError([&](auto done) { setup.root->loadChildren(done); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, VKLErrorListingFailed);
    EXPECT_TRUE(error->message.contains(QLatin1String("larger than"))) << error->message.toStdString();
    EXPECT_LT(setup.responder->bodyBytesSent(), 32 * 1024 * 1024) << "the client stopped reading at its bound";
}

TEST(MediaServerCamera, CameraNamesPassThePathGate)
{
    const QStringList titles = {QStringLiteral("../../.bashrc"), QStringLiteral("a\tb\x7F.JPG"), QStringLiteral("<b>bold</b>.JPG"),
                                QStringLiteral(".."), QStringLiteral("/etc/passwd"), QString(QChar(0x2028)) + QStringLiteral("x.JPG")};
    auto setup = start(std::make_unique<tools::UpnpResponder>(card(1, 1), tools::UpnpResponderOptions{}));
    ASSERT_TRUE(setup.root);
    setup.responder->setBrowseOverride([&](const upnp::BrowseRequest&) -> std::optional<QByteArray> {
        QString didl;
        QXmlStreamWriter writer(&didl);
        writer.writeStartElement(QStringLiteral("DIDL-Lite"));
        for (int i = 0; i < titles.size(); ++i) {
            writer.writeStartElement(QStringLiteral("item"));
            writer.writeAttribute(QStringLiteral("id"), QString::number(i));
            writer.writeTextElement(QStringLiteral("dc:title"), titles[i]);
            writer.writeStartElement(QStringLiteral("res"));
            writer.writeAttribute(QStringLiteral("protocolInfo"), QStringLiteral("http-get:*:image/jpeg:*"));
            writer.writeCharacters(QStringLiteral("/res/1/orig"));
            writer.writeEndElement();
            writer.writeEndElement();
        }
        writer.writeEndElement();
        return browseReply(didl, quint32(titles.size()), quint32(titles.size()));
    });
    ASSERT_EQ(test::awaitError([&](auto done) { setup.root->loadChildren(done); }), std::nullopt);
    const auto children = listed(setup.root);
    ASSERT_EQ(children.size(), size_t(titles.size()));
    for (int i = 0; i < titles.size(); ++i) {
        SCOPED_TRACE(titles[i].toStdString());
        const QString name = children[i]->name().value_or(QString());
        EXPECT_FALSE(name.isEmpty());
        EXPECT_EQ(safePathComponent(name), name) << "already through the gate";
        EXPECT_FALSE(name.contains(QLatin1Char('/')));
        EXPECT_NE(name, QStringLiteral(".."));
        EXPECT_TRUE(std::none_of(name.begin(), name.end(), [](QChar c) { return c.category() == QChar::Other_Control; }));
    }
    EXPECT_EQ(children[0]->name(), QStringLiteral("..\u2215..\u2215.bashrc"));
    EXPECT_EQ(children[2]->name(), QStringLiteral("<b>bold<\u2215b>.JPG")) << "markup stays text";
}

TEST(MediaServerCamera, AFileWhoseLengthDiffersFromTheListingFails)
{
    struct Case {
        const char* what;
        tools::UpnpResponderOptions options;
    };
    const Case cases[] = {
        {"the GET ends early", {.streamShortByBytes = 1000}},
        {"the listing claims more", {.listedSizeDelta = 100}},
        {"the listing claims less", {.listedSizeDelta = -100}},
        {"the connection breaks mid-file", {.streamErrorAfterBytes = 5000}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        auto setup = start(std::make_unique<tools::UpnpResponder>(card(1, 2, 300 * 1024), each.options));
        ASSERT_TRUE(setup.root);
        const auto files = test::walkFiles(setup.root);
        ASSERT_EQ(files.size(), 2u);
        const auto copy = test::streamFile(files.front(), DispatchQueue::createSerial(QStringLiteral("test.stream")));
        ASSERT_TRUE(copy.error);
        EXPECT_EQ(copy.error->code, VKLErrorReadFailed) << copy.error->description().toStdString();
        EXPECT_EQ(copy.completions, 1);
        EXPECT_EQ(setup.camera->connectionState(), 2u) << "the camera still answers";
    }
}

TEST(MediaServerCamera, MetadataComesFromABoundedReadOfTheFileStartAndAsksNothingOfARefusingCamera)
{
    enum class Camera { honoursRange, ignoresRange, refusesRange, resetsTheOriginal };
    struct Case {
        const char* what;
        Camera camera;
        bool facts; // orientation and shooting settings as the file's EXIF has them; none when the camera refused
    };
    const Case cases[] = {
        {"a camera that honours the range", Camera::honoursRange, true},
        {"a camera that sends the whole file", Camera::ignoresRange, true},
        {"a camera that answers the range with an error", Camera::refusesRange, false},
        {"a camera that resets the original's connection", Camera::resetsTheOriginal, false},
    };
    const auto& sample = test::sampleCamera();
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        tools::UpnpResponderOptions options;
        options.honoursRange = each.camera != Camera::ignoresRange;
        if (each.camera == Camera::resetsTheOriginal)
            options.streamErrorAfterBytes = 0;
        auto responder = std::make_unique<tools::UpnpResponder>(test::sampleCameraFolder(), options);
        if (each.camera == Camera::refusesRange) {
            responder->addHandler([](const tools::HttpRequest& request) -> std::optional<tools::HttpReply> {
                if (!request.headers.contains("range"))
                    return std::nullopt;
                return tools::HttpReply{500, "text/html", QByteArray(200 * 1024, 'x'), {}};
            });
        }
        auto setup = start(std::move(responder));
        ASSERT_TRUE(setup.root);
        const auto files = test::walkFiles(setup.root);
        ASSERT_EQ(files.size(), size_t(sample.files.size()));
        const qint64 sentBefore = setup.responder->bodyBytesSent();
        for (const tools::SampleShot& shot : sample.shots) {
            SCOPED_TRACE(shot.jpegPath.toStdString());
            const auto item = test::findFile(files, QFileInfo(shot.jpegPath).fileName());
            ASSERT_TRUE(item);
            EXPECT_FALSE(item->metadataLoaded());
            EXPECT_EQ(test::awaitError([&](auto done) { item->loadMetadata(done); }), std::nullopt) << "the walk goes on";
            EXPECT_TRUE(item->metadataLoaded());
            EXPECT_TRUE(item->dateCreated()) << "the listing's date stays";
            if (each.facts) {
                EXPECT_EQ(item->orientation(), shot.orientation);
                ASSERT_TRUE(item->shootingData());
                EXPECT_EQ(item->shootingData()->iso, shot.iso);
            } else {
                EXPECT_EQ(item->orientation(), std::nullopt);
                EXPECT_EQ(item->shootingData(), std::nullopt);
            }
        }
        if (each.camera == Camera::honoursRange) {
            EXPECT_LE(setup.responder->bodyBytesSent() - sentBefore, qint64(sample.shots.size()) * 72 * 1024)
                << "only the start of each file was sent";
        }
        EXPECT_EQ(setup.camera->connectionState(), 2u) << "the camera still answers";
    }
}

TEST(MediaServerCamera, AStopFromTheChunkBlockEndsTheStreamAsCancelledAndTheCameraGoesOn)
{
    auto setup = start(std::make_unique<tools::UpnpResponder>(card(1, 2, 8 * 1024 * 1024), tools::UpnpResponderOptions{}));
    ASSERT_TRUE(setup.root);
    const auto files = test::walkFiles(setup.root);
    ASSERT_EQ(files.size(), 2u);
    const auto stopped = test::streamFile(files.front(), DispatchQueue::createSerial(QStringLiteral("test.stream")), 1);
    ASSERT_TRUE(stopped.error);
    EXPECT_EQ(stopped.error->code, VKLErrorCancelled);
    EXPECT_EQ(stopped.completions, 1);
    EXPECT_LT(stopped.data.size(), 8 * 1024 * 1024);
    const auto whole = test::streamFile(files.back());
    EXPECT_EQ(whole.error, std::nullopt);
    EXPECT_EQ(whole.data.size(), 8 * 1024 * 1024);
}

TEST(MediaServerCamera, ACameraDroppingMidWalkEndsTheWalkOnAnErrorAndTheConnection)
{
    tools::UpnpResponderOptions options;
    options.latencyMs = 20;
    auto setup = start(std::make_unique<tools::UpnpResponder>(card(3, 50), options));
    ASSERT_TRUE(setup.root);
    ASSERT_EQ(test::awaitError([&](auto done) { setup.root->loadChildren(done); }), std::nullopt);
    const auto dcim = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(listed(setup.root).at(0));
    ASSERT_TRUE(dcim);
    std::optional<std::optional<Error>> walked;
    const int before = setup.responder->requestCount();
    dcim->loadChildren([&](std::optional<Error> error) { walked = error; });
    ASSERT_TRUE(runUntil([&] { return setup.responder->requestCount() > before; }));
    setup.responder->dropConnections(); // while the Browse waits for its reply
    ASSERT_TRUE(runUntil([&] { return walked.has_value(); }));
    ASSERT_TRUE(walked->has_value());
    EXPECT_EQ((*walked)->code, VKLErrorConnectionLost);
    EXPECT_TRUE(runUntil([&] { return setup.camera->connectionState() == 0; }));
}

// A media-server camera whose polls the test answers.
class HeldPollCamera final : public MediaServerCamera {
public:
    static std::shared_ptr<HeldPollCamera> create(MediaServerCameraOptions options)
    {
        return std::shared_ptr<HeldPollCamera>(new HeldPollCamera(std::move(options)));
    }
    std::vector<std::function<void(bool)>> polls;

protected:
    using MediaServerCamera::MediaServerCamera;
    void poll(std::function<void(bool)> done) override { polls.push_back(std::move(done)); }
};

TEST(MediaServerCamera, ARequestThatBreaksWhileAPollIsUnderWayWaitsForTheNextPoll)
{
    tools::UpnpResponderOptions responderOptions;
    responderOptions.streamStallAfterBytes = 100;
    tools::UpnpResponder responder(card(1, 1, 100000), responderOptions);
    ASSERT_TRUE(responder.listen());
    MediaServerCameraOptions options;
    options.descriptionUrl = QUrl(responder.descriptionUrl());
    options.pollInterval = 20ms;
    const auto camera = HeldPollCamera::create(options);
    const auto root = test::openStorage(*camera);
    ASSERT_TRUE(root);
    const auto files = test::walkFiles(root);
    ASSERT_EQ(files.size(), 1u);
    ASSERT_TRUE(runUntil([&] { return camera->polls.size() == 1; })) << "a poll is under way";

    std::optional<std::optional<Error>> streamed;
    const int before = responder.requestCount();
    files.front()->streamItem({}, {}, [](const auto&, const QByteArray&, const auto&) { return 0; }, {},
                              [&](const auto&, std::optional<Error> error, const auto&) { streamed = error; }, {});
    ASSERT_TRUE(runUntil([&] { return responder.requestCount() > before; }));
    responder.dropConnections();
    // Time for the broken stream to ask whether the camera is there; it is left waiting either way.
    test::runFor(300ms);
    EXPECT_FALSE(streamed.has_value());
    // The poll under way had its answer from before the drop: it cannot speak for the stream's break.
    camera->polls.front()(true);
    ASSERT_TRUE(runUntil([&] { return camera->polls.size() == 2 || streamed.has_value(); }));
    EXPECT_FALSE(streamed.has_value()) << "ended with " << (streamed && *streamed ? (*streamed)->code : 0);
    ASSERT_EQ(camera->polls.size(), 2u);
    camera->polls.back()(false);
    ASSERT_TRUE(runUntil([&] { return streamed.has_value(); }));
    ASSERT_TRUE(streamed->has_value());
    EXPECT_EQ((*streamed)->code, VKLErrorConnectionLost);
    EXPECT_EQ(camera->connectionState(), 0u);
}

TEST(MediaServerCamera, AFrozenCameraBlocksNothingAndDisconnectEndsTheWait)
{
    auto setup = start(std::make_unique<tools::UpnpResponder>(card(1, 3), tools::UpnpResponderOptions{}));
    ASSERT_TRUE(setup.root);
    const auto files = test::walkFiles(setup.root);
    ASSERT_EQ(files.size(), 3u);
    setup.responder->setFrozen(true);
    const int before = setup.responder->requestCount();
    std::optional<std::optional<Error>> listedResult;
    std::optional<std::optional<Error>> streamed;
    // Each call returns at once; nothing answers while the camera is frozen.
    setup.root->loadChildren([&](std::optional<Error> error) { listedResult = error; });
    files.front()->streamItem({}, {}, [](const auto&, const QByteArray&, const auto&) { return 0; }, {},
                              [&](const auto&, std::optional<Error> error, const auto&) { streamed = error; }, {});
    ASSERT_TRUE(runUntil([&] { return setup.responder->requestCount() >= before + 2; })) << "both requests went out";
    EXPECT_FALSE(listedResult.has_value());
    EXPECT_FALSE(streamed.has_value());
    setup.camera->disconnect({}, {});
    ASSERT_TRUE(runUntil([&] { return listedResult.has_value() && streamed.has_value(); }));
    EXPECT_TRUE(listedResult->has_value());
    EXPECT_TRUE(streamed->has_value());
    EXPECT_EQ(setup.camera->connectionState(), 0u);
}

TEST(SonyCameraDiscovery, FindsASonyMediaServerOnTheGatewayAndAnyListedMediaServer)
{
    tools::UpnpResponderOptions sonyOptions;
    sonyOptions.friendlyName = QStringLiteral("ILCE Test");
    tools::UpnpResponder sony(card(1, 1), sonyOptions);
    ASSERT_TRUE(sony.listen());
    tools::UpnpResponderOptions otherOptions;
    otherOptions.manufacturer = QStringLiteral("Someone Else");
    otherOptions.descriptionPath = QStringLiteral("/DmsDesc.xml");
    tools::UpnpResponder other(card(1, 1), otherOptions);
    ASSERT_TRUE(other.listen());

    struct Case {
        const char* what;
        QByteArray gatewayPorts;
        QByteArray listed;
        std::optional<QString> found;
    };
    const QByteArray sonyPort = QByteArray::number(sony.port());
    const QByteArray otherPort = QByteArray::number(other.port());
    const Case cases[] = {
        {"Sony on the gateway", "sony=" + sonyPort, "", QStringLiteral("ILCE Test")},
        {"another maker on the gateway", "sony=" + otherPort, "", std::nullopt},
        {"another maker listed as upnp://", "sony=1", "upnp://127.0.0.1:" + otherPort, QStringLiteral("UPnP Test Camera")},
    };
    VKLNetworkConfigurationHelper::setGatewayResolver([](const QString&) { return QStringLiteral("127.0.0.1"); },
                                                     QStringLiteral("wltest0"));
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        qputenv("VORNAKEL_GATEWAY_PORTS", each.gatewayPorts);
        qputenv("VORNAKEL_CAMERA_ADDRESSES", each.listed);
        SonyCameraDiscovery discovery;
        discovery.setProbeInterval(100ms);
        discovery.beginSearching();
        if (each.found) {
            ASSERT_TRUE(runUntil([&] { return !discovery.cameras().empty(); }));
            EXPECT_EQ(discovery.cameras().front()->friendlyDisplayName(), each.found);
            EXPECT_EQ(test::connectCamera(*discovery.cameras().front()), std::nullopt);
        } else {
            // Two rounds of probes went out, so the first round's answers were weighed.
            const int before = other.requestCount();
            ASSERT_TRUE(runUntil([&] { return other.requestCount() >= before + 3; }));
            EXPECT_TRUE(discovery.cameras().empty());
        }
    }
    VKLNetworkConfigurationHelper::setGatewayResolver({});
    qunsetenv("VORNAKEL_GATEWAY_PORTS");
    qunsetenv("VORNAKEL_CAMERA_ADDRESSES");
}

} // namespace
} // namespace vornakel

namespace vornakel {
namespace {

TEST(SonyCameraDiscovery, FindsACameraThatAnswersAnSsdpSearch)
{
    tools::UpnpResponderOptions options;
    options.friendlyName = QStringLiteral("ILCE over SSDP");
    options.descriptionPath = QStringLiteral("/somewhere/else.xml"); // only the answer's LOCATION leads there
    tools::UpnpResponder sony(card(1, 2), options);
    ASSERT_TRUE(sony.listen());
    ASSERT_TRUE(sony.answerSearches());
    SonyCameraDiscovery discovery;
    discovery.setProbeInterval(200ms);
    discovery.setSearchAddress(QHostAddress::LocalHost, sony.searchPort());
    discovery.beginSearching();
    ASSERT_TRUE(runUntil([&] { return !discovery.cameras().empty(); }));
    const auto camera = discovery.cameras().front();
    EXPECT_EQ(camera->friendlyDisplayName(), QStringLiteral("ILCE over SSDP"));
    const auto root = test::openStorage(*camera);
    ASSERT_TRUE(root);
    EXPECT_EQ(test::walkFiles(root).size(), 2u);

    // Gone out of range: the connection is lost, and the camera leaves the list once its probe fails.
    sony.dropConnections();
    EXPECT_TRUE(runUntil([&] { return camera->connectionState() == 0u; }));
    EXPECT_TRUE(runUntil([&] { return discovery.cameras().empty(); }));
}

} // namespace
} // namespace vornakel
