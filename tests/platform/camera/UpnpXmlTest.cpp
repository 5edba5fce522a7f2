// The XML of UPnP media servers: device descriptions, Browse replies and DIDL-Lite listings, read as hostile input.
#include "platform/camera/upnp/UpnpXml.h"

#include <gtest/gtest.h>

namespace vornakel::upnp {
namespace {

const QUrl kCamera(QStringLiteral("http://192.168.122.1:64321/DmsDescPush.xml"));

QByteArray description(const QByteArray& controlUrl, const QByteArray& extra = {})
{
    return "<?xml version=\"1.0\"?>" + extra
        + "<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion><major>1</major></specVersion>"
          "<device><deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType>"
          "<friendlyName>ILCE-0000</friendlyName><manufacturer>Sony Corporation</manufacturer>"
          "<modelName>SonyImagingDevice</modelName><UDN>uuid:00000000-0000-0000-0000-000000000001</UDN>"
          "<serviceList><service><serviceType>urn:schemas-upnp-org:service:ConnectionManager:1</serviceType>"
          "<controlURL>/upnp/control/ConnectionManager</controlURL></service>"
          "<service><serviceType>urn:schemas-upnp-org:service:ContentDirectory:1</serviceType>"
          "<serviceId>urn:upnp-org:serviceId:ContentDirectory</serviceId><controlURL>"
        + controlUrl + "</controlURL></service></serviceList></device></root>";
}

QString didl(const QString& body)
{
    return QStringLiteral("<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
                          "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                          "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">")
        + body + QStringLiteral("</DIDL-Lite>");
}

TEST(UpnpXml, DeviceDescriptionGivesTheContentDirectoryOnTheCamerasOwnHost)
{
    const auto parsed = parseDeviceDescription(description("/upnp/control/ContentDirectory"), kCamera);
    ASSERT_TRUE(parsed.description) << parsed.error.toStdString();
    EXPECT_EQ(parsed.description->manufacturer, QStringLiteral("Sony Corporation"));
    EXPECT_EQ(parsed.description->friendlyName, QStringLiteral("ILCE-0000"));
    EXPECT_EQ(parsed.description->udn, QStringLiteral("uuid:00000000-0000-0000-0000-000000000001"));
    ASSERT_TRUE(parsed.description->contentDirectory());
    EXPECT_EQ(parsed.description->contentDirectory()->controlUrl,
              QUrl(QStringLiteral("http://192.168.122.1:64321/upnp/control/ContentDirectory")));

    // A control URL elsewhere is not followed: the camera cannot send our requests to another host.
    const auto elsewhere = parseDeviceDescription(description("http://203.0.113.9/cd"), kCamera);
    ASSERT_TRUE(elsewhere.description);
    EXPECT_FALSE(elsewhere.description->contentDirectory());
}

TEST(UpnpXml, HostileDocumentsAreRefusedWithAReason)
{
    struct Case {
        const char* what;
        QByteArray xml;
        const char* reason;
    };
    QByteArray deep;
    for (int i = 0; i < 1000; ++i)
        deep += "<a>";
    const Case cases[] = {
        {"internal entity (billion laughs)",
         description("/cd", "<!DOCTYPE root [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;\">]>"),
         "document type"},
        {"external entity", description("/cd", "<!DOCTYPE root [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"), "document type"},
        {"undeclared entity", "<root><device><friendlyName>&x;</friendlyName></device></root>", ""},
        {"deep nesting", "<root>" + deep, "nested deeper"},
        {"no end", "<root><device><friendlyName>camera", "ends early"},
        {"too large", "<root>" + QByteArray(9 * 1024 * 1024, ' ') + "</root>", "larger than"},
        {"not a description", "<html><body>hello</body></html>", "not a device description"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        const auto parsed = parseDeviceDescription(each.xml, kCamera);
        EXPECT_FALSE(parsed.description);
        EXPECT_FALSE(parsed.error.isEmpty());
        EXPECT_TRUE(parsed.error.contains(QLatin1String(each.reason))) << parsed.error.toStdString();
    }
}

TEST(UpnpXml, DidlLiteListsContainersItemsAndTheirResources)
{
    const QString listing = didl(QStringLiteral(
        "<container id=\"10\" parentID=\"0\" childCount=\"2\"><dc:title>100MSDCF</dc:title>"
        "<upnp:class>object.container</upnp:class></container>"
        "<item id=\"11\" parentID=\"10\"><dc:title>DSC00001.JPG</dc:title><dc:date>2026-03-01T09:00:05</dc:date>"
        "<upnp:class>object.item.imageItem.photo</upnp:class>"
        "<res protocolInfo=\"http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_LRG\" size=\"5242880\" resolution=\"6000x4000\">/orig/11</res>"
        "<res protocolInfo=\"http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_TN;DLNA.ORG_OP=01\" resolution=\"160x120\">http://192.168.122.1:60151/tn/11</res>"
        "<res protocolInfo=\"http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_SM\">http://203.0.113.9/elsewhere</res>"
        "<unknown><nested>ignored</nested></unknown></item>"));
    const auto parsed = parseDidlLite(listing, kCamera);
    ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    ASSERT_EQ(parsed.objects.size(), 2u);
    EXPECT_TRUE(parsed.objects[0].isContainer);
    EXPECT_EQ(parsed.objects[0].title, QStringLiteral("100MSDCF"));
    const DidlObject& item = parsed.objects[1];
    EXPECT_FALSE(item.isContainer);
    EXPECT_EQ(item.id, QStringLiteral("11"));
    EXPECT_EQ(item.date, QDateTime(QDate(2026, 3, 1), QTime(9, 0, 5)));
    ASSERT_EQ(item.resources.size(), 2u) << "the resource on another host is dropped";
    EXPECT_EQ(item.resources[0].url, QUrl(QStringLiteral("http://192.168.122.1:64321/orig/11")));
    EXPECT_EQ(item.resources[0].dlnaProfile, QStringLiteral("JPEG_LRG"));
    EXPECT_EQ(item.resources[0].mimeType, QStringLiteral("image/jpeg"));
    EXPECT_EQ(item.resources[0].size, 5242880u);
    EXPECT_EQ(item.resources[0].resolution, QSize(6000, 4000));
    EXPECT_EQ(item.resources[1].dlnaProfile, QStringLiteral("JPEG_TN"));
    EXPECT_EQ(item.resources[1].size, std::nullopt);
}

TEST(UpnpXml, LyingSizesAndDatesBecomeUnknown)
{
    struct Case {
        const char* size;
        const char* date;
        std::optional<quint64> expectedSize;
        bool dated;
    };
    const Case cases[] = {
        {"-5", "2026-13-45T99:00:00", std::nullopt, false},
        {"lots", "tomorrow", std::nullopt, false},
        {"99999999999999999999999", "9999-01-01T00:00:00", std::nullopt, false},
        {"1e9", "1900-01-01", std::nullopt, false},
        {"1024", "2026-03-01", 1024u, true},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.size);
        const auto parsed = parseDidlLite(
            didl(QStringLiteral("<item id=\"1\"><dc:title>a.jpg</dc:title><dc:date>%1</dc:date>"
                                "<res protocolInfo=\"http-get:*:image/jpeg:*\" size=\"%2\" resolution=\"-1x99999999\">/a</res></item>")
                     .arg(QLatin1String(each.date), QLatin1String(each.size))),
            kCamera);
        ASSERT_EQ(parsed.objects.size(), 1u) << parsed.error.toStdString();
        EXPECT_EQ(parsed.objects[0].resources.at(0).size, each.expectedSize);
        EXPECT_EQ(parsed.objects[0].resources.at(0).resolution, std::nullopt);
        EXPECT_EQ(parsed.objects[0].date.has_value(), each.dated);
    }
}

TEST(UpnpXml, HostileListingsAreRefused)
{
    QString deep;
    for (int i = 0; i < 500; ++i)
        deep += QStringLiteral("<x>");
    XmlLimits few;
    few.maxEntries = 3;
    QString many;
    for (int i = 0; i < 4; ++i)
        many += QStringLiteral("<item id=\"%1\"><dc:title>t</dc:title></item>").arg(i);
    struct Case {
        const char* what;
        QString xml;
        XmlLimits limits;
        const char* reason;
    };
    const Case cases[] = {
        {"entity declaration",
         QStringLiteral("<!DOCTYPE DIDL-Lite [<!ENTITY a \"lol\">]>") + didl(QStringLiteral("<item id=\"1\"><dc:title>&a;</dc:title></item>")),
         {}, "document type"},
        {"external reference",
         QStringLiteral("<!DOCTYPE DIDL-Lite SYSTEM \"http://203.0.113.9/evil.dtd\">") + didl(QString()), {}, "document type"},
        {"undeclared entity", didl(QStringLiteral("<item id=\"1\"><dc:title>&evil;</dc:title></item>")), {}, ""},
        {"deep nesting", didl(QStringLiteral("<item id=\"1\">") + deep), {}, "nested deeper"},
        {"no end", didl(QString()).chopped(12) + QStringLiteral("<item id=\"1\"><dc:title>"), {}, ""},
        {"too large", didl(QString(5 * 1024 * 1024, QLatin1Char(' '))), {}, "larger than"},
        {"too many objects", didl(many), few, "more than 3"},
        {"title markup", didl(QStringLiteral("<item id=\"1\"><dc:title><b>x</b></dc:title></item>")), {}, "holds elements"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        const auto parsed = parseDidlLite(each.xml, kCamera, each.limits);
        EXPECT_TRUE(parsed.objects.empty());
        EXPECT_FALSE(parsed.error.isEmpty());
        EXPECT_TRUE(parsed.error.contains(QLatin1String(each.reason))) << parsed.error.toStdString();
    }
    // Escaped markup and control characters in a title are text, handed on as they are for the path gate; a
    // character XML forbids (U+0001) makes the listing unreadable.
    EXPECT_TRUE(parseDidlLite(didl(QStringLiteral("<item id=\"1\"><dc:title>&#x1;</dc:title></item>")), kCamera).objects.empty());
    const auto hostileTitle = parseDidlLite(didl(QStringLiteral("<item id=\"1\"><dc:title>../&lt;b&gt;&#x7F;x&#9;.jpg</dc:title></item>")), kCamera);
    ASSERT_EQ(hostileTitle.objects.size(), 1u);
    EXPECT_EQ(hostileTitle.objects[0].title, QStringLiteral("../<b>\x7Fx\t.jpg"));
}

TEST(UpnpXml, BrowseRequestAndReplyRoundTripAndFaultsAreErrors)
{
    const auto request = parseBrowseRequest(browseRequestBody(QStringLiteral("a&<b"), 200, 100));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->objectId, QStringLiteral("a&<b"));
    EXPECT_EQ(request->browseFlag, QStringLiteral("BrowseDirectChildren"));
    EXPECT_EQ(request->startingIndex, 200u);
    EXPECT_EQ(request->requestedCount, 100u);

    const QByteArray reply =
        "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
        "<u:BrowseResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\">"
        "<Result>&lt;DIDL-Lite&gt;&lt;item id=\"7\"&gt;&lt;/item&gt;&lt;/DIDL-Lite&gt;</Result>"
        "<NumberReturned>1</NumberReturned><TotalMatches>4294967295</TotalMatches><UpdateID>1</UpdateID>"
        "</u:BrowseResponse></s:Body></s:Envelope>";
    const auto parsed = parseBrowseResponse(reply);
    ASSERT_TRUE(parsed.response) << parsed.error.toStdString();
    EXPECT_EQ(parsed.response->numberReturned, 1u);
    EXPECT_EQ(parsed.response->totalMatches, 4294967295u);
    EXPECT_EQ(parseDidlLite(parsed.response->result, kCamera).objects.size(), 1u);

    const QByteArray fault =
        "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><s:Fault><faultcode>s:Client</faultcode>"
        "<faultstring>UPnPError</faultstring><detail><UPnPError><errorCode>701</errorCode>"
        "<errorDescription>No such object</errorDescription></UPnPError></detail></s:Fault></s:Body></s:Envelope>";
    const auto faulted = parseBrowseResponse(fault);
    EXPECT_FALSE(faulted.response);
    EXPECT_TRUE(faulted.error.contains(QLatin1String("701"))) << faulted.error.toStdString();

    const auto lying = parseBrowseResponse("<Envelope><Result/><TotalMatches>-1</TotalMatches></Envelope>");
    EXPECT_FALSE(lying.response);
}

} // namespace
} // namespace vornakel::upnp
