#pragma once

#include "copying/CopyDestination.h"
#include "copying/destinations/CopySessionReport.h"
#include "lightroom/LrPluginTypes.h"
#include "sorting/UserDefinedPhotoSorting.h"

#include <QUrl>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QTimer;

namespace vornakel {

class LrPluginBridge;
class PhotoSortingModel;
class UserDefaults;

// Copies into a folder of the photo editor's catalog, named by a sorting preset, and has the editor's plug-in
// add each copied file to the catalog: it connects when the copy starts, announces the number of files, adds
// each copied file in the copy's order, announces the end and disconnects. Every wait on the plug-in ends at
// the link's request time-out at the latest, and once the last file is copied, a few seconds after the
// plug-in's last reply; files the catalog did not take or did not confirm are counted and reported.
class LightroomCopyDestination : public CopyDestination {
    Q_OBJECT
public:
    using Ptr = std::shared_ptr<LightroomCopyDestination>;

    static QString lightroomGroupingBehaviourUserDefaultsKey(); // "LightroomGroupingBehaviour"
    static QString lightroomSortingUserDefaultsKey();           // "LightroomSortingPreset"

    // The bridge must outlive the destination (the shared bridge does).
    static Ptr create(LrPluginBridge& bridge, UserDefaults& defaults, const PhotoSortingModel& presets);

    QString name() const override;
    QString iconName() const override { return QStringLiteral("applications-graphics"); }
    QString identifier() const override;
    QString helpBookAnchor() const override { return QStringLiteral("Help_CopyLightroom"); }

    PhotoCopyQueueOptions copyQueueOptions() override;
    // Disconnects and makes the next pane talk to the editor again from the start.
    void copyDestinationInstanceWillNotBeUsed() override;
    // Connects (launching the editor when needed) and announces the number of files; refuses when no link
    // comes up or the plug-in does not answer at all.
    void copySessionShouldStart(const Variants& variants, std::function<void(bool)> completionHandler) override;
    void copySessionWillStart(const Variants&) override {}
    std::optional<QString> destinationFor(const PhotoVariant& variant) override;
    // Adds a copied file to the catalog; a skipped or failed file sends nothing and answers false at once.
    void performPostCopyOperation(const std::shared_ptr<PhotoVariantCopyOperation>& operation,
                                  const Operations& allOperationsForPhoto,
                                  std::function<void(bool)> completionHandler) override;
    // Announces the end, then disconnects once the plug-in answered (or the request timed out).
    void copySessionDidEnd() override;
    // Ends the link being set up; the start then answers false, without a reason to show.
    void copySessionStartCancelled() override;

    LrPluginBridge& lightroomBridge() const { return m_bridge; }
    const UserDefinedPhotoSortingPtr& sorting() const { return m_sorting; }
    void setSorting(UserDefinedPhotoSortingPtr sorting);
    const std::optional<QUrl>& destinationUrl() const { return m_destinationUrl; }
    // Copy is allowed exactly while a folder is set.
    void setDestinationUrl(std::optional<QUrl> url);

    // Whether a pane has received the catalog's folders since the sheet last dropped this destination; a pane
    // that has shows no progress when it asks again.
    bool hasCommunicatedWithLightroomAtLeastOnce() const { return m_hasCommunicated; }
    void setHasCommunicatedWithLightroomAtLeastOnce(bool value) { m_hasCommunicated = value; }

    // How long, once the last file is copied, the files still waiting for the plug-in's confirmation wait
    // after its last reply before they count as not confirmed.
    static constexpr std::chrono::milliseconds kDefaultConfirmationGrace{8000};
    void setConfirmationGrace(std::chrono::milliseconds grace) { m_confirmationGrace = grace; }

    // Tests: other ports than the plug-in's own.
    void setPorts(quint16 sendToPluginOn, quint16 receiveFromPluginOn);
    quint16 requestPort() const { return m_requestPort; }
    quint16 responsePort() const { return m_responsePort; }

    QString refusalMessage() const override { return m_refusalMessage; }
    QString sessionSummary() const override { return m_report.message; }
    std::vector<CopyFileProblem> sessionProblems() const override { return m_report.problems; }
    const CopySessionReport& lastSessionReport() const { return m_report; }

signals:
    void destinationUrlChanged();
    void sessionEnded(const vornakel::CopySessionReport& report);

private:
    LightroomCopyDestination(LrPluginBridge& bridge, UserDefaults& defaults, const PhotoSortingModel& presets);
    std::shared_ptr<LightroomCopyDestination> sharedSelf();

    LrPluginBridge& m_bridge;
    UserDefaults& m_defaults;
    UserDefinedPhotoSortingPtr m_sorting;
    std::optional<QUrl> m_destinationUrl;
    bool m_hasCommunicated = false;
    quint16 m_requestPort = kLrPluginRequestPort;
    quint16 m_responsePort = kLrPluginResponsePort;
    void addAnswered(int request, const std::optional<LrPluginRequestError>& error);
    // Once every file of the session is copied, the files still waiting give up a grace after the last reply.
    void armConfirmationGraceIfLastFile();
    void giveUpWaitingForConfirmations();

    int m_filesNotAdded = 0;
    QString m_refusalMessage;
    CopySessionReport m_report;
    // Session starts cancelled so far; a start whose number is no longer current answers false quietly.
    int m_startGeneration = 0;
    // The running session: targets handed out, post-copy steps seen, and the adds still waiting for a reply.
    struct PendingAdd {
        QString fileName;
        std::function<void(bool)> handler;
    };
    int m_targetsGiven = 0;
    int m_postCopySteps = 0;
    int m_nextRequest = 0;
    std::map<int, PendingAdd> m_pendingAdds;
    std::vector<CopyFileProblem> m_problems;
    std::chrono::milliseconds m_confirmationGrace = kDefaultConfirmationGrace;
    QTimer* m_confirmationTimer = nullptr;
};

} // namespace vornakel
