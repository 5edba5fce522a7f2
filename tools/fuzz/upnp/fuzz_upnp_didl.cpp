// Feeds arbitrary bytes as what a UPnP media server sends: a DIDL-Lite listing (as UTF-8 and as the text of a
// Browse reply's Result), a Browse reply and a device description. Nothing may crash, expand an entity, nest
// without bound or keep more than the limits allow.
#include "platform/camera/upnp/UpnpXml.h"

#include <cstddef>
#include <cstdint>

using namespace vornakel::upnp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QUrl base(QStringLiteral("http://192.168.122.1:64321/DmsDescPush.xml"));
    XmlLimits limits;
    limits.maxEntries = 200;
    const DidlResult listing = parseDidlLite(QString::fromUtf8(bytes), base, limits);
    if (int(listing.objects.size()) > limits.maxEntries)
        __builtin_trap();
    for (const DidlObject& object : listing.objects) {
        if (int(object.resources.size()) > limits.maxEntries)
            __builtin_trap();
        for (const Resource& resource : object.resources) {
            if (resource.url.host() != base.host())
                __builtin_trap();
        }
    }
    const BrowseResult reply = parseBrowseResponse(bytes, limits);
    if (reply.response)
        (void)parseDidlLite(reply.response->result, base, limits);
    (void)parseDeviceDescription(bytes, base, limits);
    (void)parseBrowseRequest(bytes, limits);
    (void)parseDidlDate(QString::fromLatin1(bytes.left(48)));
    return 0;
}
