#pragma once

// The steps a LUMIX camera asks of a client on its control page (cam.cgi) before it serves its card, and the
// state it is asked for while connected.
//
// open: the access request with the GUID this computer keeps in the user defaults ("PanasonicClientGUID") and
//   the client name. While the camera asks its user (it answers "under research" and is asked again, for as
//   long as the user takes), the prompt callback gets, after `pairingPromptAfter`, a block that cancels (open
//   then fails with 1010), and is told when the prompt is over. A refusal is 1010, a camera held by another
//   device 1012. Then playback mode (the media server serves the card in playback only) and the first state.
// readState: the state reply's battery (percentage, else bars) for the five levels; a reply that does not come
//   within the request bound, or a broken connection, is 1002.
//
// Lives on the main thread and never blocks it.

#include "platform/camera/VKLCamera.h"
#include "platform/camera/panasonic/PanasonicCamCgiClient.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>

namespace vornakel {

namespace panasonic {
struct AccessReply;
}

struct PanasonicAccessTimings {
    std::chrono::milliseconds pairingPromptAfter{1000};
    // How soon a camera that is asking its user is asked again.
    std::chrono::milliseconds accessPollInterval{500};
    // No byte of a reply for this long: the camera is gone.
    std::chrono::milliseconds requestTimeout{5000};
};

class PanasonicAccess : public QObject {
    Q_OBJECT
public:
    struct Granted {
        QString cameraName;              // as the camera calls itself; empty when it did not say
        std::optional<int> batteryLevel; // 0 full … 4 empty
    };
    using OpenCompletion = std::function<void(std::optional<Error>, Granted)>;
    using StateCompletion = std::function<void(std::optional<Error>, std::optional<int> batteryLevel)>;

    PanasonicAccess(QString host, quint16 port, PanasonicAccessTimings timings = {}, QObject* parent = nullptr);
    ~PanasonicAccess() override;

    // `done` runs once, on the main thread (with 1004 when `close` comes first).
    void open(const QString& clientName, const QString& guid, VKLCamera::InterventionCallback prompt, OpenCompletion done);
    void readState(StateCompletion done);
    // Ends an open under way (its prompt is taken away) and every request; later requests fail with 1002.
    void close();

    // The GUID this computer introduces itself with ("4D454930-…" form): made once, then kept in the user defaults.
    static QString clientGuid();

private:
    // One request of the open under way: `then` gets the reply's body; a failed request ends the open.
    void step(const PanasonicCamCgiClient::Query& query, std::function<void(const QByteArray&)> then);
    void ask();
    void answered(const panasonic::AccessReply& reply);
    void showPrompt();
    void enterPlayback();
    void readFirstState();
    void finishOpen(std::optional<Error> error);

    QPointer<PanasonicCamCgiClient> m_client;
    PanasonicAccessTimings m_timings;
    // The open under way.
    OpenCompletion m_done;
    VKLCamera::InterventionCallback m_prompt;
    QString m_clientName;
    QString m_guid;
    Granted m_granted;
    bool m_cameraAsking = false; // the camera answered that it asks its user
    bool m_promptDue = false;    // the short wait before the prompt is over
    bool m_promptShown = false;
    int m_attempt = 0;
};

} // namespace vornakel
