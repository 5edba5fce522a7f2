#pragma once

// The simulated link's faults a camera folder's "camera.ini" sets (SimulatedCamera.h), taken into a test camera's
// options: every test camera under tools/ names them alike (latencyMs, throughputBytesPerSecond,
// streamErrorAfterBytes, streamStallAfterBytes, streamStallMs, streamFaultFiles), whatever each makes of them.

#include "platform/camera/simulated/SimulatedCamera.h"

#include <algorithm>

namespace vornakel::tools {

template <typename Options>
void takeLinkFaults(Options& options, const SimulatedCameraOptions& camera)
{
    options.latencyMs = std::max(0, camera.latencyMs);
    options.throughputBytesPerSecond = std::max<qint64>(0, camera.throughputBytesPerSecond);
    options.streamErrorAfterBytes = camera.streamErrorAfterBytes;
    options.streamStallAfterBytes = camera.streamStallAfterBytes;
    options.streamStallMs = camera.streamStallMs;
    options.streamFaultFiles = camera.streamFaultFiles;
}

} // namespace vornakel::tools
