#pragma once

#include "copying/destinations/LightroomCopyDestination.h"

#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;

class QProgressBar;
class QPushButton;
class QStackedLayout;
class QTimer;

namespace vornakel {

class PhotoSortingMenuBuilder;
class PhotoSortingModel;
class UserDefaults;

// The photo editor's settings in the copy sheet. Before it can offer the catalog's folders it talks to the
// editor: is the plug-in installed, is the editor running (or may it be launched), connect, ask for the
// catalog's path, then for its folders. Until that worked it shows a status text with a spinner and one button
// (launch the editor, or install the plug-in); then the folder pop-up (the first reachable folder is the
// target) and the preset menu. Every refresh ends within its time-out, in the failed state at the latest.
class LightroomDestinationPane : public QWidget {
    Q_OBJECT
public:
    enum class State { communicating, failed, notLaunched, noPlugin, ready };

    LightroomDestinationPane(LightroomCopyDestination::Ptr destination, UserDefaults& defaults,
                             PhotoSortingModel& presets, QWidget* parent = nullptr);
    ~LightroomDestinationPane() override;

    static constexpr std::chrono::milliseconds kDefaultRefreshTimeout{60000};
    // How long one refresh may take, from asking to connect to the catalog's folders.
    void setRefreshTimeout(std::chrono::milliseconds timeout) { m_refreshTimeout = timeout; }

    // Asks the editor again. showProgress: show the communicating state meanwhile; allowLaunch: launch the
    // editor when it does not run.
    void updateConfigurationDetailsFromLightroom(bool showProgress, bool allowLaunch);
    void installPluginButtonTapped();
    void launchLightroomButtonTapped();

    State state() const { return m_state; }
    const std::optional<QUrl>& catalogUrl() const { return m_catalogUrl; }
    const std::vector<QUrl>& catalogFolderUrls() const { return m_catalogFolderUrls; }
    // Keeps the usable folders and rebuilds the pop-up; the destination's folder follows.
    void setCatalogFolderUrls(std::vector<QUrl> folders);

    // Of the editor's folder paths, those that are absolute local paths of existing folders, in order. Touches
    // the disk: not on the GUI thread.
    static std::vector<QUrl> reachableFolders(const QStringList& paths);

    QLabel* statusLabel() const { return m_statusLabel; }
    QProgressBar* spinner() const { return m_spinner; }
    QPushButton* statusButton() const { return m_statusButton; }
    QWidget* statusView() const { return m_statusView; }
    QWidget* copyConfigurationView() const { return m_copyView; }
    QComboBox* folderPopUp() const { return m_folderPopUp; }
    QComboBox* presetPopUp() const { return m_presetPopUp; }
    QLabel* catalogLabel() const { return m_catalogLabel; }
    // Shown while the catalog has no folder to copy into: what to do about it, and a way to look again.
    QLabel* emptyCatalogHint() const { return m_emptyCatalogHint; }
    QPushButton* refreshButton() const { return m_refreshButton; }
    QMessageBox* quitQuestion() const { return m_quitQuestion; }

signals:
    void stateChanged(vornakel::LightroomDestinationPane::State state);
    // The catalog's folders were received again and the pop-up rebuilt.
    void catalogFoldersChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    enum class ButtonRole { none, install, launch };
    void setViewForCommunicating(const QString& title);
    void setViewForCommunicationFailed();
    void setViewForLightroomNotRunning();
    void setViewForNoPluginInstalled();
    void setViewForCommunicationSuccess();
    void setStatus(State state, const QString& title, bool spinning, ButtonRole role);
    void updateTargetFolderMenu();
    void targetFolderChosen(int index);
    void statusButtonClicked();
    // Starts a new refresh generation; replies of older ones are dropped.
    int beginRefresh();
    bool isCurrent(int generation) const { return generation == m_generation; }

    std::weak_ptr<LightroomCopyDestination> m_destination;
    UserDefaults& m_defaults;
    State m_state = State::communicating;
    ButtonRole m_buttonRole = ButtonRole::none;
    std::optional<QUrl> m_catalogUrl;
    std::vector<QUrl> m_catalogFolderUrls;
    int m_generation = 0;
    std::chrono::milliseconds m_refreshTimeout = kDefaultRefreshTimeout;
    QTimer* m_refreshTimer = nullptr;
    // The question whether the editor may quit for the plug-in's install, while it is open.
    QPointer<QMessageBox> m_quitQuestion;

    QStackedLayout* m_stack = nullptr;
    QWidget* m_statusView = nullptr;
    QLabel* m_statusLabel = nullptr;
    QProgressBar* m_spinner = nullptr;
    QPushButton* m_statusButton = nullptr;
    QWidget* m_copyView = nullptr;
    QLabel* m_catalogLabel = nullptr;
    QComboBox* m_folderPopUp = nullptr;
    QLabel* m_emptyCatalogHint = nullptr;
    QPushButton* m_refreshButton = nullptr;
    QComboBox* m_presetPopUp = nullptr;
    PhotoSortingMenuBuilder* m_menuBuilder = nullptr;
};

} // namespace vornakel
