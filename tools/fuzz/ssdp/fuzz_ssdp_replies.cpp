// Feeds arbitrary bytes as one datagram from the network to the SSDP answer parser. Nothing may crash or read
// out of bounds, and what it keeps is no larger than the datagram.
#include "platform/camera/ssdp/SsdpSearch.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto reply = vornakel::SsdpSearch::parse(bytes)) {
        const qsizetype kept = reply->location.size() + reply->searchTarget.size() + reply->uniqueServiceName.size()
            + reply->server.size();
        if (kept > bytes.size())
            std::abort();
    }
    return 0;
}
