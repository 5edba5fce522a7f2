// The same behaviour, checked against every camera backend: the simulated camera, the PTP/IP backend talking to
// the PTP/IP camera under tools/ over 127.0.0.1, the Olympus backend talking to the Olympus camera there,
// the Sony media-server backend talking to the UPnP camera, and the LUMIX backend talking to the UPnP camera with
// a LUMIX's control page.
#include "CameraTestSupport.h"

#include "olympus-camera/OlympusResponder.h"
#include "panasonic-camera/PanasonicResponder.h"
#include "platform/camera/olympus/OlympusCamera.h"
#include "platform/camera/panasonic/PanasonicCamera.h"
#include "platform/camera/ptpip/PtpIpCamera.h"
#include "platform/camera/simulated/SimulatedCamera.h"
#include "platform/camera/upnp/MediaServerCamera.h"
#include "ptpip-camera/PtpIpResponder.h"
#include "upnp-camera/UpnpResponder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using namespace std::chrono_literals;
using test::runUntil;

struct Faults {
    bool pairingPrompt = false;
    int pairingMs = 1500;
    int connectError = 0;
    qint64 streamErrorAfterBytes = -1;
    qint64 streamStallAfterBytes = -1;
    bool writableCard = false; // the camera serves a copy of the card that a test may add photos to
};

// A camera of one backend serving the sample card, with the few controls the tests need.
class Harness {
public:
    virtual ~Harness() = default;
    virtual std::shared_ptr<VKLCamera> camera() = 0;
    virtual void dropConnection() = 0;
    virtual void setBatteryLevel(int level) = 0;
    // What the maker's cameras lack, with the reason; the tests of it are skipped.
    virtual std::optional<std::string> lacksPairingPrompt() const { return std::nullopt; }
    virtual std::optional<std::string> lacksBattery() const { return std::nullopt; }
    // Whether the test camera can take a new photo while connected, and the photo (needs `writableCard`).
    virtual bool addsPhotos() const { return false; }
    virtual bool addPhoto(const QString&, const QString&, const QByteArray&) { return false; }
};

class SimulatedHarness final : public Harness {
public:
    explicit SimulatedHarness(const Faults& faults)
    {
        SimulatedCameraOptions options;
        options.pairingPrompt = faults.pairingPrompt;
        options.pairingDelayMs = faults.pairingMs;
        options.connectErrorCode = faults.connectError;
        options.streamErrorAfterBytes = faults.streamErrorAfterBytes;
        options.streamStallAfterBytes = faults.streamStallAfterBytes;
        options.startsInStorageMode = true;
        QString folder = test::sampleCameraFolder();
        if (faults.writableCard) {
            folder = m_copy.path();
            copyTree(test::sampleCameraFolder(), folder);
        }
        m_camera = SimulatedCamera::fromFolder(folder, options);
    }
    std::shared_ptr<VKLCamera> camera() override { return m_camera; }
    void dropConnection() override { m_camera->dropConnection(); }
    void setBatteryLevel(int level) override { m_camera->setBatteryLevel(level); }
    bool addsPhotos() const override { return true; }
    bool addPhoto(const QString& folder, const QString& name, const QByteArray& bytes) override
    {
        QFile file(QDir(m_copy.path()).filePath(folder + QLatin1Char('/') + name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

private:
    static void copyTree(const QString& from, const QString& to)
    {
        QDirIterator files(from, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            const QString target = QDir(to).filePath(QDir(from).relativeFilePath(path));
            ASSERT_TRUE(QDir().mkpath(QFileInfo(target).path()));
            ASSERT_TRUE(QFile::copy(path, target));
        }
    }

    QTemporaryDir m_copy;
    std::shared_ptr<SimulatedCamera> m_camera;
};

class PtpIpHarness final : public Harness {
public:
    explicit PtpIpHarness(const Faults& faults)
    {
        tools::PtpIpResponderOptions options;
        options.pairingHoldMs = faults.pairingPrompt ? faults.pairingMs : 0;
        if (faults.connectError == VKLErrorPairingRejected)
            options.initFailReason = ptpip::InitFailRejected;
        else if (faults.connectError == VKLErrorBusy)
            options.initFailReason = ptpip::InitFailBusy;
        options.streamErrorAfterBytes = faults.streamErrorAfterBytes;
        options.streamStallAfterBytes = faults.streamStallAfterBytes;
        options.dataPacketSize = 16 * 1024;
        m_responder = std::make_unique<tools::PtpIpResponder>(test::sampleCameraFolder(), options);
        EXPECT_TRUE(m_responder->listen());
        PtpIpCameraOptions cameraOptions;
        cameraOptions.host = QStringLiteral("127.0.0.1");
        cameraOptions.port = m_responder->port();
        m_camera = PtpIpCamera::create(cameraOptions);
    }
    std::shared_ptr<VKLCamera> camera() override { return m_camera; }
    void dropConnection() override { m_responder->dropConnections(); }
    void setBatteryLevel(int level) override { m_responder->setBatteryPercent(100 - 25 * level); }
    bool addsPhotos() const override { return true; }
    bool addPhoto(const QString& folder, const QString& name, const QByteArray& bytes) override
    {
        return m_responder->addFile(folder, name, bytes) != 0;
    }
    tools::PtpIpResponder& responder() { return *m_responder; }

private:
    std::unique_ptr<tools::PtpIpResponder> m_responder;
    std::shared_ptr<PtpIpCamera> m_camera;
};

class OlympusHarness final : public Harness {
public:
    explicit OlympusHarness(const Faults& faults)
    {
        tools::OlympusResponderOptions options;
        options.streamErrorAfterBytes = faults.streamErrorAfterBytes;
        options.streamStallAfterBytes = faults.streamStallAfterBytes;
        m_responder = std::make_unique<tools::OlympusResponder>(test::sampleCameraFolder(), options);
        EXPECT_TRUE(m_responder->listen());
        OlympusCameraOptions cameraOptions;
        cameraOptions.host = QStringLiteral("127.0.0.1");
        cameraOptions.port = m_responder->port();
        m_camera = OlympusCamera::create(cameraOptions);
    }
    std::shared_ptr<VKLCamera> camera() override { return m_camera; }
    void dropConnection() override { m_responder->dropConnections(); }
    void setBatteryLevel(int) override {}
    std::optional<std::string> lacksPairingPrompt() const override { return "the camera's Wi-Fi password is its pairing"; }
    std::optional<std::string> lacksBattery() const override { return "the camera reports no battery level over HTTP"; }

private:
    std::unique_ptr<tools::OlympusResponder> m_responder;
    std::shared_ptr<OlympusCamera> m_camera;
};

// A Sony camera in its "send to smartphone" mode: a UPnP media server, no pairing prompt, no battery.
class SonyHarness final : public Harness {
public:
    explicit SonyHarness(const Faults& faults)
    {
        tools::UpnpResponderOptions options;
        options.streamErrorAfterBytes = faults.streamErrorAfterBytes;
        options.streamStallAfterBytes = faults.streamStallAfterBytes;
        m_responder = std::make_unique<tools::UpnpResponder>(test::sampleCameraFolder(), options);
        EXPECT_TRUE(m_responder->listen());
        MediaServerCameraOptions cameraOptions;
        cameraOptions.descriptionUrl = QUrl(m_responder->descriptionUrl());
        cameraOptions.identifierScheme = QStringLiteral("sony");
        m_camera = MediaServerCamera::create(cameraOptions);
    }
    std::shared_ptr<VKLCamera> camera() override { return m_camera; }
    void dropConnection() override { m_responder->dropConnections(); }
    void setBatteryLevel(int) override {}
    std::optional<std::string> lacksPairingPrompt() const override
    {
        return "the Wi-Fi password is the pairing: the media server asks nothing";
    }
    std::optional<std::string> lacksBattery() const override { return "the media server reports no battery"; }

private:
    std::unique_ptr<tools::UpnpResponder> m_responder;
    std::shared_ptr<MediaServerCamera> m_camera;
};

// A LUMIX in its image-app mode: the access request with the camera's own prompt, then its media server.
class PanasonicHarness final : public Harness {
public:
    explicit PanasonicHarness(const Faults& faults)
    {
        tools::UpnpResponderOptions mediaServer;
        mediaServer.streamErrorAfterBytes = faults.streamErrorAfterBytes;
        mediaServer.streamStallAfterBytes = faults.streamStallAfterBytes;
        tools::PanasonicCamCgiOptions camCgi;
        camCgi.accessPromptMs = faults.pairingPrompt ? faults.pairingMs : 0;
        if (faults.connectError == VKLErrorPairingRejected)
            camCgi.accessFault = tools::PanasonicCamCgiOptions::AccessFault::refused;
        else if (faults.connectError == VKLErrorBusy)
            camCgi.accessFault = tools::PanasonicCamCgiOptions::AccessFault::busy;
        m_responder = std::make_unique<tools::PanasonicResponder>(test::sampleCameraFolder(), mediaServer, camCgi);
        EXPECT_TRUE(m_responder->listen());
        PanasonicCameraOptions options = PanasonicCamera::optionsFor(QUrl(m_responder->descriptionUrl()));
        options.mediaServer.pollInterval = std::chrono::milliseconds(200);
        m_camera = PanasonicCamera::create(options);
    }
    std::shared_ptr<VKLCamera> camera() override { return m_camera; }
    void dropConnection() override { m_responder->mediaServer().dropConnections(); }
    void setBatteryLevel(int level) override { m_responder->camCgi().setBatteryBars(5 - level); }

private:
    std::unique_ptr<tools::PanasonicResponder> m_responder;
    std::shared_ptr<PanasonicCamera> m_camera;
};

using Factory = std::unique_ptr<Harness> (*)(const Faults&);

struct Backend {
    const char* name;
    Factory make;
};

class CameraBackendBehaviour : public ::testing::TestWithParam<Backend> {
protected:
    std::unique_ptr<Harness> make(const Faults& faults = {}) { return GetParam().make(faults); }
};

QString relativeName(const QString& path) { return QFileInfo(path).fileName(); }

TEST_P(CameraBackendBehaviour, WalksTheCardWithMetadataThumbnailsPreviewsAndExactCopies)
{
    auto harness = make();
    const auto root = test::openStorage(*harness->camera());
    ASSERT_TRUE(root);
    const auto files = test::walkFiles(root);
    const auto& sample = test::sampleCamera();
    ASSERT_EQ(files.size(), size_t(sample.files.size()));
    for (const QString& path : sample.files) {
        SCOPED_TRACE(path.toStdString());
        const auto item = test::findFile(files, relativeName(path));
        ASSERT_TRUE(item);
        EXPECT_EQ(test::awaitError([&](auto done) { item->loadMetadata(done); }), std::nullopt);
        EXPECT_TRUE(item->metadataLoaded());
        EXPECT_EQ(item->size(), uint64_t(QFileInfo(path).size()));
        EXPECT_TRUE(item->dateCreated());
        EXPECT_TRUE(item->isKnownImageType()) << "a RAW file of the undefined format is known by its name";
        // Orientation and shooting data as the file's EXIF has them.
        const auto shot = std::find_if(sample.shots.begin(), sample.shots.end(), [&](const tools::SampleShot& each) {
            return each.jpegPath == path || each.rawPath == path;
        });
        ASSERT_NE(shot, sample.shots.end());
        if (shot->dated) {
            EXPECT_EQ(item->dateCreated(), shot->captureTime);
        }
        EXPECT_EQ(item->orientation(), shot->orientation);
        const auto shooting = item->shootingData();
        ASSERT_TRUE(shooting);
        EXPECT_EQ(shooting->iso, shot->iso);
        ASSERT_TRUE(shooting->fNumber && shooting->exposureTime && shooting->focalLength);
        EXPECT_NEAR(*shooting->fNumber, shot->fNumber, 0.05);
        EXPECT_NEAR(*shooting->exposureTime, shot->exposureTime, shot->exposureTime * 0.01);
        EXPECT_NEAR(*shooting->focalLength, shot->focalLength, 0.5);

        const auto thumbnail = test::fetchImage(item, false);
        EXPECT_EQ(thumbnail.error, std::nullopt);
        ASSERT_TRUE(thumbnail.data);
        EXPECT_TRUE(thumbnail.data->startsWith("\xFF\xD8")) << "a JPEG thumbnail";
        const auto preview = test::fetchImage(item, true);
        EXPECT_EQ(preview.error, std::nullopt);
        ASSERT_TRUE(preview.data);
        EXPECT_TRUE(preview.data->startsWith("\xFF\xD8")) << "a JPEG preview, embedded for a RAW file";

        const auto copy = test::streamFile(item, DispatchQueue::createSerial(QStringLiteral("test.stream")));
        EXPECT_EQ(copy.error, std::nullopt);
        EXPECT_EQ(copy.completions, 1);
        EXPECT_TRUE(copy.data == test::readFile(path)) << "byte for byte";
    }
}

TEST_P(CameraBackendBehaviour, PairingPromptAcceptedRejectedOrCancelled)
{
    if (const auto reason = make()->lacksPairingPrompt())
        GTEST_SKIP() << *reason;
    struct Case {
        const char* what;
        Faults faults;
        bool cancelAtPrompt;
        std::optional<int> error;
        bool promptShown;
    };
    const Case cases[] = {
        {"accepted on the camera", {.pairingPrompt = true, .pairingMs = 1500}, false, std::nullopt, true},
        {"cancelled on the computer", {.pairingPrompt = true, .pairingMs = 1500}, true, VKLErrorPairingRejected, true},
        {"rejected on the camera", {.connectError = VKLErrorPairingRejected}, false, VKLErrorPairingRejected, false},
        {"camera busy", {.connectError = VKLErrorBusy}, false, VKLErrorBusy, false},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        auto harness = make(each.faults);
        std::vector<bool> prompts;
        std::optional<std::optional<Error>> result;
        harness->camera()->connectWithClientName(
            QStringLiteral("Vornakel"),
            [&](std::optional<Error> error, std::vector<VKLCameraConnectionWarning>) { result = error; },
            [&](bool shown, std::function<void()> cancel) {
                prompts.push_back(shown);
                if (shown && each.cancelAtPrompt)
                    cancel();
            });
        ASSERT_TRUE(runUntil([&] { return result.has_value(); }, 10s));
        EXPECT_EQ(result->has_value() ? std::optional<int>((*result)->code) : std::nullopt, each.error);
        if (each.promptShown) {
            ASSERT_FALSE(prompts.empty());
            EXPECT_TRUE(prompts.front());
        } else {
            EXPECT_TRUE(prompts.empty());
        }
        EXPECT_EQ(harness->camera()->connectionState(), each.error ? 0u : 2u);
    }
}

TEST_P(CameraBackendBehaviour, AStreamFaultFailsTheCopyAndTheCameraStaysUsable)
{
    auto harness = make({.streamErrorAfterBytes = 1000});
    const auto root = test::openStorage(*harness->camera());
    ASSERT_TRUE(root);
    const auto files = test::walkFiles(root);
    ASSERT_FALSE(files.empty());
    const auto copy = test::streamFile(files.front());
    ASSERT_TRUE(copy.error);
    EXPECT_EQ(copy.error->code, VKLErrorReadFailed);
    EXPECT_EQ(copy.completions, 1);
    EXPECT_EQ(harness->camera()->connectionState(), 2u);
    EXPECT_TRUE(test::fetchImage(files.front(), false).data) << "the next request is answered";
}

TEST_P(CameraBackendBehaviour, ALostConnectionFailsWhatIsPendingAndEndsTheConnection)
{
    auto harness = make({.streamStallAfterBytes = 100});
    const auto root = test::openStorage(*harness->camera());
    ASSERT_TRUE(root);
    const auto files = test::walkFiles(root);
    ASSERT_FALSE(files.empty());
    std::optional<std::optional<Error>> streamed;
    files.front()->streamItem(
        {}, {}, [](const auto&, const QByteArray&, const auto&) { return 0; }, {},
        [&](const auto&, std::optional<Error> error, const auto&) { streamed = error; }, {});
    test::runFor(200ms); // the stream is under way and stalled
    EXPECT_FALSE(streamed.has_value());
    harness->dropConnection();
    ASSERT_TRUE(runUntil([&] { return streamed.has_value(); }));
    ASSERT_TRUE(streamed->has_value());
    EXPECT_EQ((*streamed)->code, VKLErrorConnectionLost);
    ASSERT_TRUE(runUntil([&] { return harness->camera()->connectionState() == 0; }));
    const auto later = test::awaitError([&](auto done) { root->loadChildren(done); });
    ASSERT_TRUE(later);
    EXPECT_EQ(later->code, VKLErrorNotConnected);
}

TEST_P(CameraBackendBehaviour, APhotoTakenWhileConnectedIsInItsFolderFromTheNextListingOn)
{
    auto harness = make({.writableCard = true});
    if (!harness->addsPhotos())
        GTEST_SKIP() << "this test camera cannot take a photo while connected";
    const auto root = test::openStorage(*harness->camera());
    ASSERT_TRUE(root);
    ASSERT_FALSE(test::walkFiles(root).empty());
    // The folder as listed before the shot.
    std::shared_ptr<VKLFileSystemFolderItem> folder = root;
    for (const QString& name : {QStringLiteral("DCIM"), QStringLiteral("100VKLCM")}) {
        ASSERT_EQ(test::awaitError([&](auto done) { folder->loadChildren(done); }), std::nullopt);
        std::shared_ptr<VKLFileSystemFolderItem> next;
        for (const auto& child : folder->children().value_or(std::vector<VKLFileSystemItem::ItemPtr>{})) {
            if (child->name() == name)
                next = std::dynamic_pointer_cast<VKLFileSystemFolderItem>(child);
        }
        ASSERT_TRUE(next) << name.toStdString();
        folder = next;
    }
    ASSERT_EQ(test::awaitError([&](auto done) { folder->loadChildren(done); }), std::nullopt);
    const size_t before = folder->children()->size();

    const QByteArray photo = test::readFile(test::sampleCamera().shots.front().jpegPath);
    ASSERT_TRUE(harness->addPhoto(QStringLiteral("DCIM/100VKLCM"), QStringLiteral("IMG_9001.JPG"), photo));
    ASSERT_EQ(test::awaitError([&](auto done) { folder->loadChildren(done); }), std::nullopt);
    const auto children = *folder->children();
    EXPECT_EQ(children.size(), before + 1);
    const auto added = test::findFile(children, QStringLiteral("IMG_9001.JPG"));
    ASSERT_TRUE(added);
    EXPECT_EQ(test::awaitError([&](auto done) { added->loadMetadata(done); }), std::nullopt);
    EXPECT_EQ(added->size(), uint64_t(photo.size()));
    EXPECT_TRUE(test::streamFile(added).data == photo);
    EXPECT_EQ(harness->camera()->connectionState(), 2u);
}

TEST_P(CameraBackendBehaviour, BatteryLevelFollowsTheCamera)
{
    auto harness = make();
    if (const auto reason = harness->lacksBattery())
        GTEST_SKIP() << *reason;
    ASSERT_TRUE(test::openStorage(*harness->camera()));
    const auto battery = harness->camera()->proxyForProperty(VKLPropertyBatteryLevel);
    for (int level : {3, 1, 4}) {
        harness->setBatteryLevel(level);
        EXPECT_TRUE(runUntil([&] { return battery->value() == level; })) << level;
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, CameraBackendBehaviour,
                         ::testing::Values(Backend{"simulated", [](const Faults& faults) -> std::unique_ptr<Harness> {
                                               return std::make_unique<SimulatedHarness>(faults);
                                           }},
                                           Backend{"ptpip", [](const Faults& faults) -> std::unique_ptr<Harness> {
                                               return std::make_unique<PtpIpHarness>(faults);
                                           }},
                                           Backend{"olympus", [](const Faults& faults) -> std::unique_ptr<Harness> {
                                               return std::make_unique<OlympusHarness>(faults);
                                           }},
                                           Backend{"sony", [](const Faults& faults) -> std::unique_ptr<Harness> {
                                               return std::make_unique<SonyHarness>(faults);
                                           }},
                                           Backend{"panasonic", [](const Faults& faults) -> std::unique_ptr<Harness> {
                                               return std::make_unique<PanasonicHarness>(faults);
                                           }}),
                         [](const ::testing::TestParamInfo<Backend>& info) { return std::string(info.param.name); });

} // namespace
} // namespace vornakel
