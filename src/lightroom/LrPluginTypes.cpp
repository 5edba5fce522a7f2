#include "lightroom/LrPluginTypes.h"

#include <algorithm>

namespace vornakel {

QString describe(LrPluginState state)
{
    switch (state) {
    case LrPluginState::connecting:
        return QStringLiteral("Connecting");
    case LrPluginState::connected:
        return QStringLiteral("Connected");
    case LrPluginState::notConnected:
        break;
    }
    return QStringLiteral("Not Connected");
}

std::optional<LrPluginState> lrPluginStateFromRaw(int raw)
{
    if (raw < 0 || raw > 2)
        return std::nullopt;
    return static_cast<LrPluginState>(raw);
}

QString describe(const LrPluginRequestError& error)
{
    switch (error.kind) {
    case LrPluginRequestError::remoteOperationFailedWithMessage:
        return QStringLiteral("remoteOperationFailedWithMessage(%1)").arg(error.message);
    case LrPluginRequestError::notConnected:
        return QStringLiteral("notConnected");
    case LrPluginRequestError::invalidResponse:
        return QStringLiteral("invalidResponse");
    case LrPluginRequestError::remoteOperationFailed:
        return QStringLiteral("remoteOperationFailed");
    case LrPluginRequestError::timedOut:
        return QStringLiteral("timedOut");
    }
    return {};
}

LrPluginBridgeTimings LrPluginBridgeTimings::scaledDown(int factor) const
{
    const auto scale = [factor](std::chrono::milliseconds value) {
        return std::max(std::chrono::milliseconds(1), value / std::max(factor, 1));
    };
    LrPluginBridgeTimings scaled;
    scaled.launchWait = scale(launchWait);
    scaled.hideDelay = scale(hideDelay);
    scaled.readyDelay = scale(readyDelay);
    scaled.retryDelay = scale(retryDelay);
    scaled.closeDelay = scale(closeDelay);
    scaled.quitPollInterval = scale(quitPollInterval);
    scaled.quitTimeout = scale(quitTimeout);
    scaled.requestTimeout = scale(requestTimeout);
    return scaled;
}

} // namespace vornakel
