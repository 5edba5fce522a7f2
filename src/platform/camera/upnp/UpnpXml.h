#pragma once

// The XML a UPnP media server sends, read as hostile input: its device description, the SOAP reply to a
// ContentDirectory Browse, and the DIDL-Lite listing inside it. Every reader refuses a document type
// declaration and any entity reference other than XML's five and character references (so nothing is expanded
// and nothing external is fetched), and bounds the input's size, the element depth, the length of each text
// and the number of entries. URLs are resolved against the document's own address and kept only when they
// point at the same host over HTTP: a camera cannot send us elsewhere.
//
// Pure functions on Qt Core; shared by the backend, the test camera under tools/ and the fuzz target.

#include <QByteArray>
#include <QDateTime>
#include <QSize>
#include <QString>
#include <QUrl>

#include <optional>
#include <vector>

namespace vornakel::upnp {

inline QString contentDirectoryServiceType() { return QStringLiteral("urn:schemas-upnp-org:service:ContentDirectory:1"); }
inline QString mediaServerDeviceType() { return QStringLiteral("urn:schemas-upnp-org:device:MediaServer:1"); }

struct XmlLimits {
    qsizetype maxBytes = 8 * 1024 * 1024; // the whole document
    int maxDepth = 24;                    // elements open at once
    qsizetype maxTextBytes = 16 * 1024;   // any one text (the Browse reply's Result is bounded by maxBytes only)
    int maxEntries = 5000;                // objects in a DIDL-Lite listing, resources per object, services
};

// ---- Device description ------------------------------------------------------------------------------------

struct ServiceDescription {
    QString serviceType;
    QString serviceId;
    QUrl controlUrl; // absolute, on the description's host
};

struct DeviceDescription {
    QString deviceType;
    QString friendlyName;
    QString manufacturer;
    QString modelName;
    QString modelNumber;
    QString udn;
    std::vector<ServiceDescription> services; // of the root device and the devices it embeds
    // The first service of this type (versions 1 and up match "…:1").
    std::optional<ServiceDescription> service(const QString& serviceType) const;
    std::optional<ServiceDescription> contentDirectory() const { return service(contentDirectoryServiceType()); }
};

struct DescriptionResult {
    std::optional<DeviceDescription> description;
    QString error; // empty when `description` is set
};

// `documentUrl` is where the description came from; relative URLs resolve against it (or its URLBase).
DescriptionResult parseDeviceDescription(const QByteArray& xml, const QUrl& documentUrl, const XmlLimits& limits = {});

// ---- SOAP Browse -------------------------------------------------------------------------------------------

inline QString browseSoapAction() { return contentDirectoryServiceType() + QStringLiteral("#Browse"); }
// The SOAP envelope of a BrowseDirectChildren request.
QByteArray browseRequestBody(const QString& objectId, quint32 startingIndex, quint32 requestedCount);

struct BrowseResponse {
    QString result;            // the DIDL-Lite document
    quint32 numberReturned = 0;
    quint32 totalMatches = 0;  // 0 when the server does not know
};

struct BrowseResult {
    std::optional<BrowseResponse> response;
    QString error; // a SOAP fault's code and description, or why the reply is unreadable
};

BrowseResult parseBrowseResponse(const QByteArray& xml, const XmlLimits& limits = {});

// The request a Browse reply answers, as the test camera reads it.
struct BrowseRequest {
    QString objectId;
    QString browseFlag;
    quint32 startingIndex = 0;
    quint32 requestedCount = 0;
};
std::optional<BrowseRequest> parseBrowseRequest(const QByteArray& xml, const XmlLimits& limits = {});

// ---- DIDL-Lite ---------------------------------------------------------------------------------------------

// One `res` element.
struct Resource {
    QUrl url;                     // absolute, on the listing's host
    QString protocolInfo;         // "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_TN;…"
    QString mimeType;             // the protocolInfo's third field, lower case
    QString dlnaProfile;          // its DLNA.ORG_PN, upper case ("JPEG_TN"); empty when none
    std::optional<quint64> size;  // none when absent or not a number
    std::optional<QSize> resolution;
};

struct DidlObject {
    bool isContainer = false;
    QString id;
    QString parentId;
    QString title;                // as the server sends it: not yet a file name
    QString upnpClass;            // "object.item.imageItem.photo"
    std::optional<QDateTime> date; // dc:date, when it is a plausible date
    std::vector<Resource> resources;
    QUrl albumArt;                // upnp:albumArtURI, a thumbnail on some servers
};

struct DidlResult {
    std::vector<DidlObject> objects;
    QString error; // empty on success
};

// `baseUrl` is the address of the server that sent the listing: relative URLs resolve against it, and URLs
// on another host are dropped.
DidlResult parseDidlLite(const QString& didl, const QUrl& baseUrl, const XmlLimits& limits = {});

// dc:date ("2026-03-01", "2026-03-01T09:00:00", with or without a zone); none for anything else or a year
// outside 1970 … 2200.
std::optional<QDateTime> parseDidlDate(const QString& text);

} // namespace vornakel::upnp
