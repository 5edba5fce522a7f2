#include "support/DiscoveryTestSupport.h"

#include "discovery/CameraDiscoveryController.h"
#include "model/CameraPhotoLoad.h"
#include "model/PhotoVariant.h"
#include "support/InProcessCamera.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;

namespace {

class DiscoveryControllerTest : public ::testing::Test {
protected:
    DiscoveryControllerTest()
    {
        QObject::connect(&controller, &CameraDiscoveryController::photosArrived, [this](std::shared_ptr<CameraPhotoLoad> load) {
            handedOver = std::move(load);
        });
        QObject::connect(&controller, &CameraDiscoveryController::currentViewChanged,
                         [this] { views.push_back(controller.currentView()); });
    }

    bool sawView(const CameraDiscoveryView& view) const { return std::find(views.begin(), views.end(), view) != views.end(); }
    bool isError() const { return controller.currentView().is<CameraDiscoveryView::ConnectionError>(); }
    bool settled() const { return handedOver || isError(); }

    FakeDiscovery discovery;
    std::vector<std::shared_ptr<VKLCamera>> noted;
    CameraDiscoveryController controller{discovery, [this](const std::shared_ptr<VKLCamera>& c) { noted.push_back(c); }};
    std::shared_ptr<CameraPhotoLoad> handedOver;
    std::vector<CameraDiscoveryView> views;
};

TEST_F(DiscoveryControllerTest, EveryWayOfFailingEndsOnItsErrorPaneWithTheCameraDisconnected)
{
    struct Case {
        const char* name;
        QStringList files;
        std::function<void(SimulatedCameraOptions&)> configure;
        std::optional<FailureReason> reason; // none: the photos are handed over
        bool pairingPromptShown = false;
    };
    const QStringList card = shotNames(4);
    const Case cases[] = {
        {"camera software too old", card, [](auto& o) { o.connectErrorCode = 1013; }, FailureReason::cameraSoftwareTooOld},
        {"pairing rejected", card, [](auto& o) { o.connectErrorCode = 1010; }, FailureReason::connectionFailed},
        {"storage unsupported", card, [](auto& o) { o.storageAccess = SimulatedCameraOptions::StorageAccess::Unsupported; },
         FailureReason::storageAccessNotAllowed},
        {"storage refused", card, [](auto& o) { o.storageAccess = SimulatedCameraOptions::StorageAccess::Refused; },
         FailureReason::storageAccessNotAllowed},
        {"empty card", {}, [](auto&) {}, FailureReason::noImages},
        {"listing fails", card, [](auto& o) { o.listingErrors = {QStringLiteral("DCIM/100TEST")}; }, FailureReason::noImages},
        {"only movies and sidecars", {QStringLiteral("MVI_0001.MOV"), QStringLiteral("IMG_0001.XMP")}, [](auto&) {},
         FailureReason::noImages},
        {"all metadata failing", card, [&](auto& o) { o.metadataFailures = card; }, FailureReason::noImages},
        // The walk takes a few requests; the first chunk would need ten more.
        {"link drops while loading", shotNames(40), [](auto& o) { o.latencyMs = 40; o.disconnectAfterSeconds = 0.3; },
         FailureReason::connectionFailed},
        {"pairing prompt, then photos", card, [](auto& o) { o.pairingPrompt = true; }, std::nullopt, true},
        {"already in storage mode, metadata preloaded", card, [](auto& o) { o.startsInStorageMode = true; o.metadataPreloaded = true; },
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDiscovery caseDiscovery;
        CameraDiscoveryController caseController(caseDiscovery);
        std::shared_ptr<CameraPhotoLoad> load;
        std::vector<CameraDiscoveryView> seen;
        QObject::connect(&caseController, &CameraDiscoveryController::photosArrived, [&](auto l) { load = std::move(l); });
        QObject::connect(&caseController, &CameraDiscoveryController::currentViewChanged,
                         [&] { seen.push_back(caseController.currentView()); });
        SimulatedCameraOptions options = quickOptions();
        c.configure(options);
        const auto camera = SimulatedCamera::fromContent(cardWith(c.files), options);

        caseDiscovery.report({camera});
        ASSERT_TRUE(runUntil([&] {
            return load || (caseController.currentView().is<CameraDiscoveryView::ConnectionError>()
                            && camera->connectionState() == 0);
        }));
        EXPECT_EQ(camera->lastClientName(), QStringLiteral("Vornakel"));
        EXPECT_EQ(seen.front(), CameraDiscoveryView::connecting());
        EXPECT_EQ(std::count(seen.begin(), seen.end(), CameraDiscoveryView::pairingPromptOnCamera()) > 0,
                  c.pairingPromptShown);
        if (c.reason) {
            EXPECT_EQ(caseController.currentView(), CameraDiscoveryView::connectionError(*c.reason));
            EXPECT_EQ(camera->connectionState(), 0u);
            EXPECT_FALSE(load);
        } else {
            ASSERT_TRUE(load);
            EXPECT_EQ(load->camera(), camera);
            EXPECT_GT(load->photoCount(), 0u);
            EXPECT_EQ(camera->connectionState(), 2u);
            EXPECT_TRUE(caseController.hasHandedOver());
        }
    }
}

TEST_F(DiscoveryControllerTest, AFailingCameraIsNotConnectedAgainUntilItComesBackOrTheUserSaysSo)
{
    SimulatedCameraOptions options = quickOptions();
    options.connectErrorCode = 1013;
    const auto camera = SimulatedCamera::fromContent(cardWith(shotNames(2)), options);
    discovery.report({camera});
    ASSERT_TRUE(runUntil([&] { return isError(); }));
    const size_t connectsAfterFailure = views.size();

    // The search starts again behind the manual pane and reports the same camera: nothing happens.
    controller.setCurrentView(CameraDiscoveryView::manualDiscovery(false));
    discovery.report({camera});
    discovery.report({camera});
    EXPECT_EQ(controller.currentView(), CameraDiscoveryView::manualDiscovery(false));
    EXPECT_EQ(std::count(views.begin() + qsizetype(connectsAfterFailure), views.end(), CameraDiscoveryView::connecting()), 0);
    EXPECT_EQ(controller.cameraAwaitingUsersWord(), camera) << "offered to the user instead";

    // On the user's word it connects again.
    controller.connectOnUsersWord();
    EXPECT_EQ(controller.currentView(), CameraDiscoveryView::connecting());
    ASSERT_TRUE(runUntil([&] { return isError(); }));

    // Once it left the list and came back, it counts as a new camera.
    discovery.report({});
    EXPECT_EQ(controller.cameraAwaitingUsersWord(), nullptr);
    discovery.report({camera});
    EXPECT_EQ(controller.currentView(), CameraDiscoveryView::connecting());
    ASSERT_TRUE(runUntil([&] { return isError(); }));
}

// Connects, then turns out to refuse storage access, and never confirms that it let go.
class StorageRefusingCamera : public InProcessCamera {
public:
    bool supportsCommandCategories(uint32_t) const override { return false; }
};

TEST_F(DiscoveryControllerTest, CancelIsAnsweredAtOnceWhileAFailedCameraIsLetGo)
{
    controller.setDisconnectWait(200ms);
    const auto camera = std::make_shared<StorageRefusingCamera>();
    discovery.report({camera});
    ASSERT_TRUE(runUntil([&] { return sawView(CameraDiscoveryView::connecting()); }));
    EXPECT_EQ(controller.currentView(), CameraDiscoveryView::connecting()) << "the error waits for the release";

    controller.cancelConnection();
    EXPECT_EQ(controller.currentView(), CameraDiscoveryView::manualDiscovery(false));
    // The abandoned attempt's error never follows the user to the search pane.
    runFor(400ms);
    EXPECT_EQ(controller.currentView(), CameraDiscoveryView::manualDiscovery(false));
    EXPECT_FALSE(sawView(CameraDiscoveryView::connectionError(FailureReason::storageAccessNotAllowed)));
    EXPECT_EQ(controller.cameraAwaitingUsersWord(), camera) << "held back, offered to the user";
}

TEST_F(DiscoveryControllerTest, ListsWhileConnectingStartNothingAndHeldBackCamerasDoNotHideOthers)
{
    const auto first = SimulatedCamera::fromContent(cardWith(shotNames(3)), quickOptions());
    const auto second = SimulatedCamera::fromContent(cardWith(shotNames(3)), quickOptions());
    discovery.report({first});
    discovery.report({second, first});
    discovery.report({second});
    ASSERT_TRUE(runUntil([&] { return settled(); }));
    ASSERT_TRUE(handedOver);
    EXPECT_EQ(handedOver->camera(), first);
    EXPECT_TRUE(second->lastClientName().isEmpty());
    EXPECT_EQ(noted, std::vector<std::shared_ptr<VKLCamera>>{first});

    // Done: later lists are not this controller's business any more.
    discovery.report({second});
    runFor(50ms);
    EXPECT_TRUE(second->lastClientName().isEmpty());
}

TEST_F(DiscoveryControllerTest, ADisconnectingCameraIsHeldBackButAnotherCameraConnects)
{
    const auto leaving = SimulatedCamera::fromContent(cardWith(shotNames(2)), quickOptions());
    const auto other = SimulatedCamera::fromContent(cardWith(shotNames(2)), quickOptions());
    controller.setCurrentView(CameraDiscoveryView::disconnecting(leaving, false));
    discovery.report({leaving});
    EXPECT_TRUE(leaving->lastClientName().isEmpty());
    discovery.report({leaving, other});
    ASSERT_TRUE(runUntil([&] { return settled(); }));
    ASSERT_TRUE(handedOver);
    EXPECT_EQ(handedOver->camera(), other);
}

TEST_F(DiscoveryControllerTest, ALateNetworkJoinNeverReplacesAConnectionOrItsError)
{
    const struct {
        CameraDiscoveryView shown;
        CameraDiscoveryView after;
    } cases[] = {
        {CameraDiscoveryView::qrDiscovery(), CameraDiscoveryView::manualDiscovery(true)},
        {CameraDiscoveryView::manualDiscovery(false), CameraDiscoveryView::manualDiscovery(true)},
        {CameraDiscoveryView::connectionError(FailureReason::noImages), CameraDiscoveryView::connectionError(FailureReason::noImages)},
        {CameraDiscoveryView::pairingPromptOnCamera(), CameraDiscoveryView::pairingPromptOnCamera()},
    };
    for (const auto& c : cases) {
        controller.setCurrentView(c.shown);
        controller.noteCameraNetworkJoined();
        EXPECT_EQ(controller.currentView(), c.after);
    }
    // While a connection is being made, whatever pane it shows.
    const auto camera = SimulatedCamera::fromContent(cardWith(shotNames(2)), quickOptions());
    discovery.report({camera});
    controller.noteCameraNetworkJoined();
    EXPECT_EQ(controller.currentView(), CameraDiscoveryView::connecting());
    ASSERT_TRUE(runUntil([&] { return settled(); }));
}

TEST(CameraDiscoveryViewTest, ADisconnectingValueKeepsItsCameraAndEqualsOnlyItsOwnPayload)
{
    FakeDiscovery discovery;
    CameraDiscoveryController controller(discovery);
    auto camera = SimulatedCamera::fromContent(cardWith({}), quickOptions());
    std::weak_ptr<VKLCamera> weak = camera;
    controller.setCurrentView(CameraDiscoveryView::disconnecting(camera, true));
    camera.reset();
    EXPECT_FALSE(weak.expired()) << "held while it is the current value";
    controller.setCurrentView(CameraDiscoveryView::manualDiscovery(false));
    EXPECT_TRUE(weak.expired());

    EXPECT_NE(CameraDiscoveryView::connectionError(FailureReason::noImages),
              CameraDiscoveryView::connectionError(FailureReason::connectionFailed));
    EXPECT_NE(CameraDiscoveryView::manualDiscovery(true), CameraDiscoveryView::manualDiscovery(false));
}

TEST_F(DiscoveryControllerTest, TheLoadGoesOnAfterTheDiscoveryScreenIsGone)
{
    SimulatedCameraOptions options = quickOptions();
    options.latencyMs = 2;
    const auto camera = SimulatedCamera::fromContent(cardWith(shotNames(30)), options);
    std::shared_ptr<CameraPhotoLoad> load;
    {
        FakeDiscovery ownDiscovery;
        auto own = std::make_unique<CameraDiscoveryController>(ownDiscovery);
        QObject::connect(own.get(), &CameraDiscoveryController::photosArrived, [&](auto l) { load = std::move(l); });
        ownDiscovery.report({camera});
        ASSERT_TRUE(runUntil([&] { return load != nullptr; }));
        EXPECT_FALSE(load->hasCompleted()) << "handed over at the first chunk";
    }
    ASSERT_TRUE(runUntil([&] { return load->hasCompleted(); }));
    EXPECT_EQ(load->photoCount(), 30u);
}

// A camera that disconnects but never says so.
class SilentDisconnectCamera : public VKLCamera {
public:
    explicit SilentDisconnectCamera(std::shared_ptr<SimulatedCamera> inner) : m_inner(std::move(inner))
    {
        connect(m_inner.get(), &VKLCamera::connectionStateChanged, this, &VKLCamera::connectionStateChanged);
    }
    void connectWithClientName(const QString& name, ConnectCompletion completion, InterventionCallback intervention) override
    {
        m_inner->connectWithClientName(name, std::move(completion), std::move(intervention));
    }
    bool supportsCommandCategories(uint32_t c) const override { return m_inner->supportsCommandCategories(c); }
    bool currentCommandCategoriesContainsCategory(uint32_t c) const override { return m_inner->currentCommandCategoriesContainsCategory(c); }
    void setCurrentCommandCategories(uint32_t c, ErrorCallback callback) override { m_inner->setCurrentCommandCategories(c, std::move(callback)); }
    void disconnect(ErrorCallback, QueuePtr queue) override { m_inner->disconnect({}, std::move(queue)); }
    unsigned connectionState() const override { return m_inner->connectionState(); }
    std::optional<QString> friendlyIdentifier() const override { return m_inner->friendlyIdentifier(); }
    std::optional<QString> friendlyDisplayName() const override { return m_inner->friendlyDisplayName(); }
    VKLCameraService service() const override { return m_inner->service(); }
    std::optional<std::vector<std::shared_ptr<VKLFileStorage>>> storageDevices() const override { return m_inner->storageDevices(); }
    std::shared_ptr<VKLPropertyProxy> proxyForProperty(unsigned id) override { return m_inner->proxyForProperty(id); }

private:
    std::shared_ptr<SimulatedCamera> m_inner;
};

TEST_F(DiscoveryControllerTest, ACameraThatNeverConfirmsItsDisconnectionStillEndsOnTheErrorOnce)
{
    SimulatedCameraOptions options = quickOptions();
    options.storageAccess = SimulatedCameraOptions::StorageAccess::Refused;
    const auto camera = std::make_shared<SilentDisconnectCamera>(SimulatedCamera::fromContent(cardWith(shotNames(2)), options));
    controller.setDisconnectWait(30ms);
    discovery.report({camera});
    ASSERT_TRUE(runUntil([&] { return isError(); }));
    EXPECT_EQ(controller.currentView(), CameraDiscoveryView::connectionError(FailureReason::storageAccessNotAllowed));
    controller.setCurrentView(CameraDiscoveryView::manualDiscovery(false));
    runFor(80ms);
    EXPECT_EQ(controller.currentView(), CameraDiscoveryView::manualDiscovery(false)) << "the error is not shown twice";
}

TEST_F(DiscoveryControllerTest, CancelLetsGoOfTheCameraAndHoldsItBack)
{
    const struct {
        const char* name;
        std::function<void(SimulatedCameraOptions&)> configure;
        CameraDiscoveryView waitOn;
    } cases[] = {
        {"while connecting", [](auto& o) { o.latencyMs = 400; }, CameraDiscoveryView::connecting()},
        {"while the camera asks its user", [](auto& o) { o.pairingPrompt = true; o.pairingDelayMs = 600; },
         CameraDiscoveryView::pairingPromptOnCamera()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedCameraOptions options = quickOptions();
        c.configure(options);
        const auto camera = SimulatedCamera::fromContent(cardWith(shotNames(2)), options);
        discovery.report({camera});
        ASSERT_TRUE(runUntil([&] { return controller.currentView() == c.waitOn; }));
        controller.cancelConnection();
        EXPECT_EQ(controller.currentView(), CameraDiscoveryView::manualDiscovery(false));
        EXPECT_FALSE(controller.isConnecting());
        EXPECT_EQ(controller.cameraAwaitingUsersWord(), camera);
        discovery.report({camera});
        EXPECT_EQ(controller.currentView(), CameraDiscoveryView::manualDiscovery(false));
        ASSERT_TRUE(runUntil([&] { return camera->connectionState() == 0; }, 8s));
        runFor(50ms);
        EXPECT_EQ(controller.currentView(), CameraDiscoveryView::manualDiscovery(false)) << "late answers change nothing";
    }
}

// ---- The load ---------------------------------------------------------------------------------------------------

TEST(CameraPhotoLoad, PairsSplitAcrossChunksStayOnePhotoAndNonImagesAreDropped)
{
    // Nine shots fill the first chunk with the tenth file being IMG_0010.JPG; its RAW is the first file of the
    // next chunk. A movie and a sidecar pass the walk (their type is only known once loaded) and are dropped.
    QStringList names;
    for (int i = 1; i <= 9; ++i)
        names << QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0'));
    names << QStringLiteral("IMG_0010.JPG") << QStringLiteral("IMG_0010.CR2") << QStringLiteral("MVI_0011.MOV")
          << QStringLiteral("IMG_0010.XMP") << QStringLiteral("IMG_0012.JPG");
    SimulatedCameraContent content = cardWith(names);
    // The pair's files were written together.
    content.root.folders[0].folders[0].files[10].dateCreated = content.root.folders[0].folders[0].files[9].dateCreated;
    const auto camera = SimulatedCamera::fromContent(content, quickOptions());
    bool connected = false;
    camera->connectWithClientName(QStringLiteral("test"), [&](auto, auto) { connected = true; }, {});
    ASSERT_TRUE(runUntil([&] { return connected; }));
    camera->setCurrentCommandCategories(VKLCommandCategoryStorageAccess, {});
    std::optional<CameraFileScanning::Items> items;
    CameraFileScanning scanner;
    ASSERT_TRUE(runUntil([&] { return camera->currentCommandCategoriesContainsCategory(2); }));
    scanner.scan(camera, &CameraPhotoLoad::passesWalkFilter, [&](auto found, auto) { items = found.value_or(CameraFileScanning::Items{}); });
    ASSERT_TRUE(runUntil([&] { return items.has_value(); }));
    ASSERT_EQ(items->size(), names.size()) << "nothing is known to be a non-image before loading";

    const auto load = CameraPhotoLoad::create(camera, *items);
    std::vector<PhotoPtr> shown;
    int updates = 0;
    QObject::connect(load.get(), &CameraPhotoLoad::photosChanged, [&](const PhotoGrouping::Update& update) {
        ++updates;
        for (const PhotoPtr& removed : update.removed)
            std::erase(shown, removed);
        shown.insert(shown.end(), update.added.begin(), update.added.end());
    });
    load->start();
    ASSERT_TRUE(runUntil([&] { return load->hasCompleted(); }));
    EXPECT_GE(updates, 2) << "delivered in chunks";
    ASSERT_EQ(shown.size(), 11u) << "11 shots: IMG_0001 … IMG_0010 (a pair) and IMG_0012";
    const auto pairs = std::count_if(shown.begin(), shown.end(), [](const PhotoPtr& p) { return p->previewVariant() != nullptr; });
    EXPECT_EQ(pairs, 1);
    for (const PhotoPtr& photo : shown)
        for (const auto& variant : photo->variants())
            EXPECT_TRUE(variant->remoteItem()->isKnownImageType()) << variant->fileName().toStdString();
}

} // namespace
