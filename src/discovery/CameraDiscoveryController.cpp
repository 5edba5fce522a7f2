#include "discovery/CameraDiscoveryController.h"

#include "model/CameraPhotoLoad.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace vornakel {

CameraDiscoveryController::CameraDiscoveryController(VKLCameraDiscovery& discovery, NoteConnected noteConnected,
                                                     QObject* parent)
    : QObject(parent), m_noteConnected(std::move(noteConnected))
{
    // The observer ends with this controller.
    discovery.addDevicesChangedObserver(this, [this](const Cameras& cameras) { camerasChanged(cameras); });
}

CameraDiscoveryController::~CameraDiscoveryController() = default;

void CameraDiscoveryController::setCurrentView(CameraDiscoveryView view)
{
    if (const auto* disconnecting = view.as<CameraDiscoveryView::Disconnecting>())
        holdBack(disconnecting->camera);
    m_currentView = std::move(view);
    emit currentViewChanged();
}

void CameraDiscoveryController::holdBack(const std::shared_ptr<VKLCamera>& camera)
{
    m_heldBackCamera = camera;
    m_heldBackCameraLeft = false;
    emit awaitingCameraChanged();
}

bool CameraDiscoveryController::isHeldBack(const std::shared_ptr<VKLCamera>& camera) const
{
    return camera && camera == m_heldBackCamera.lock();
}

void CameraDiscoveryController::camerasChanged(const Cameras& cameras)
{
    if (m_handedOver)
        return;
    m_lastCameras.assign(cameras.begin(), cameras.end());
    if (const auto heldBack = m_heldBackCamera.lock()) {
        const bool listed = std::find(cameras.begin(), cameras.end(), heldBack) != cameras.end();
        if (!listed)
            m_heldBackCameraLeft = true;
        else if (m_heldBackCameraLeft)
            m_heldBackCamera.reset(); // it went away and came back: treat it like any new camera
    }
    emit awaitingCameraChanged();
    if (m_busy)
        return;
    const auto candidate = std::find_if(cameras.begin(), cameras.end(),
                                        [this](const auto& camera) { return camera && !isHeldBack(camera); });
    if (candidate != cameras.end())
        connectTo(*candidate);
}

std::shared_ptr<VKLCamera> CameraDiscoveryController::cameraAwaitingUsersWord() const
{
    const auto heldBack = m_heldBackCamera.lock();
    if (!heldBack || m_busy || m_handedOver)
        return nullptr;
    for (const auto& listed : m_lastCameras)
        if (listed.lock() == heldBack)
            return heldBack;
    return nullptr;
}

void CameraDiscoveryController::connectOnUsersWord()
{
    if (const auto camera = cameraAwaitingUsersWord()) {
        m_heldBackCamera.reset();
        connectTo(camera);
    }
}

void CameraDiscoveryController::noteCameraNetworkJoined()
{
    if (m_busy || m_handedOver)
        return;
    if (m_currentView.is<CameraDiscoveryView::QRDiscovery>() || m_currentView.is<CameraDiscoveryView::ManualDiscovery>())
        setCurrentView(CameraDiscoveryView::manualDiscovery(true));
}

void CameraDiscoveryController::connectTo(const std::shared_ptr<VKLCamera>& camera)
{
    m_busy = true;
    m_lettingGo = false;
    m_camera = camera;
    const uint64_t attempt = ++m_attempt;
    emit awaitingCameraChanged();
    setCurrentView(CameraDiscoveryView::connecting());

    const QPointer<CameraDiscoveryController> self(this);
    camera->connectWithClientName(
        clientName(),
        [self, attempt, camera](std::optional<Error> error, const std::vector<VKLCameraConnectionWarning>&) {
            if (self && self->isCurrentAttempt(attempt) && self->m_busy)
                self->connectionResult(camera, error);
        },
        // The cancel block the library passes is released uncalled: the user answers on the camera.
        [self, attempt](bool promptShown, const std::function<void()>&) {
            if (self && self->isCurrentAttempt(attempt) && self->m_busy)
                self->setCurrentView(promptShown ? CameraDiscoveryView::pairingPromptOnCamera()
                                                 : CameraDiscoveryView::connecting());
        });
}

void CameraDiscoveryController::connectionResult(const std::shared_ptr<VKLCamera>& camera,
                                                 const std::optional<Error>& error)
{
    if (error) {
        // The library's error domain varies by transport; only the code tells the cause.
        fail(error->code == VKLErrorCameraSoftwareTooOld ? FailureReason::cameraSoftwareTooOld
                                                         : FailureReason::connectionFailed);
        return;
    }
    if (!camera->supportsCommandCategories(VKLCommandCategoryStorageAccess)) {
        fail(FailureReason::storageAccessNotAllowed);
        return;
    }
    if (camera->currentCommandCategoriesContainsCategory(VKLCommandCategoryStorageAccess)) {
        cameraConnected(camera);
        return;
    }
    const QPointer<CameraDiscoveryController> self(this);
    const uint64_t attempt = m_attempt;
    camera->setCurrentCommandCategories(VKLCommandCategoryStorageAccess, [self, attempt, camera](std::optional<Error> error) {
        if (!self || !self->isCurrentAttempt(attempt) || !self->m_busy)
            return;
        if (error)
            self->fail(FailureReason::storageAccessNotAllowed);
        else
            self->cameraConnected(camera);
    });
}

void CameraDiscoveryController::cameraConnected(const std::shared_ptr<VKLCamera>& camera)
{
    if (m_noteConnected)
        m_noteConnected(camera);
    // The load walks the camera itself and loads each folder as it is listed, so the first photos show while
    // a large card is still being listed.
    const std::shared_ptr<CameraPhotoLoad> load = CameraPhotoLoad::createWalking(camera);
    m_load = load;
    connect(load.get(), &CameraPhotoLoad::photosChanged, this, &CameraDiscoveryController::handleLoadedPhotos);
    connect(load.get(), &CameraPhotoLoad::completed, this, &CameraDiscoveryController::handleLoadCompleted);
    load->start();
}

void CameraDiscoveryController::handleLoadedPhotos()
{
    if (m_handedOver || !m_load || m_load->photoCount() == 0)
        return;
    // Photos loaded before the link dropped are no use: the camera cannot give their thumbnails or files.
    if (!m_camera || m_camera->connectionState() != unsigned(VKLConnectionState::Connected)) {
        fail(FailureReason::connectionFailed);
        return;
    }
    const std::shared_ptr<CameraPhotoLoad> load = std::move(m_load);
    m_load.reset();
    disconnect(load.get(), nullptr, this, nullptr);
    m_handedOver = true;
    m_busy = false;
    m_camera.reset();
    emit photosArrived(load);
}

void CameraDiscoveryController::handleLoadCompleted()
{
    if (m_handedOver || !m_load)
        return;
    // No photo came out of the whole load: every file failed, none was an image, or the link dropped.
    const bool stillConnected = m_camera && m_camera->connectionState() == unsigned(VKLConnectionState::Connected);
    fail(stillConnected ? FailureReason::noImages : FailureReason::connectionFailed);
}

void CameraDiscoveryController::cancelConnection()
{
    if (m_lettingGo) {
        // The attempt already failed and its camera is being let go: Cancel answers now instead of after the
        // release, and the error of the abandoned attempt never shows.
        m_lettingGo = false;
        ++m_attempt;
        setCurrentView(CameraDiscoveryView::manualDiscovery(false));
        return;
    }
    if (!m_busy)
        return;
    const std::shared_ptr<VKLCamera> camera = std::move(m_camera);
    m_camera.reset();
    if (m_load) {
        disconnect(m_load.get(), nullptr, this, nullptr);
        m_load.reset();
    }
    m_busy = false;
    ++m_attempt;
    holdBack(camera);
    if (camera && camera->connectionState() != unsigned(VKLConnectionState::NotConnected))
        camera->disconnect({}, DispatchQueue::main());
    setCurrentView(CameraDiscoveryView::manualDiscovery(false));
}

void CameraDiscoveryController::fail(FailureReason reason)
{
    const std::shared_ptr<VKLCamera> camera = std::move(m_camera);
    m_camera.reset();
    if (m_load) {
        disconnect(m_load.get(), nullptr, this, nullptr);
        m_load.reset();
    }
    m_busy = false;
    holdBack(camera);
    const uint64_t attempt = ++m_attempt;
    if (!camera || camera->connectionState() == unsigned(VKLConnectionState::NotConnected)) {
        setCurrentView(CameraDiscoveryView::connectionError(reason));
        return;
    }
    // The error shows once the camera is let go, so that a Back does not meet a camera still half connected;
    // a camera that does not confirm within the wait does not keep the screen on the progress pane.
    const QPointer<CameraDiscoveryController> self(this);
    m_lettingGo = true;
    const auto showError = [self, attempt, reason] {
        if (!self || !self->isCurrentAttempt(attempt) || self->m_errorShownForAttempt == attempt)
            return;
        self->m_lettingGo = false;
        self->m_errorShownForAttempt = attempt;
        self->setCurrentView(CameraDiscoveryView::connectionError(reason));
    };
    camera->disconnect([showError](std::optional<Error>) { showError(); }, DispatchQueue::main());
    QTimer::singleShot(m_disconnectWait, this, showError);
}

} // namespace vornakel
