// Feeds arbitrary bytes as a LUMIX camera's control-page reply: read as an access reply and as a state reply,
// and the state's battery worked out. Nothing may crash, expand an entity or grow past the reply bound.
#include "platform/camera/panasonic/PanasonicReplies.h"

#include <cstddef>
#include <cstdint>

using namespace vornakel::panasonic;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    (void)parseAccessReply(bytes);
    if (const auto reply = parseCamReply(bytes))
        (void)batteryLevelFromState(reply->state);
    return 0;
}
