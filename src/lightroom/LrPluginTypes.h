#pragma once

#include <QString>

#include <chrono>
#include <optional>

namespace vornakel {

// The link's state, observed by the panes.
enum class LrPluginState { notConnected = 0, connecting = 1, connected = 2 };

QString describe(LrPluginState state);
// Accepts 0, 1 and 2 only.
std::optional<LrPluginState> lrPluginStateFromRaw(int raw);

// Why a request to the plug-in gave no result.
struct LrPluginRequestError {
    enum Kind {
        remoteOperationFailedWithMessage, // the plug-in failed and said why (`message`)
        notConnected,                     // no link, or the link closed before the reply came
        invalidResponse,                  // the reply lacks the command's keys or has them with wrong types
        remoteOperationFailed,            // the plug-in failed, or the request could not be encoded
        timedOut,                         // no reply within the request timeout; the wire knows nothing of it
    };
    Kind kind = notConnected;
    QString message;

    bool operator==(const LrPluginRequestError& other) const
    {
        return kind == other.kind && message == other.message;
    }
};

QString describe(const LrPluginRequestError& error);

// Every delay of the bridge, so that tests can run them fast.
struct LrPluginBridgeTimings {
    std::chrono::milliseconds launchWait{3000};      // from launching the editor to asking for the plug-in's server
    std::chrono::milliseconds hideDelay{2000};       // from the end of a connection attempt to hiding a launched editor
    std::chrono::milliseconds readyDelay{1000};      // from both connections opening to reporting the link ready
    std::chrono::milliseconds retryDelay{1000};      // from a failed try to the next one
    std::chrono::milliseconds closeDelay{500};       // from asking the plug-in to stop to closing the connections
    std::chrono::milliseconds quitPollInterval{250}; // between checks whether the editor has quit
    std::chrono::milliseconds quitTimeout{30000};    // how long to wait for the editor to quit
    std::chrono::milliseconds requestTimeout{120000}; // how long a request waits for its reply

    // All delays divided by `factor`, at least 1 ms each.
    LrPluginBridgeTimings scaledDown(int factor) const;
};

// The ports and the timeout every caller of the link uses.
inline constexpr quint16 kLrPluginRequestPort = 33446;
inline constexpr quint16 kLrPluginResponsePort = 33445;
inline constexpr std::chrono::milliseconds kLrPluginConnectTimeout{30000};

} // namespace vornakel
