#include "copying/destinations/ui/LightroomDestinationPane.h"

#include "lightroom/LrPluginBridge.h"
#include "lightroom/ui/QuitLightroomQuestion.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "sorting/PhotoSortingModel.h"
#include "sorting/editor/PhotoSortingMenuBuilder.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace vornakel {

namespace {

QString text(const char* key) { return GeneralUI::text(QString::fromLatin1(key)); }

} // namespace

LightroomDestinationPane::LightroomDestinationPane(LightroomCopyDestination::Ptr destination, UserDefaults& defaults,
                                                   PhotoSortingModel& presets, QWidget* parent)
    : QWidget(parent), m_destination(destination), m_defaults(defaults)
{
    setObjectName(QStringLiteral("LightroomDestinationPane"));
    m_stack = new QStackedLayout(this);

    m_statusView = new QWidget(this);
    auto* statusLayout = new QVBoxLayout(m_statusView);
    statusLayout->addStretch(1);
    m_statusLabel = new QLabel(m_statusView);
    m_statusLabel->setWordWrap(true);
    m_statusLabel->setAlignment(Qt::AlignCenter);
    statusLayout->addWidget(m_statusLabel);
    m_spinner = new QProgressBar(m_statusView);
    m_spinner->setRange(0, 0);
    m_spinner->setTextVisible(false);
    m_spinner->setMaximumWidth(160);
    statusLayout->addWidget(m_spinner, 0, Qt::AlignHCenter);
    m_statusButton = new QPushButton(m_statusView);
    connect(m_statusButton, &QPushButton::clicked, this, &LightroomDestinationPane::statusButtonClicked);
    statusLayout->addWidget(m_statusButton, 0, Qt::AlignHCenter);
    statusLayout->addStretch(1);
    m_stack->addWidget(m_statusView);

    m_copyView = new QWidget(this);
    auto* form = new QFormLayout(m_copyView);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_catalogLabel = new QLabel(m_copyView);
    m_catalogLabel->setTextFormat(Qt::PlainText);
    m_catalogLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(text("LightroomCatalogLabel"), m_catalogLabel);
    m_folderPopUp = new QComboBox(m_copyView);
    m_folderPopUp->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_folderPopUp->setMinimumContentsLength(24);
    connect(m_folderPopUp, &QComboBox::activated, this, &LightroomDestinationPane::targetFolderChosen);
    form->addRow(text("LightroomTargetFolderLabel"), m_folderPopUp);
    // An empty catalog is not a dead end: the pane says what to do and offers to look again.
    m_emptyCatalogHint = new QLabel(text("LightroomNoTargetFoldersHint"), m_copyView);
    m_emptyCatalogHint->setObjectName(QStringLiteral("emptyCatalogHint"));
    m_emptyCatalogHint->setWordWrap(true);
    m_refreshButton = new QPushButton(text("LightroomRefreshButtonTitle"), m_copyView);
    m_refreshButton->setObjectName(QStringLiteral("refreshCatalogButton"));
    connect(m_refreshButton, &QPushButton::clicked, this, [this] { updateConfigurationDetailsFromLightroom(true, false); });
    auto* emptyRow = new QHBoxLayout;
    emptyRow->addWidget(m_emptyCatalogHint, 1);
    emptyRow->addWidget(m_refreshButton, 0, Qt::AlignTop);
    form->addRow(QString(), emptyRow);
    m_presetPopUp = new QComboBox(m_copyView);
    m_menuBuilder = new PhotoSortingMenuBuilder(presets, this);
    m_menuBuilder->setPhotoSortingPresetMenu(m_presetPopUp);
    m_menuBuilder->setSelectedPreset(destination->sorting());
    connect(m_menuBuilder, &PhotoSortingMenuBuilder::selectedPresetChanged, this,
            [this](const PhotoSortingModel::PresetPtr& preset) {
        if (!preset)
            return;
        if (auto target = m_destination.lock())
            target->setSorting(preset);
        m_defaults.setValue(LightroomCopyDestination::lightroomSortingUserDefaultsKey(), preset->presetId());
    });
    form->addRow(text("PhotoSortingPresetLabel"), m_presetPopUp);
    m_stack->addWidget(m_copyView);

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] {
        // The editor or its plug-in stopped answering: say so rather than spin on.
        ++m_generation;
        setViewForCommunicationFailed();
    });

    LrPluginBridge& bridge = destination->lightroomBridge();
    connect(&bridge, &LrPluginBridge::lightroomIsRunningChanged, this, [this](bool running) {
        if (!running)
            updateConfigurationDetailsFromLightroom(false, false);
    });
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive || !isVisible())
            return;
        if (auto target = m_destination.lock())
            updateConfigurationDetailsFromLightroom(!target->hasCommunicatedWithLightroomAtLeastOnce(), false);
    });

    updateTargetFolderMenu();
    setViewForCommunicating(text("CommunicatingWithLightroomTitle"));
}

LightroomDestinationPane::~LightroomDestinationPane() = default;

void LightroomDestinationPane::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (auto destination = m_destination.lock())
        updateConfigurationDetailsFromLightroom(!destination->hasCommunicatedWithLightroomAtLeastOnce(), false);
}

int LightroomDestinationPane::beginRefresh()
{
    ++m_generation;
    m_refreshTimer->start(m_refreshTimeout);
    return m_generation;
}

void LightroomDestinationPane::updateConfigurationDetailsFromLightroom(bool showProgress, bool allowLaunch)
{
    auto destination = m_destination.lock();
    if (!destination)
        return;
    const int generation = beginRefresh();
    if (showProgress)
        setViewForCommunicating(text("CommunicatingWithLightroomTitle"));
    LrPluginBridge& bridge = destination->lightroomBridge();
    if (!bridge.pluginIsInstalled()) {
        setViewForNoPluginInstalled();
        return;
    }
    bridge.refreshLightroomIsRunning();
    if (!allowLaunch && !bridge.lightroomIsRunning()) {
        setViewForLightroomNotRunning();
        return;
    }
    QPointer<LightroomDestinationPane> pane(this);
    bridge.launchLightroomAndConnectToPlugin(
        destination->requestPort(), destination->responsePort(), kLrPluginConnectTimeout,
        [pane, destination, generation](LrPluginState state) {
        if (!pane || !pane->isCurrent(generation))
            return;
        if (state != LrPluginState::connected) {
            pane->setViewForCommunicationFailed();
            return;
        }
        LrPluginBridge& bridge = destination->lightroomBridge();
        bridge.sendCatalogPathRequest({{QStringLiteral("message"), QStringLiteral("getCatalogPath")}},
                                      [pane, generation, &bridge](std::optional<LrPluginRequestError> error,
                                                                  std::optional<QString> path) {
            if (!pane || !pane->isCurrent(generation))
                return;
            if (error || !path || path->isEmpty()) {
                pane->setViewForCommunicationFailed();
                return;
            }
            bridge.sendCatalogFoldersRequest({{QStringLiteral("message"), QStringLiteral("getCatalogFolders")}},
                                             [pane, generation, path](std::optional<LrPluginRequestError> error,
                                                                      std::optional<QStringList> folders) {
                if (!pane || !pane->isCurrent(generation))
                    return;
                if (error || !folders) {
                    pane->setViewForCommunicationFailed();
                    return;
                }
                // Whether each folder is there asks the disk, which may be a slow network volume.
                // The guard is taken here, on the main thread, where the pane was just seen alive.
                DispatchQueue::global(DispatchQueue::QoS::UserInitiated)->async([guard = DispatchQueue::Context(pane.data()),
                                                                                  pane, generation, path, folders] {
                    std::vector<QUrl> reachable = reachableFolders(*folders);
                    DispatchQueue::main()->async(guard, [pane, generation, path, reachable = std::move(reachable)]() mutable {
                        if (!pane->isCurrent(generation))
                            return;
                        pane->m_refreshTimer->stop();
                        pane->m_catalogUrl = QUrl::fromLocalFile(*path);
                        pane->m_catalogLabel->setText(QDir::toNativeSeparators(*path));
                        pane->setCatalogFolderUrls(std::move(reachable));
                        pane->setViewForCommunicationSuccess();
                        if (auto destination = pane->m_destination.lock())
                            destination->setHasCommunicatedWithLightroomAtLeastOnce(true);
                    });
                });
            });
        });
    });
}

std::vector<QUrl> LightroomDestinationPane::reachableFolders(const QStringList& paths)
{
    std::vector<QUrl> folders;
    for (const QString& path : paths) {
        // A plug-in reply is outside input: only absolute paths on this computer, no addresses.
        if (path.isEmpty() || !path.startsWith(u'/') || path.contains(QChar(0)))
            continue;
        const QString clean = QDir::cleanPath(path);
        if (QFileInfo(clean).isDir())
            folders.push_back(QUrl::fromLocalFile(clean));
    }
    return folders;
}

void LightroomDestinationPane::setCatalogFolderUrls(std::vector<QUrl> folders)
{
    m_catalogFolderUrls = std::move(folders);
    updateTargetFolderMenu();
    emit catalogFoldersChanged();
}

void LightroomDestinationPane::updateTargetFolderMenu()
{
    m_folderPopUp->clear();
    auto destination = m_destination.lock();
    if (m_catalogFolderUrls.empty()) {
        if (destination)
            destination->setDestinationUrl(std::nullopt);
        m_folderPopUp->addItem(text("LightroomNoTargetFoldersTitle"));
        m_folderPopUp->setEnabled(false);
        m_emptyCatalogHint->show();
        m_refreshButton->show();
        return;
    }
    m_emptyCatalogHint->hide();
    m_refreshButton->hide();
    m_folderPopUp->setEnabled(true);
    const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    m_folderPopUp->setIconSize(QSize(16, 16));
    for (const QUrl& folder : m_catalogFolderUrls) {
        const QString path = folder.toLocalFile();
        const QString title = QFileInfo(path).fileName().isEmpty() ? path : QFileInfo(path).fileName();
        m_folderPopUp->addItem(folderIcon, title, folder);
        m_folderPopUp->setItemData(m_folderPopUp->count() - 1, QDir::toNativeSeparators(path), Qt::ToolTipRole);
    }
    if (!destination)
        return;
    const auto& current = destination->destinationUrl();
    const auto found = current ? std::find(m_catalogFolderUrls.begin(), m_catalogFolderUrls.end(), *current)
                               : m_catalogFolderUrls.end();
    if (found != m_catalogFolderUrls.end()) {
        m_folderPopUp->setCurrentIndex(int(found - m_catalogFolderUrls.begin()));
        return;
    }
    m_folderPopUp->setCurrentIndex(0);
    destination->setDestinationUrl(m_catalogFolderUrls.front());
}

void LightroomDestinationPane::targetFolderChosen(int index)
{
    const QUrl folder = m_folderPopUp->itemData(index).toUrl();
    auto destination = m_destination.lock();
    if (!destination || !folder.isValid())
        return;
    destination->setDestinationUrl(folder);
}

void LightroomDestinationPane::launchLightroomButtonTapped() { updateConfigurationDetailsFromLightroom(true, true); }

void LightroomDestinationPane::installPluginButtonTapped()
{
    auto destination = m_destination.lock();
    if (!destination) {
        QApplication::beep();
        return;
    }
    if (m_quitQuestion)
        return;
    QPointer<LightroomDestinationPane> pane(this);
    LrPluginBridge& bridge = destination->lightroomBridge();
    m_quitQuestion = askToQuitLightroom(bridge, window(), [pane, &bridge, destination](bool agreed) {
        if (!pane || !agreed)
            return;
        ++pane->m_generation;
        pane->m_refreshTimer->stop();
        pane->setViewForCommunicating(text("InstallingPluginTitle"));
        bridge.quitLightroom([pane, &bridge, destination] {
            const std::optional<Error> error = bridge.installOrUpdatePlugin(LrPluginBridge::bundledPluginLocation());
            if (!pane)
                return;
            if (error)
                pane->setViewForNoPluginInstalled();
            else
                pane->updateConfigurationDetailsFromLightroom(true, true);
        });
    });
}

void LightroomDestinationPane::statusButtonClicked()
{
    switch (m_buttonRole) {
    case ButtonRole::install: installPluginButtonTapped(); break;
    case ButtonRole::launch: launchLightroomButtonTapped(); break;
    case ButtonRole::none: break;
    }
}

void LightroomDestinationPane::setStatus(State state, const QString& title, bool spinning, ButtonRole role)
{
    if (state != State::communicating)
        m_refreshTimer->stop();
    m_stack->setCurrentWidget(m_statusView);
    m_statusLabel->setText(title);
    m_spinner->setVisible(spinning);
    m_buttonRole = role;
    m_statusButton->setVisible(role != ButtonRole::none);
    if (role == ButtonRole::install)
        m_statusButton->setText(text("InstallPluginButtonTitle"));
    else if (role == ButtonRole::launch)
        m_statusButton->setText(text("LaunchLightroomButtonTitle"));
    const bool changed = state != m_state;
    m_state = state;
    if (changed)
        emit stateChanged(state);
}

void LightroomDestinationPane::setViewForCommunicating(const QString& title)
{
    setStatus(State::communicating, title, true, ButtonRole::none);
}

void LightroomDestinationPane::setViewForCommunicationFailed()
{
    setStatus(State::failed, text("CommunicatingWithLightroomFailedTitle"), false, ButtonRole::install);
}

void LightroomDestinationPane::setViewForLightroomNotRunning()
{
    setStatus(State::notLaunched, text("CommunicatingWithLightroomNotLaunchedTitle"), false, ButtonRole::launch);
}

void LightroomDestinationPane::setViewForNoPluginInstalled()
{
    // A missing plug-in is remedied by installing it, whatever the button offered before.
    setStatus(State::noPlugin, text("CommunicatingWithLightroomNoPluginTitle"), false, ButtonRole::install);
}

void LightroomDestinationPane::setViewForCommunicationSuccess()
{
    m_refreshTimer->stop();
    m_stack->setCurrentWidget(m_copyView);
    m_spinner->setVisible(false);
    m_statusButton->setVisible(false);
    m_buttonRole = ButtonRole::none;
    const bool changed = m_state != State::ready;
    m_state = State::ready;
    if (changed)
        emit stateChanged(m_state);
}

} // namespace vornakel
