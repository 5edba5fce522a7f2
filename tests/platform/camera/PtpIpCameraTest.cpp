// The PTP/IP backend against a broken or hostile camera, its discovery, and the PTP/IP camera under tools/
// checked by an independent client (gphoto2).
#include "CameraTestSupport.h"
#include "FakeAvahi.h"
#include "FakeSsdpDevice.h"

#include "platform/camera/ptpip/PtpIpCamera.h"
#include "platform/camera/ssdp/SsdpSearch.h"
#include "platform/core/UserDefaults.h"
#include "ptpip-camera/PtpIpResponder.h"
#include "support/PrivateBusDaemon.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using namespace std::chrono_literals;
using namespace ptpip;
using test::runUntil;

struct Camera {
    std::unique_ptr<tools::PtpIpResponder> responder;
    std::shared_ptr<PtpIpCamera> camera;
};

Camera startCamera(tools::PtpIpResponderOptions options = {}, ConnectionTimings timings = {}, uint32_t widePartSize = 0)
{
    Camera result;
    result.responder = std::make_unique<tools::PtpIpResponder>(test::sampleCameraFolder(), options);
    EXPECT_TRUE(result.responder->listen());
    PtpIpCameraOptions cameraOptions;
    cameraOptions.host = QStringLiteral("127.0.0.1");
    cameraOptions.port = result.responder->port();
    cameraOptions.timings = timings;
    if (widePartSize != 0)
        cameraOptions.widePartSize = widePartSize;
    result.camera = PtpIpCamera::create(cameraOptions);
    return result;
}

// The operations the camera is asked for from now on, as its log names them ("GetObjectInfo(0x5) transaction 7").
struct OperationLog {
    explicit OperationLog(tools::PtpIpResponder& responder)
    {
        QObject::connect(&responder, &tools::PtpIpResponder::operationLogged, &receiver,
                         [this](const QString& line) { lines.append(line); });
    }
    QObject receiver;
    QStringList lines;
};

int countOperations(const QStringList& lines, const QString& name)
{
    return int(std::count_if(lines.begin(), lines.end(), [&](const QString& line) { return line.startsWith(name + QLatin1Char('(')); }));
}

// The synthetic objects' bytes: a pattern of the position.
QByteArray patternAt(uint64_t position, qsizetype length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    for (qsizetype i = 0; i < length; ++i)
        bytes[i] = char((position + uint64_t(i)) * 31 % 251);
    return bytes;
}

constexpr uint64_t kHugeSize = 5ull * 1024 * 1024 * 1024;

QByteArray objectInfoNamed(const QString& name)
{
    ObjectInfo info;
    info.storageId = 0x00010001;
    info.format = FormatExifJpeg;
    info.compressedSize = 10;
    info.filename = name;
    return encode(info);
}

QByteArray dataPhase(uint32_t transaction, const QByteArray& data, uint64_t announced)
{
    return encode(StartData{transaction, announced}) + encodeData(PacketType::EndData, transaction, data)
        + encode(OperationResponse{RespOK, transaction, {}});
}

TEST(PtpIpCamera, IntroducesItselfWithTheClientNameAndAGuidKeptInTheUserDefaults)
{
    auto camera = startCamera();
    EXPECT_EQ(test::connectCamera(*camera.camera), std::nullopt);
    EXPECT_EQ(camera.responder->lastClientName(), QStringLiteral("Vornakel"));
    const QByteArray guid = PtpIpCamera::clientGuid();
    EXPECT_EQ(guid.size(), 16);
    EXPECT_EQ(camera.responder->lastClientGuid(), guid);
    EXPECT_EQ(PtpIpCamera::clientGuid(), guid) << "made once";
    EXPECT_EQ(UserDefaults::standard().stringForKey(QStringLiteral("PTPIPClientGUID")), QString::fromLatin1(guid.toHex()));
    EXPECT_EQ(camera.camera->friendlyDisplayName(), QStringLiteral("PTP/IP Test Camera"));
}

TEST(PtpIpCamera, APromptAnsweredLateStillPairsAndOneNeverAnsweredWaitsForTheUser)
{
    tools::PtpIpResponderOptions options;
    options.pairingHeldUntilAnswered = true;
    auto camera = startCamera(options);
    std::vector<bool> prompts;
    std::function<void()> cancel;
    std::optional<std::optional<Error>> result;
    camera.camera->connectWithClientName(
        QStringLiteral("Vornakel"), [&](std::optional<Error> error, auto) { result = error; },
        [&](bool shown, std::function<void()> cancelBlock) {
            prompts.push_back(shown);
            cancel = cancelBlock;
        });
    ASSERT_TRUE(runUntil([&] { return !prompts.empty(); }));
    EXPECT_TRUE(prompts.front());
    // No reply timer of its own ends the wait: only the camera's answer or the user's cancel does. The
    // probe bounds are shortened so that one would have fired by now.
    test::runFor(1500ms);
    EXPECT_FALSE(result.has_value());
    camera.responder->answerPairing(true);
    ASSERT_TRUE(runUntil([&] { return result.has_value(); }));
    EXPECT_EQ(*result, std::nullopt);
    EXPECT_EQ(prompts, (std::vector<bool>{true, false}));
    EXPECT_EQ(camera.camera->connectionState(), 2u);
}

TEST(PtpIpCamera, HostileRepliesEndInAClearErrorWithBoundedMemory)
{
    struct Case {
        const char* what;
        // The reply to the first GetObjectHandles; transaction ids are the request's.
        std::function<QByteArray(uint32_t)> reply;
        int listingError;
        bool connectionSurvives;
    };
    DatasetWriter lyingCount;
    lyingCount.u32(1000000).u32(1).u32(2);
    const Case cases[] = {
        {"an array count larger than its data", [&](uint32_t tx) { return dataPhase(tx, lyingCount.data(), lyingCount.data().size()); },
         VKLErrorListingFailed, true},
        {"a data phase larger than announced", [](uint32_t tx) { return dataPhase(tx, QByteArray(64, '\1'), 8); },
         VKLErrorConnectionLost, false},
        {"a dataset without an end past the bound",
         [](uint32_t tx) {
             QByteArray bytes = encode(StartData{tx, kUnknownDataLength});
             for (int i = 0; i < 12; ++i)
                 bytes += encodeData(PacketType::Data, tx, QByteArray(1024 * 1024, '\2'));
             return bytes;
         },
         VKLErrorConnectionLost, false},
        {"a packet length of four gigabytes", [](uint32_t) { return QByteArray::fromHex("ffffffff07000000"); },
         VKLErrorConnectionLost, false},
        {"a reply to another transaction", [](uint32_t tx) { return encode(OperationResponse{RespOK, tx + 5, {}}); },
         VKLErrorConnectionLost, false},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        auto camera = startCamera();
        const auto root = test::openStorage(*camera.camera);
        ASSERT_TRUE(root);
        bool replaced = false;
        camera.responder->setReplyOverride([&](const OperationRequest& request) -> std::optional<QByteArray> {
            if (replaced || request.code != OpGetObjectHandles)
                return std::nullopt;
            replaced = true;
            return each.reply(request.transactionId);
        });
        const auto error = test::awaitError([&](auto done) { root->loadChildren(done); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, each.listingError);
        if (each.connectionSurvives) {
            EXPECT_EQ(camera.camera->connectionState(), 2u);
            EXPECT_EQ(test::awaitError([&](auto done) { root->loadChildren(done); }), std::nullopt) << "asked again";
        } else {
            EXPECT_TRUE(runUntil([&] { return camera.camera->connectionState() == 0; }));
        }
    }
}

// A file's data is read from the socket straight into the chunks handed on; a camera that lies in it ends that
// file with a clear error, and one that cuts it into uneven packets still gives it byte for byte.
TEST(PtpIpCamera, AStreamedFileHoldsToItsPacketsAndItsListedSize)
{
    struct Case {
        const char* what;
        // The reply to GetObject for a file of `size` bytes whose content is `content`.
        std::function<QByteArray(uint32_t tx, const QByteArray& content)> reply;
        std::optional<int> streamError; // none: the file arrives whole
        bool connectionSurvives;
    };
    const auto unevenly = [](uint32_t tx, const QByteArray& content) {
        QByteArray bytes = encode(StartData{tx, uint64_t(content.size())});
        qsizetype at = 0;
        for (const qsizetype piece : {qsizetype(1), qsizetype(7), qsizetype(4099), qsizetype(3)}) {
            const qsizetype count = std::min(piece, content.size() - at);
            bytes += encodeData(PacketType::Data, tx, content.mid(at, count));
            at += count;
        }
        bytes += encodeData(PacketType::Data, tx, content.mid(at));
        bytes += encodeData(PacketType::EndData, tx, {});
        return bytes + encode(OperationResponse{RespOK, tx, {}});
    };
    const Case cases[] = {
        {"uneven packets", unevenly, std::nullopt, true},
        {"more data than announced", [](uint32_t tx, const QByteArray&) { return dataPhase(tx, QByteArray(64, '\1'), 8); },
         VKLErrorConnectionLost, false},
        {"data of another transaction",
         [](uint32_t tx, const QByteArray& content) {
             return encode(StartData{tx, uint64_t(content.size())}) + encodeData(PacketType::EndData, tx + 5, content);
         },
         VKLErrorConnectionLost, false},
        {"more bytes than the listed size",
         [](uint32_t tx, const QByteArray& content) {
             const QByteArray longer = content + QByteArray(100, 'x');
             return dataPhase(tx, longer, uint64_t(longer.size()));
         },
         VKLErrorReadFailed, true},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        auto camera = startCamera();
        const auto root = test::openStorage(*camera.camera);
        ASSERT_TRUE(root);
        const auto files = test::walkFiles(root);
        ASSERT_FALSE(files.empty());
        const auto file = files.front();
        ASSERT_GT(file->size(), 4110u) << "the sample's first file spans the uneven packets";
        const QByteArray content = patternAt(0, qsizetype(file->size()));
        camera.responder->setReplyOverride([&](const OperationRequest& request) -> std::optional<QByteArray> {
            if (request.code != OpGetObject)
                return std::nullopt;
            return each.reply(request.transactionId, content);
        });
        auto received = std::make_shared<QByteArray>();
        std::optional<std::optional<Error>> result;
        file->streamItem({}, {}, [received](const auto&, const QByteArray& bytes, const auto&) {
            *received += bytes;
            return 0;
        }, {}, [&](const auto&, std::optional<Error> error, const auto&) { result = error; }, {});
        ASSERT_TRUE(runUntil([&] { return result.has_value(); }));
        if (each.streamError) {
            ASSERT_TRUE(*result);
            EXPECT_EQ((*result)->code, *each.streamError);
        } else {
            EXPECT_EQ(*result, std::nullopt);
            EXPECT_TRUE(*received == content) << received->size() << " of " << content.size() << " bytes";
        }
        if (each.connectionSurvives)
            EXPECT_EQ(camera.camera->connectionState(), 2u);
        else
            EXPECT_TRUE(runUntil([&] { return camera.camera->connectionState() == 0; }));
    }
}

TEST(PtpIpCamera, ANameThatIsNotUtf16LeavesThatObjectOutOfTheListing)
{
    auto camera = startCamera();
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    int objectInfos = 0;
    camera.responder->setReplyOverride([&](const OperationRequest& request) -> std::optional<QByteArray> {
        if (request.code != OpGetObjectInfo || objectInfos++ != 0)
            return std::nullopt;
        QByteArray info = objectInfoNamed(QStringLiteral("AB"));
        info[53] = char(0x00);
        info[54] = char(0xDC); // a lone low surrogate
        return dataPhase(request.transactionId, info, info.size());
    });
    ASSERT_EQ(test::awaitError([&](auto done) { root->loadChildren(done); }), std::nullopt);
    const auto children = root->children();
    ASSERT_TRUE(children);
    EXPECT_EQ(int(children->size()), objectInfos - 1);
}

TEST(PtpIpCamera, AnEventFloodIsSurvivedAndTheCameraStillAnswers)
{
    auto camera = startCamera();
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    QByteArray flood;
    for (int i = 0; i < 50000; ++i)
        flood += encode(EventPacket{EventDevicePropChanged, 0xFFFFFFFF, {PropBatteryLevel}});
    camera.responder->sendOnEventConnection(flood);
    EXPECT_EQ(test::awaitError([&](auto done) { root->loadChildren(done); }), std::nullopt);
    EXPECT_EQ(camera.camera->connectionState(), 2u);
    EXPECT_LT(camera.responder->operationCount(), 2000) << "the flood did not turn into as many requests";
}

TEST(PtpIpCamera, ASilentCameraIsLostWithinTheProbeBound)
{
    ConnectionTimings timings;
    timings.probeAfter = 200ms;
    timings.probeTimeout = 300ms;
    auto camera = startCamera({}, timings);
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    // The camera stops answering anything, probes included, without closing its connections.
    camera.responder->setFrozen(true);
    const auto error = test::awaitError([&](auto done) { root->loadChildren(done); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, VKLErrorConnectionLost);
    EXPECT_EQ(camera.camera->connectionState(), 0u);
}

TEST(PtpIpCamera, ListsEachFolderWithOnePropertyListWhereTheCameraOffersIt)
{
    struct Listed {
        QString name;
        uint64_t size;
        std::optional<QDateTime> date;
        bool operator==(const Listed&) const = default;
    };
    struct Case {
        const char* what;
        bool propList;
        bool propListFails;
    };
    const Case cases[] = {
        {"one ObjectInfo per object", false, false},
        {"one GetObjectPropList per folder", true, false},
        {"a GetObjectPropList that fails: ObjectInfo instead", true, true},
    };
    std::optional<std::vector<Listed>> first;
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        tools::PtpIpResponderOptions options;
        options.objectPropList = each.propList;
        auto camera = startCamera(options);
        if (each.propListFails) {
            camera.responder->setReplyOverride([](const OperationRequest& request) -> std::optional<QByteArray> {
                if (request.code != OpGetObjectPropList)
                    return std::nullopt;
                return encode(OperationResponse{RespGeneralError, request.transactionId, {}});
            });
        }
        const auto root = test::openStorage(*camera.camera);
        ASSERT_TRUE(root);
        OperationLog log(*camera.responder);
        std::vector<Listed> listed;
        for (const auto& file : test::walkFiles(root))
            listed.push_back({file->name().value_or(QString()), file->size(), file->dateCreated()});
        ASSERT_EQ(listed.size(), size_t(test::sampleCamera().files.size()));
        if (first)
            EXPECT_TRUE(listed == *first) << "the same names, sizes and dates either way";
        else
            first = listed;
        const int folders = countOperations(log.lines, QStringLiteral("GetObjectHandles"));
        const int objectInfos = countOperations(log.lines, QStringLiteral("GetObjectInfo"));
        if (each.propList && !each.propListFails) {
            // The root's objects one by one, every other folder's in one reply.
            EXPECT_EQ(countOperations(log.lines, QStringLiteral("GetObjectPropList")), folders - 1);
            EXPECT_LT(objectInfos, int(listed.size()));
        } else {
            EXPECT_GT(objectInfos, int(listed.size()));
        }
    }
}

// The camera answers one operation at a time: a thumbnail asked for while a large folder's ObjectInfos wait
// goes out before them, not after the whole listing.
TEST(PtpIpCamera, AThumbnailGoesAheadOfTheListingThatWaits)
{
    SimulatedCameraContent content;
    SimulatedCameraContent::Folder folder{QStringLiteral("100VKLCM"), {}, {}};
    const QDateTime day(QDate(2026, 3, 1), QTime(9, 0));
    for (int i = 0; i < 100; ++i)
        folder.files.push_back({QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')), 1000, day.addSecs(i), {}});
    content.root.folders.push_back({QStringLiteral("DCIM"), {std::move(folder)}, {}});
    tools::PtpIpResponderOptions options;
    options.latencyMs = 5;
    tools::PtpIpResponder responder(std::move(content), options);
    ASSERT_TRUE(responder.listen());
    PtpIpCameraOptions cameraOptions;
    cameraOptions.host = QStringLiteral("127.0.0.1");
    cameraOptions.port = responder.port();
    const auto camera = PtpIpCamera::create(cameraOptions);
    const auto root = test::openStorage(*camera);
    ASSERT_TRUE(root);
    const auto files = test::walkFiles(root);
    ASSERT_EQ(files.size(), 100u);
    auto listedFolder = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(root->children()->front());
    ASSERT_TRUE(listedFolder);
    listedFolder = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(*listedFolder->children()->begin());
    ASSERT_TRUE(listedFolder);

    OperationLog log(responder);
    std::optional<std::optional<Error>> listed;
    listedFolder->loadChildren([&](std::optional<Error> error) { listed = error; });
    // Once the camera answers the first ObjectInfo, all of the folder's wait in line.
    ASSERT_TRUE(runUntil([&] { return countOperations(log.lines, QStringLiteral("GetObjectInfo")) > 0; }));
    const auto thumbnail = test::fetchImage(files.back(), false);
    EXPECT_EQ(thumbnail.error, std::nullopt);
    ASSERT_TRUE(runUntil([&] { return listed.has_value(); }));
    EXPECT_EQ(*listed, std::nullopt);
    const auto thumbAt = std::find_if(log.lines.begin(), log.lines.end(), [](const QString& line) { return line.startsWith(QStringLiteral("GetThumb(")); });
    ASSERT_NE(thumbAt, log.lines.end());
    EXPECT_GT(countOperations(QStringList(thumbAt, log.lines.end()), QStringLiteral("GetObjectInfo")), 0)
        << "the thumbnail did not wait for the whole listing";
    EXPECT_EQ(countOperations(log.lines, QStringLiteral("GetObjectInfo")), 100);
}

TEST(PtpIpCamera, ObjectsOf4GiBOrMoreStreamThroughThe64BitPartialReadOrFailPlainly)
{
    constexpr uint32_t kPart = 1024 * 1024;
    for (const bool wideRead : {true, false}) {
        SCOPED_TRACE(wideRead ? "with GetPartialObject64" : "without a 64-bit partial read");
        tools::PtpIpResponderOptions options;
        options.objectPropList = true; // the object size property tells the size in 64 bits
        options.partialObject64 = wideRead;
        options.syntheticFiles = {{QStringLiteral("HUGE.MOV"), kHugeSize}};
        auto camera = startCamera(options, {}, kPart);
        const auto root = test::openStorage(*camera.camera);
        ASSERT_TRUE(root);
        ASSERT_EQ(test::awaitError([&](auto done) { root->loadChildren(done); }), std::nullopt);
        VKLFileSystemItem::ItemPtr huge;
        for (const auto& child : root->children().value_or(std::vector<VKLFileSystemItem::ItemPtr>{})) {
            if (child->name() == QStringLiteral("HUGE.MOV"))
                huge = child;
        }
        ASSERT_TRUE(huge);
        EXPECT_EQ(huge->size(), kHugeSize);

        OperationLog log(*camera.responder);
        // Three parts are enough to show the reads follow each other; then the copy stops.
        const auto copy = test::streamFile(huge, DispatchQueue::createSerial(QStringLiteral("test.huge")), 3);
        EXPECT_EQ(copy.completions, 1);
        ASSERT_TRUE(copy.error);
        EXPECT_EQ(countOperations(log.lines, QStringLiteral("GetObject")), 0) << "no 32-bit read of a 5 GiB object";
        if (wideRead) {
            EXPECT_EQ(copy.error->code, VKLErrorCancelled);
            EXPECT_EQ(copy.data.size(), 3 * qsizetype(kPart));
            EXPECT_TRUE(copy.data == patternAt(0, copy.data.size())) << "the parts in order";
            EXPECT_GE(countOperations(log.lines, QStringLiteral("GetPartialObject64")), 2);
        } else {
            EXPECT_EQ(copy.error->code, VKLErrorReadFailed);
            EXPECT_TRUE(copy.error->message.contains(QStringLiteral("4 GB"))) << copy.error->message.toStdString();
            EXPECT_TRUE(copy.data.isEmpty());
        }
    }
}

TEST(PtpIpCamera, TheCameraServesPartsPast4GiBAtTheirOffset)
{
    tools::PtpIpResponderOptions options;
    options.partialObject64 = true;
    options.syntheticFiles = {{QStringLiteral("HUGE.MOV"), kHugeSize}};
    tools::PtpIpResponder responder(test::sampleCameraFolder(), options);
    ASSERT_TRUE(responder.listen());
    PtpIpConnection connection;
    std::optional<std::optional<Error>> initialized;
    QObject::connect(&connection, &PtpIpConnection::initialized, [&](std::optional<Error> error) { initialized = error; });
    connection.open(QStringLiteral("127.0.0.1"), responder.port(), QByteArray(16, 'g'), QStringLiteral("Vornakel"));
    ASSERT_TRUE(runUntil([&] { return initialized.has_value(); }));
    ASSERT_EQ(*initialized, std::nullopt);
    const auto transact = [&](uint16_t code, std::vector<uint32_t> parameters) {
        std::optional<std::pair<std::optional<Error>, TransactionResult>> result;
        connection.transact(code, std::move(parameters), [&](std::optional<Error> error, TransactionResult answer) {
            result.emplace(std::move(error), std::move(answer));
        });
        EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
        return result.value_or(std::pair<std::optional<Error>, TransactionResult>{});
    };
    ASSERT_EQ(transact(OpOpenSession, {1}).first, std::nullopt);
    const auto handles = decodeUint32Array(transact(OpGetObjectHandles, {kAllStorages, 0, 0}).second.data);
    ASSERT_TRUE(handles && !handles->empty());
    const uint32_t huge = handles->back(); // the synthetic object comes after the folder's
    const uint64_t offset = kHugeSize - 100;
    const auto part = transact(OpGetPartialObject64, partialRead64Parameters(OpGetPartialObject64, huge, offset, 4096));
    ASSERT_EQ(part.first, std::nullopt);
    EXPECT_TRUE(part.second.data == patternAt(offset, 100)) << "the object's last 100 bytes, not the first";
    EXPECT_EQ(part.second.parameters, std::vector<uint32_t>{100u});
    connection.close();
}

TEST(PtpIpCamera, ACardTakenOutEndsWhatWaitsOnItAndLeavesTheStorageList)
{
    const auto& sample = test::sampleCamera();
    ASSERT_GE(sample.files.size(), 2);
    tools::PtpIpResponderOptions options;
    options.dataPacketSize = 1024;
    options.streamStallAfterBytes = 100; // the first file's stream stalls for good
    options.streamFaultFiles = {QFileInfo(sample.files.front()).fileName()};
    auto camera = startCamera(options);
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    const auto files = test::walkFiles(root);
    ASSERT_GE(files.size(), 2u);
    ASSERT_EQ(files.front()->name(), options.streamFaultFiles.front());
    bool stalled = false;
    QObject receiver;
    QObject::connect(camera.responder.get(), &tools::PtpIpResponder::operationLogged, &receiver,
                     [&](const QString& line) { stalled = stalled || line.startsWith(QStringLiteral("stream stalls")); });
    std::optional<std::optional<Error>> streamed;
    files.front()->streamItem(
        {}, {}, [](const auto&, const QByteArray&, const auto&) { return 0; }, {},
        [&](const auto&, std::optional<Error> error, const auto&) { streamed = error; }, {});
    ASSERT_TRUE(runUntil([&] { return stalled; }));
    EXPECT_FALSE(streamed.has_value());
    std::optional<std::optional<Error>> queued;
    files.back()->loadMetadata([&](std::optional<Error> error) { queued = error; }); // waits behind the stream

    camera.responder->removeStorage();
    ASSERT_TRUE(runUntil([&] { return streamed.has_value() && queued.has_value(); }));
    for (const auto& error : {*streamed, *queued}) {
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, VKLErrorFileNotFound);
        EXPECT_FALSE(error->message.isEmpty());
    }
    const auto storages = camera.camera->storageDevices();
    ASSERT_TRUE(storages);
    EXPECT_TRUE(storages->empty()) << "the card's storage left the list";
    const auto later = test::awaitError([&](auto done) { root->loadChildren(done); });
    ASSERT_TRUE(later);
    EXPECT_EQ(later->code, VKLErrorFileNotFound);
    EXPECT_EQ(camera.camera->connectionState(), 2u) << "the camera itself is still there";
}

// The storages' IDs, in the camera's order.
std::vector<std::shared_ptr<VKLFileStorage>> storagesOf(const PtpIpCamera& camera)
{
    return camera.storageDevices().value_or(std::vector<std::shared_ptr<VKLFileStorage>>{});
}

// A card put back in is a storage again, its files listed anew; the items of the card as it was stay failed.
TEST(PtpIpCamera, ACardPutBackInJoinsTheStorageListWithItsFiles)
{
    auto camera = startCamera();
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    const auto before = test::walkFiles(root);
    ASSERT_FALSE(before.empty());

    camera.responder->removeStorage();
    ASSERT_TRUE(runUntil([&] { return storagesOf(*camera.camera).empty(); }));
    camera.responder->insertStorage();
    ASSERT_TRUE(runUntil([&] { return storagesOf(*camera.camera).size() == 1; })) << "StoreAdded puts the storage back";
    // Further StoreAdded events for a storage already listed add nothing.
    camera.responder->insertStorage();
    test::runFor(100ms);
    ASSERT_EQ(storagesOf(*camera.camera).size(), 1u);

    const auto storage = storagesOf(*camera.camera).front();
    EXPECT_EQ(storage->camera(), camera.camera);
    const auto again = test::walkFiles(storage->rootDirectory());
    ASSERT_EQ(again.size(), before.size());
    for (size_t i = 0; i < again.size(); ++i)
        EXPECT_EQ(again[i]->name(), before[i]->name());
    EXPECT_EQ(test::fetchImage(again.front(), false).error, std::nullopt) << "the card's files are read again";
    EXPECT_EQ(camera.camera->connectionState(), 2u);
}

// A file deleted on the camera: what waits on it ends at once with 1005 (as a file gone from a folder camera's
// card), later requests for it end without asking the camera, and the next listing leaves it out.
TEST(PtpIpCamera, AFileDeletedOnTheCameraEndsWhatWaitsOnItAndLeavesTheNextListing)
{
    const auto& sample = test::sampleCamera();
    ASSERT_GE(sample.files.size(), 3);
    tools::PtpIpResponderOptions options;
    options.dataPacketSize = 1024;
    options.streamStallAfterBytes = 100; // the first file's stream stalls for good: what follows waits
    options.streamFaultFiles = {QFileInfo(sample.files.front()).fileName()};
    // Set by requests that may still be pending when the test ends: held by them, not by this frame.
    struct Results {
        std::optional<test::ImageResult> thumbnail;
        std::optional<std::optional<Error>> other;
    };
    const auto results = std::make_shared<Results>();
    auto camera = startCamera(options);
    const auto root = test::openStorage(*camera.camera);
    ASSERT_TRUE(root);
    const auto files = test::walkFiles(root);
    ASSERT_GE(files.size(), 3u);
    const auto deleted = files[1];
    const QString deletedName = *deleted->name();
    const auto served = camera.responder->files();
    const auto deletedPath = std::find_if(served.begin(), served.end(), [&](const auto& file) {
        return file.relativePath.endsWith(QLatin1Char('/') + deletedName);
    });
    ASSERT_NE(deletedPath, served.end());
    const QString path = deletedPath->relativePath;

    OperationLog log(*camera.responder);
    bool stalled = false;
    QObject receiver;
    QObject::connect(camera.responder.get(), &tools::PtpIpResponder::operationLogged, &receiver,
                     [&](const QString& line) { stalled = stalled || line.startsWith(QStringLiteral("stream stalls")); });
    files.front()->streamItem({}, {}, [](const auto&, const QByteArray&, const auto&) { return 0; }, {},
                              [](const auto&, std::optional<Error>, const auto&) {}, {});
    ASSERT_TRUE(runUntil([&] { return stalled; }));
    deleted->fetchThumbnail({}, [results](const auto&, std::optional<Error> error, std::optional<QByteArray> data) {
        DispatchQueue::main()->async([results, error, data] { results->thumbnail = test::ImageResult{true, error, data, {}}; });
    });
    files[2]->loadMetadata([results](std::optional<Error> error) { results->other = error; }); // waits, on another file
    test::runFor(100ms);
    ASSERT_FALSE(results->thumbnail.has_value()) << "the thumbnail waits behind the stalled stream";

    ASSERT_NE(camera.responder->removeFile(path), 0u);
    ASSERT_TRUE(runUntil([&] { return results->thumbnail.has_value(); })) << "ObjectRemoved ends the request that waits";
    ASSERT_TRUE(results->thumbnail->error);
    EXPECT_EQ(results->thumbnail->error->code, VKLErrorFileNotFound);
    EXPECT_FALSE(results->thumbnail->error->message.isEmpty());
    EXPECT_FALSE(results->other.has_value()) << "a request on another file still waits its turn";

    // The stalled stream and the other file's request still hold the camera: a request that had to go to it
    // would wait too; one for the deleted file ends at once.
    const auto later = test::awaitError([&](auto done) { deleted->loadMetadata(done); });
    ASSERT_TRUE(later);
    EXPECT_EQ(later->code, VKLErrorFileNotFound);
    const int thumbnailsAsked = countOperations(log.lines, QStringLiteral("GetThumb"));
    EXPECT_EQ(thumbnailsAsked, 0) << "the camera was never asked for the deleted file's thumbnail";
}

// The next listing after ObjectRemoved leaves the file out, also from a camera that still lists it for a moment.
TEST(PtpIpCamera, AFileDeletedOnTheCameraIsLeftOutOfTheNextListing)
{
    const struct {
        const char* name;
        bool cameraStillListsIt;
    } cases[] = {{"a camera that lists it no more", false}, {"a camera that still lists it for a moment", true}};
    for (const auto& each : cases) {
        auto camera = startCamera();
        const auto root = test::openStorage(*camera.camera);
        ASSERT_TRUE(root) << each.name;
        const auto files = test::walkFiles(root);
        ASSERT_GE(files.size(), 2u) << each.name;
        const auto served = camera.responder->files();
        const QString name = QFileInfo(served.front().relativePath).fileName();
        ASSERT_EQ(files.front()->name(), name) << each.name;
        if (each.cameraStillListsIt) {
            // Only the event goes out: the object stays in the camera's listings.
            camera.responder->sendOnEventConnection(encode(EventPacket{EventObjectRemoved, 0xFFFFFFFF, {served.front().handle}}));
        } else {
            ASSERT_EQ(camera.responder->removeFile(served.front().relativePath), served.front().handle) << each.name;
        }
        std::vector<VKLFileSystemItem::ItemPtr> listed;
        ASSERT_TRUE(runUntil([&] {
            listed = test::walkFiles(root);
            return listed.size() == files.size() - 1;
        })) << each.name;
        EXPECT_TRUE(std::none_of(listed.begin(), listed.end(), [&](const auto& file) { return file->name() == name; })) << each.name;
        if (each.cameraStillListsIt) {
            EXPECT_EQ(camera.responder->files().size(), served.size()) << "the camera itself still lists it";
        }
        EXPECT_EQ(camera.camera->connectionState(), 2u) << each.name;
    }
}

TEST(PtpIpCameraDiscovery, FindsTheCameraAtAListedAddressAndLosesItWhenItGoes)
{
    auto responder = std::make_unique<tools::PtpIpResponder>(test::sampleCameraFolder(), tools::PtpIpResponderOptions{});
    ASSERT_TRUE(responder->listen());
    qputenv("VORNAKEL_CAMERA_ADDRESSES", QStringLiteral("127.0.0.1:%1").arg(responder->port()).toLatin1());
    PtpIpCameraDiscovery discovery;
    discovery.setProbeInterval(100ms);
    QObject receiver;
    VKLCameraDiscovery::Cameras reported;
    discovery.addDevicesChangedObserver(&receiver, [&](const auto& cameras) { reported = cameras; });
    discovery.beginSearching();
    ASSERT_TRUE(runUntil([&] { return reported.size() == 1; }));
    EXPECT_EQ(reported.front()->service().ipv4Address, QStringLiteral("127.0.0.1"));
    const auto found = reported.front();
    responder.reset();
    EXPECT_TRUE(runUntil([&] { return reported.empty(); }));
    discovery.stopSearching();
    qunsetenv("VORNAKEL_CAMERA_ADDRESSES");
}

// A camera that announces MTP/IP over SSDP is found where its answer came from; a router's answer is no camera,
// and a camera found both by SSDP and at a listed address is one camera.
TEST(PtpIpCameraDiscovery, FindsACameraThatAnswersTheSsdpSearchOnceHoweverManyWaysFindIt)
{
    tools::PtpIpResponder responder(test::sampleCameraFolder(), tools::PtpIpResponderOptions{});
    ASSERT_TRUE(responder.listen());
    const QString mtp = QStringLiteral("urn:microsoft-com:service:MtpNullService:1");
    bool cameraAnswers = false;
    test::FakeSsdpDevice network([&](const QByteArray& request) {
        QList<QByteArray> answers{test::ssdpAnswer(QStringLiteral("upnp:rootdevice"), QStringLiteral("uuid:router::upnp:rootdevice"))};
        if (cameraAnswers && request.contains(mtp.toUtf8()))
            answers.push_back(test::ssdpAnswer(mtp, QStringLiteral("uuid:00000000-0001-0010-8000-000000000001::") + mtp));
        return answers;
    });
    const struct {
        const char* name;
        bool listed;
    } cases[] = {{"found by SSDP only", false}, {"found by SSDP and listed", true}};
    for (const auto& each : cases) {
        cameraAnswers = false;
        if (each.listed)
            qputenv("VORNAKEL_CAMERA_ADDRESSES", QStringLiteral("127.0.0.1:%1").arg(responder.port()).toLatin1());
        PtpIpCameraDiscovery discovery;
        discovery.setProbeInterval(100ms);
        discovery.setSsdpSearchAddress(QHostAddress::LocalHost, network.port(), responder.port());
        QObject receiver;
        VKLCameraDiscovery::Cameras reported;
        discovery.addDevicesChangedObserver(&receiver, [&](const auto& cameras) { reported = cameras; });
        discovery.beginSearching();
        if (!each.listed) {
            ASSERT_TRUE(runUntil([&] { return network.requests.size() >= 2; })) << each.name;
            test::runFor(300ms);
            EXPECT_TRUE(reported.empty()) << "a router is no camera";
        }
        cameraAnswers = true;
        ASSERT_TRUE(runUntil([&] { return !reported.empty(); })) << each.name;
        // Later searches find it again; it stays one camera.
        const int searches = int(network.requests.size());
        ASSERT_TRUE(runUntil([&] { return network.requests.size() >= searches + 4; })) << each.name;
        test::runFor(200ms);
        ASSERT_EQ(reported.size(), 1u) << each.name;
        EXPECT_EQ(reported.front()->service().ipv4Address, QStringLiteral("127.0.0.1")) << each.name;
        discovery.stopSearching();
        qunsetenv("VORNAKEL_CAMERA_ADDRESSES");
    }
}

// End to end through the PTP/IP camera under tools/: it answers the SSDP search for its MTP/IP service (and
// nothing else), the discovery finds it where the answer came from, and the camera found connects and lists.
TEST(PtpIpCameraDiscovery, FindsThePtpIpTestCameraThroughItsSsdpAnswer)
{
    qunsetenv("VORNAKEL_CAMERA_ADDRESSES");
    tools::PtpIpResponder responder(test::sampleCameraFolder(), tools::PtpIpResponderOptions{});
    ASSERT_TRUE(responder.listen());
    ASSERT_TRUE(responder.answerSsdp(QHostAddress::LocalHost, 0));
    ASSERT_NE(responder.ssdpPort(), 0);

    // Only a search for its service, or for everything, is answered.
    SsdpSearch search;
    std::vector<SsdpReply> replies;
    bool finished = false;
    QObject receiver;
    QObject::connect(&search, &SsdpSearch::replyReceived, &receiver, [&](const SsdpReply& reply) { replies.push_back(reply); });
    QObject::connect(&search, &SsdpSearch::finished, &receiver, [&] { finished = true; });
    search.searchAt(QHostAddress::LocalHost, responder.ssdpPort(),
                    {QStringLiteral("urn:schemas-upnp-org:device:MediaServer:1"), tools::PtpIpResponder::ssdpServiceType()}, 1s);
    ASSERT_TRUE(runUntil([&] { return finished; }));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies.front().status, 200);
    EXPECT_EQ(replies.front().searchTarget, tools::PtpIpResponder::ssdpServiceType());
    EXPECT_TRUE(replies.front().uniqueServiceName.startsWith(QStringLiteral("uuid:")));
    EXPECT_TRUE(replies.front().uniqueServiceName.endsWith(QStringLiteral("::") + tools::PtpIpResponder::ssdpServiceType()));

    PtpIpCameraDiscovery discovery;
    discovery.setProbeInterval(100ms);
    discovery.setSsdpSearchAddress(QHostAddress::LocalHost, responder.ssdpPort(), responder.port());
    VKLCameraDiscovery::Cameras reported;
    discovery.addDevicesChangedObserver(&receiver, [&](const auto& cameras) { reported = cameras; });
    discovery.beginSearching();
    ASSERT_TRUE(runUntil([&] { return !reported.empty(); }));
    ASSERT_EQ(reported.size(), 1u);
    const auto camera = reported.front();
    EXPECT_EQ(camera->service().ipv4Address, QStringLiteral("127.0.0.1"));
    const auto root = test::openStorage(*camera);
    ASSERT_TRUE(root);
    EXPECT_EQ(test::walkFiles(root).size(), responder.files().size());
    discovery.stopSearching();
    test::awaitError([&](auto done) { camera->disconnect(done, {}); });
}

// A camera that announces "_ptp._tcp" over DNS-SD is found at the address Avahi resolves; found that way, by
// SSDP and at a listed address all at once, it is still one camera.
TEST(PtpIpCameraDiscovery, FindsACameraThatAnnouncesPtpOverDnsSd)
{
    if (!test::PrivateBusDaemon::isInstalled())
        GTEST_SKIP() << "dbus-daemon is not installed";
    test::PrivateBusDaemon daemon;
    ASSERT_TRUE(daemon.start());
    tools::PtpIpResponder responder(test::sampleCameraFolder(), tools::PtpIpResponderOptions{});
    ASSERT_TRUE(responder.listen());
    test::FakeAvahi avahi(daemon.address());
    avahi.services = {{QStringLiteral("PTP/IP Test Camera"), QStringLiteral("_ptp._tcp"), QStringLiteral("127.0.0.1"), responder.port()}};
    ASSERT_TRUE(avahi.start());
    const QString mtp = QStringLiteral("urn:microsoft-com:service:MtpNullService:1");
    test::FakeSsdpDevice network([&](const QByteArray&) { return QList<QByteArray>{test::ssdpAnswer(mtp, QStringLiteral("uuid:1::") + mtp)}; });
    const QDBusConnection bus = QDBusConnection::connectToBus(daemon.address(), QStringLiteral("discovery-client"));
    for (const bool everyWay : {false, true}) {
        if (everyWay)
            qputenv("VORNAKEL_CAMERA_ADDRESSES", QStringLiteral("127.0.0.1:%1").arg(responder.port()).toLatin1());
        PtpIpCameraDiscovery discovery;
        discovery.setProbeInterval(100ms);
        discovery.setDnsSdBus(bus);
        if (everyWay)
            discovery.setSsdpSearchAddress(QHostAddress::LocalHost, network.port(), responder.port());
        QObject receiver;
        VKLCameraDiscovery::Cameras reported;
        discovery.addDevicesChangedObserver(&receiver, [&](const auto& cameras) { reported = cameras; });
        const int resolvesBefore = avahi.resolves;
        discovery.beginSearching();
        ASSERT_TRUE(runUntil([&] { return !reported.empty() && avahi.resolves > resolvesBefore; })) << everyWay;
        if (everyWay) {
            ASSERT_TRUE(runUntil([&] { return network.requests.size() >= 4; }));
        }
        test::runFor(300ms);
        ASSERT_EQ(reported.size(), 1u) << everyWay;
        EXPECT_EQ(reported.front()->service().ipv4Address, QStringLiteral("127.0.0.1"));
        discovery.stopSearching();
        qunsetenv("VORNAKEL_CAMERA_ADDRESSES");
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("discovery-client"));
}

TEST(PtpIpCamera, BatteryPercentagesMapToTheFiveLevels)
{
    const std::pair<int, int> cases[] = {{100, 0}, {90, 0}, {75, 1}, {50, 2}, {25, 3}, {10, 4}, {0, 4}, {-5, 4}, {250, 0}};
    for (const auto& [percent, level] : cases)
        EXPECT_EQ(PtpIpCamera::batteryLevelForPercent(percent), level) << percent;
}

// ---- The PTP/IP camera, checked with gphoto2 ----------------------------------------------------------------

QString runGphoto2(const QStringList& arguments, const QString& folder, int* status)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("gphoto2"), arguments);
    // The responder runs on this thread: the event loop turns while gphoto2 talks to it.
    const bool finished = runUntil([&] { return process.state() == QProcess::NotRunning; }, 120s);
    if (!finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    *status = finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAll());
}

TEST(PtpIpCameraWithGphoto2, ListsDownloadsEveryFileByteForByteAndReadsTheBattery)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gphoto2")).isEmpty())
        GTEST_SKIP() << "gphoto2 is not installed";
    tools::PtpIpResponderOptions options;
    options.batteryPercent = 75;
    tools::PtpIpResponder responder(test::sampleCameraFolder(), options);
    ASSERT_TRUE(responder.listen());
    QTemporaryDir download;
    const QStringList port{QStringLiteral("--port"), QStringLiteral("ptpip:127.0.0.1:%1:%1").arg(responder.port()),
                           QStringLiteral("--camera"), QStringLiteral("PTP/IP Camera")};
    int status = 0;
    const QString listing = runGphoto2(port + QStringList{QStringLiteral("--list-files")}, download.path(), &status);
    ASSERT_EQ(status, 0) << listing.toStdString();
    const auto files = responder.files();
    ASSERT_FALSE(files.empty());
    for (const auto& file : files)
        EXPECT_TRUE(listing.contains(QFileInfo(file.relativePath).fileName())) << file.relativePath.toStdString();

    const QString got = runGphoto2(port + QStringList{QStringLiteral("--get-all-files"), QStringLiteral("--skip-existing")},
                                   download.path(), &status);
    ASSERT_EQ(status, 0) << got.toStdString();
    for (const auto& file : files) {
        SCOPED_TRACE(file.relativePath.toStdString());
        const QByteArray served = test::readFile(QDir(test::sampleCameraFolder()).filePath(file.relativePath));
        const QByteArray downloaded = test::readFile(QDir(download.path()).filePath(QFileInfo(file.relativePath).fileName()));
        EXPECT_EQ(downloaded.size(), served.size());
        EXPECT_TRUE(downloaded == served);
    }

    const QString battery = runGphoto2(port + QStringList{QStringLiteral("--get-config"), QStringLiteral("batterylevel")},
                                       download.path(), &status);
    ASSERT_EQ(status, 0) << battery.toStdString();
    EXPECT_TRUE(battery.contains(QRegularExpression(QStringLiteral("Current: 75")))) << battery.toStdString();
}

} // namespace
} // namespace vornakel
