#pragma once

// A client of a UPnP media server's ContentDirectory service over Qt Network: the device description, SOAP
// Browse (BrowseDirectChildren, paged) and bounded GETs of the resources it lists. Everything is asynchronous
// and lives on the main thread: calls are made there and callbacks come there, never inside the caller's stack.
//
// Errors are the camera library's (VKLCamera.h): a connection refused, reset or closed is 1002 (connection
// lost), a reply that takes longer than the time-out 1003, and a reply that is not what was asked for (an HTTP
// error, a SOAP fault, unreadable or oversized XML, a lying count) 1007 for a listing and 1014 for a GET, each
// with a message that says why. After `failAll` every request in flight and every later one ends on its error.
//
// Usage: fetch the description with `fetchDescription`, take its `contentDirectory()`'s control URL, make the
// client with it, then `browseChildren("0", …)` and walk the containers it answers.

#include "platform/camera/upnp/UpnpXml.h"
#include "platform/core/Error.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <vector>

class QNetworkReply;

namespace vornakel::upnp {

// The largest description a camera may send.
inline constexpr qint64 kMaxDescriptionBytes = 256 * 1024;

struct ContentDirectoryOptions {
    quint32 pageSize = 200;                         // RequestedCount of each Browse (at least 100 is sensible)
    int maxChildren = 100000;                       // of one container; more is a listing error
    std::chrono::milliseconds timeout{15000};       // with no byte arriving for this long a request fails
    XmlLimits limits;                               // for each Browse reply and the listing inside
};

class ContentDirectoryClient : public QObject {
    Q_OBJECT
public:
    using DescriptionCallback = std::function<void(std::optional<Error>, std::optional<DeviceDescription>)>;
    using ListingCallback = std::function<void(std::optional<Error>, std::vector<DidlObject>)>;
    using BytesCallback = std::function<void(std::optional<Error>, QByteArray)>;

    // `network` must outlive the client; the control URL is the ContentDirectory's, from the description.
    ContentDirectoryClient(QNetworkAccessManager* network, QUrl controlUrl, ContentDirectoryOptions options = {},
                           QObject* parent = nullptr);
    ~ContentDirectoryClient() override;

    const QUrl& controlUrl() const { return m_controlUrl; }
    const ContentDirectoryOptions& options() const { return m_options; }

    // Reads a device description (at most kMaxDescriptionBytes). The callback runs on the main thread unless
    // `context` is destroyed first.
    static void fetchDescription(QNetworkAccessManager* network, const QUrl& url, std::chrono::milliseconds timeout,
                                 QObject* context, DescriptionCallback callback);

    // Every child of a container, all pages read one after another. Paging stops at TotalMatches, at a page
    // shorter than asked for (when TotalMatches is 0, "unknown"), or at an empty page, whatever the counts
    // claim; a container with more than `maxChildren` children fails.
    void browseChildren(const QString& objectId, ListingCallback callback);
    // A GET of at most `maxBytes`, all of it in memory (thumbnails, previews).
    void get(const QUrl& url, qint64 maxBytes, BytesCallback callback);
    // The first `maxBytes` of a resource (fewer when it is shorter): a ranged GET, cut off at the bound when the
    // camera ignores the range and sends the whole file.
    void getHead(const QUrl& url, qint64 maxBytes, BytesCallback callback);
    // Starts a GET whose reply the caller reads as it arrives; the client only tracks it, so that `failAll`
    // aborts it. The reply belongs to the caller (deleteLater once finished).
    QNetworkReply* openStream(const QUrl& url);

    // Ends every request in flight with `error`; later requests fail with it at once.
    void failAll(const Error& error);
    std::optional<Error> failure() const { return m_failure; }

    // The library's error for a reply that finished with a network error or an HTTP status (none when fine).
    static std::optional<Error> errorOfReply(QNetworkReply* reply, int failureCode);
    // Copies the Qt error's text into the message of `error`.
    static QString describe(QNetworkReply* reply);

private:
    struct Browse;
    void browsePage(const std::shared_ptr<Browse>& browse);
    QNetworkReply* track(QNetworkReply* reply);
    // Reads a reply into memory with a bound; the callback runs once.
    void collect(QNetworkReply* reply, qint64 maxBytes, int failureCode, BytesCallback callback);

    QNetworkAccessManager* m_network;
    QUrl m_controlUrl;
    ContentDirectoryOptions m_options;
    std::set<QNetworkReply*> m_replies;
    std::optional<Error> m_failure;
};

// Looks for a media server's description on a host: tries each path at once and answers the first that is a
// device description with a ContentDirectory service and that `accept` takes (none when no path answers so
// within the time-out). Main thread; nothing is called once `context` is gone.
struct FoundMediaServer {
    QUrl descriptionUrl;
    DeviceDescription description;
};
void probeMediaServer(QNetworkAccessManager* network, const QString& host, quint16 port, const QStringList& paths,
                      std::chrono::milliseconds timeout, QObject* context,
                      std::function<bool(const DeviceDescription&)> accept,
                      std::function<void(std::optional<FoundMediaServer>)> callback);

} // namespace vornakel::upnp
