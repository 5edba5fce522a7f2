#include "platform/camera/upnp/UpnpXml.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <limits>

namespace vornakel::upnp {

namespace {

// QXmlStreamReader with the refusals and bounds this file's header promises. Namespace processing is off:
// cameras are known to use prefixes they never declare, so elements are matched by their local names.
class BoundedReader {
public:
    BoundedReader(const QByteArray& data, const XmlLimits& limits) : m_limits(limits)
    {
        if (data.size() > limits.maxBytes)
            m_error = QStringLiteral("the document is larger than %1 bytes").arg(limits.maxBytes);
        else
            m_reader.addData(data);
        m_reader.setNamespaceProcessing(false);
    }
    BoundedReader(const QString& data, const XmlLimits& limits) : BoundedReader(QByteArray(), limits)
    {
        if (data.size() > limits.maxBytes / 2)
            m_error = QStringLiteral("the document is larger than %1 bytes").arg(limits.maxBytes);
        else
            m_reader.addData(data);
    }

    // The next start or end element or text; false at the end of the document or on an error.
    bool next()
    {
        while (m_error.isEmpty()) {
            const auto token = m_reader.readNext();
            switch (token) {
            case QXmlStreamReader::DTD:
                return fail(QStringLiteral("a document type declaration is refused"));
            case QXmlStreamReader::EntityReference:
                return fail(QStringLiteral("the entity reference \"%1\" is refused").arg(m_reader.name()));
            case QXmlStreamReader::StartElement:
                if (++m_depth > m_limits.maxDepth)
                    return fail(QStringLiteral("elements are nested deeper than %1").arg(m_limits.maxDepth));
                return true;
            case QXmlStreamReader::EndElement:
                --m_depth;
                return true;
            case QXmlStreamReader::Characters:
                return true;
            case QXmlStreamReader::Invalid:
                if (m_reader.error() == QXmlStreamReader::PrematureEndOfDocumentError)
                    return fail(QStringLiteral("the document ends early"));
                return fail(m_reader.errorString());
            case QXmlStreamReader::EndDocument:
                return false;
            default:
                break; // declarations, comments, processing instructions
            }
        }
        return false;
    }

    bool isStart() const { return m_reader.tokenType() == QXmlStreamReader::StartElement; }
    bool isEnd() const { return m_reader.tokenType() == QXmlStreamReader::EndElement; }
    int depth() const { return m_depth; }
    // The element's name without its prefix.
    QString localName() const
    {
        const QStringView name = m_reader.qualifiedName();
        const qsizetype colon = name.lastIndexOf(QLatin1Char(':'));
        return (colon >= 0 ? name.mid(colon + 1) : name).toString();
    }
    QString attribute(const QString& localName) const
    {
        for (const QXmlStreamAttribute& attribute : m_reader.attributes()) {
            const QStringView name = attribute.qualifiedName();
            const qsizetype colon = name.lastIndexOf(QLatin1Char(':'));
            if ((colon >= 0 ? name.mid(colon + 1) : name) == localName)
                return attribute.value().toString();
        }
        return {};
    }

    // The text of the element just started, read up to its end; at most `maxChars` characters, no child
    // elements. None on an error.
    std::optional<QString> text(qsizetype maxChars = -1)
    {
        if (maxChars < 0)
            maxChars = m_limits.maxTextBytes;
        const int depth = m_depth;
        QString text;
        while (next()) {
            if (isEnd() && m_depth == depth - 1)
                return text;
            if (isStart()) {
                fail(QStringLiteral("the element \"%1\" holds elements where text was expected").arg(localName()));
                return std::nullopt;
            }
            text += m_reader.text();
            if (text.size() > maxChars) {
                fail(QStringLiteral("a text is longer than %1 characters").arg(maxChars));
                return std::nullopt;
            }
        }
        if (m_error.isEmpty())
            fail(QStringLiteral("the document ends early"));
        return std::nullopt;
    }

    // Reads past the end of the element just started.
    bool skip()
    {
        const int depth = m_depth;
        while (next()) {
            if (isEnd() && m_depth == depth - 1)
                return true;
        }
        if (m_error.isEmpty())
            fail(QStringLiteral("the document ends early"));
        return false;
    }

    bool fail(const QString& message)
    {
        if (m_error.isEmpty())
            m_error = message;
        return false;
    }
    const QString& error() const { return m_error; }

private:
    QXmlStreamReader m_reader;
    XmlLimits m_limits;
    int m_depth = 0;
    QString m_error;
};

// A URL from the document, resolved and kept only when it is HTTP on the document's own host.
QUrl sameHostUrl(const QUrl& base, const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    const QUrl url = base.resolved(QUrl(trimmed, QUrl::StrictMode));
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().compare(base.host(), Qt::CaseInsensitive) != 0)
        return {};
    return url;
}

std::optional<quint32> parseCount(const QString& text)
{
    bool ok = false;
    const qulonglong value = text.trimmed().toULongLong(&ok);
    if (!ok || value > std::numeric_limits<quint32>::max())
        return std::nullopt;
    return quint32(value);
}

} // namespace

std::optional<ServiceDescription> DeviceDescription::service(const QString& serviceType) const
{
    // "…:ContentDirectory:1" also matches a later version, which keeps the calls of version 1.
    const QString stem = serviceType.section(QLatin1Char(':'), 0, -2) + QLatin1Char(':');
    for (const ServiceDescription& each : services) {
        if (each.serviceType == serviceType || each.serviceType.startsWith(stem))
            return each;
    }
    return std::nullopt;
}

DescriptionResult parseDeviceDescription(const QByteArray& xml, const QUrl& documentUrl, const XmlLimits& limits)
{
    BoundedReader reader(xml, limits);
    DeviceDescription description;
    QUrl base = documentUrl;
    struct RawService {
        QString type, id, control;
    };
    std::vector<RawService> services;
    int rootDeviceDepth = -1;
    bool sawRoot = false;
    while (reader.next()) {
        if (!reader.isStart())
            continue;
        const QString name = reader.localName();
        if (reader.depth() == 1) {
            if (name != QLatin1String("root"))
                return {std::nullopt, QStringLiteral("not a device description (root element \"%1\")").arg(name)};
            sawRoot = true;
            continue;
        }
        if (name == QLatin1String("URLBase") && reader.depth() == 2) {
            const auto text = reader.text();
            if (!text)
                break;
            const QUrl url = sameHostUrl(documentUrl, *text);
            if (url.isValid())
                base = url;
            continue;
        }
        if (name == QLatin1String("device") && rootDeviceDepth < 0) {
            rootDeviceDepth = reader.depth();
            continue;
        }
        if (name == QLatin1String("service")) {
            if (int(services.size()) >= limits.maxEntries)
                return {std::nullopt, QStringLiteral("more than %1 services").arg(limits.maxEntries)};
            RawService service;
            const int depth = reader.depth();
            while (reader.next() && !(reader.isEnd() && reader.depth() == depth - 1)) {
                if (!reader.isStart())
                    continue;
                const QString field = reader.localName();
                QString* into = field == QLatin1String("serviceType") ? &service.type
                    : field == QLatin1String("serviceId")             ? &service.id
                    : field == QLatin1String("controlURL")            ? &service.control
                                                                      : nullptr;
                if (into) {
                    const auto text = reader.text();
                    if (!text)
                        break;
                    *into = text->trimmed();
                } else if (!reader.skip()) {
                    break;
                }
            }
            services.push_back(service);
            continue;
        }
        if (reader.depth() == rootDeviceDepth + 1) {
            QString* into = name == QLatin1String("deviceType") ? &description.deviceType
                : name == QLatin1String("friendlyName")         ? &description.friendlyName
                : name == QLatin1String("manufacturer")         ? &description.manufacturer
                : name == QLatin1String("modelName")            ? &description.modelName
                : name == QLatin1String("modelNumber")          ? &description.modelNumber
                : name == QLatin1String("UDN")                  ? &description.udn
                                                                : nullptr;
            if (into) {
                const auto text = reader.text(1024);
                if (!text)
                    break;
                *into = text->trimmed();
            }
        }
    }
    if (!reader.error().isEmpty())
        return {std::nullopt, reader.error()};
    if (!sawRoot || rootDeviceDepth < 0)
        return {std::nullopt, QStringLiteral("not a device description")};
    for (const RawService& raw : services) {
        ServiceDescription service;
        service.serviceType = raw.type;
        service.serviceId = raw.id;
        service.controlUrl = sameHostUrl(base, raw.control);
        if (!service.serviceType.isEmpty() && service.controlUrl.isValid())
            description.services.push_back(service);
    }
    return {description, {}};
}

QByteArray browseRequestBody(const QString& objectId, quint32 startingIndex, quint32 requestedCount)
{
    QByteArray body;
    QXmlStreamWriter writer(&body);
    writer.writeStartDocument();
    writer.writeNamespace(QStringLiteral("http://schemas.xmlsoap.org/soap/envelope/"), QStringLiteral("s"));
    writer.writeStartElement(QStringLiteral("http://schemas.xmlsoap.org/soap/envelope/"), QStringLiteral("Envelope"));
    writer.writeAttribute(QStringLiteral("http://schemas.xmlsoap.org/soap/envelope/"), QStringLiteral("encodingStyle"),
                          QStringLiteral("http://schemas.xmlsoap.org/soap/encoding/"));
    writer.writeStartElement(QStringLiteral("http://schemas.xmlsoap.org/soap/envelope/"), QStringLiteral("Body"));
    writer.writeNamespace(contentDirectoryServiceType(), QStringLiteral("u"));
    writer.writeStartElement(contentDirectoryServiceType(), QStringLiteral("Browse"));
    writer.writeTextElement(QStringLiteral("ObjectID"), objectId);
    writer.writeTextElement(QStringLiteral("BrowseFlag"), QStringLiteral("BrowseDirectChildren"));
    writer.writeTextElement(QStringLiteral("Filter"), QStringLiteral("*"));
    writer.writeTextElement(QStringLiteral("StartingIndex"), QString::number(startingIndex));
    writer.writeTextElement(QStringLiteral("RequestedCount"), QString::number(requestedCount));
    writer.writeTextElement(QStringLiteral("SortCriteria"), QString());
    writer.writeEndDocument();
    return body;
}

BrowseResult parseBrowseResponse(const QByteArray& xml, const XmlLimits& limits)
{
    BoundedReader reader(xml, limits);
    BrowseResponse response;
    bool sawResult = false;
    QString faultCode;
    QString faultText;
    while (reader.next()) {
        if (!reader.isStart())
            continue;
        const QString name = reader.localName();
        if (name == QLatin1String("Result")) {
            const auto text = reader.text(limits.maxBytes);
            if (!text)
                break;
            response.result = *text;
            sawResult = true;
        } else if (name == QLatin1String("NumberReturned") || name == QLatin1String("TotalMatches")) {
            const auto text = reader.text(32);
            if (!text)
                break;
            const auto count = parseCount(*text);
            if (!count)
                return {std::nullopt, QStringLiteral("%1 is not a count: \"%2\"").arg(name, text->left(32))};
            (name == QLatin1String("NumberReturned") ? response.numberReturned : response.totalMatches) = *count;
        } else if (name == QLatin1String("errorCode") || name == QLatin1String("faultstring")
                   || name == QLatin1String("errorDescription")) {
            const auto text = reader.text(512);
            if (!text)
                break;
            (name == QLatin1String("errorCode") ? faultCode : faultText) = text->trimmed();
        }
    }
    if (!reader.error().isEmpty())
        return {std::nullopt, reader.error()};
    if (!faultCode.isEmpty() || !faultText.isEmpty())
        return {std::nullopt, QStringLiteral("the server answered with a fault: %1 %2").arg(faultCode, faultText).trimmed()};
    if (!sawResult)
        return {std::nullopt, QStringLiteral("the reply has no Result")};
    return {response, {}};
}

std::optional<BrowseRequest> parseBrowseRequest(const QByteArray& xml, const XmlLimits& limits)
{
    BoundedReader reader(xml, limits);
    BrowseRequest request;
    bool sawObject = false;
    while (reader.next()) {
        if (!reader.isStart())
            continue;
        const QString name = reader.localName();
        if (name != QLatin1String("ObjectID") && name != QLatin1String("BrowseFlag")
            && name != QLatin1String("StartingIndex") && name != QLatin1String("RequestedCount"))
            continue;
        const auto text = reader.text(1024);
        if (!text)
            return std::nullopt;
        if (name == QLatin1String("ObjectID")) {
            request.objectId = text->trimmed();
            sawObject = true;
        } else if (name == QLatin1String("BrowseFlag")) {
            request.browseFlag = text->trimmed();
        } else {
            const auto count = parseCount(*text);
            if (!count)
                return std::nullopt;
            (name == QLatin1String("StartingIndex") ? request.startingIndex : request.requestedCount) = *count;
        }
    }
    if (!reader.error().isEmpty() || !sawObject)
        return std::nullopt;
    return request;
}

std::optional<QDateTime> parseDidlDate(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.size() < 10 || trimmed.size() > 40)
        return std::nullopt;
    QDateTime date = QDateTime::fromString(trimmed, Qt::ISODateWithMs);
    if (!date.isValid())
        date = QDateTime::fromString(trimmed, Qt::ISODate);
    if (!date.isValid() && trimmed.size() == 10)
        date = QDateTime(QDate::fromString(trimmed, Qt::ISODate), QTime(0, 0));
    if (!date.isValid() || date.date().year() < 1970 || date.date().year() > 2200)
        return std::nullopt;
    return date;
}

namespace {

Resource resourceOf(const QString& protocolInfo, const QString& size, const QString& resolution, const QUrl& url)
{
    Resource resource;
    resource.url = url;
    resource.protocolInfo = protocolInfo.left(1024);
    const QStringList fields = resource.protocolInfo.split(QLatin1Char(':'));
    if (fields.size() >= 3)
        resource.mimeType = fields[2].trimmed().toLower();
    if (fields.size() >= 4) {
        for (const QString& parameter : fields[3].split(QLatin1Char(';'))) {
            if (parameter.startsWith(QLatin1String("DLNA.ORG_PN="), Qt::CaseInsensitive))
                resource.dlnaProfile = parameter.mid(12).trimmed().toUpper();
        }
    }
    bool ok = false;
    const qulonglong bytes = size.trimmed().toULongLong(&ok);
    if (ok && !size.trimmed().startsWith(QLatin1Char('-')))
        resource.size = quint64(bytes);
    const QStringList sides = resolution.trimmed().split(QLatin1Char('x'));
    if (sides.size() == 2) {
        bool widthOk = false;
        bool heightOk = false;
        const int width = sides[0].toInt(&widthOk);
        const int height = sides[1].toInt(&heightOk);
        if (widthOk && heightOk && width > 0 && height > 0 && width <= 100000 && height <= 100000)
            resource.resolution = QSize(width, height);
    }
    return resource;
}

} // namespace

DidlResult parseDidlLite(const QString& didl, const QUrl& baseUrl, const XmlLimits& limits)
{
    BoundedReader reader(didl, limits);
    DidlResult result;
    bool sawRoot = false;
    while (reader.next()) {
        if (!reader.isStart())
            continue;
        const QString name = reader.localName();
        if (reader.depth() == 1) {
            if (name != QLatin1String("DIDL-Lite"))
                return {{}, QStringLiteral("not a DIDL-Lite listing (root element \"%1\")").arg(name.left(64))};
            sawRoot = true;
            continue;
        }
        if (reader.depth() != 2 || (name != QLatin1String("container") && name != QLatin1String("item"))) {
            if (!reader.skip())
                break;
            continue;
        }
        if (int(result.objects.size()) >= limits.maxEntries)
            return {{}, QStringLiteral("more than %1 objects in one listing").arg(limits.maxEntries)};
        DidlObject object;
        object.isContainer = name == QLatin1String("container");
        object.id = reader.attribute(QStringLiteral("id")).left(1024);
        object.parentId = reader.attribute(QStringLiteral("parentID")).left(1024);
        bool failed = false;
        while (!failed && reader.next() && !(reader.isEnd() && reader.depth() == 1)) {
            if (!reader.isStart())
                continue;
            const QString field = reader.localName();
            if (field == QLatin1String("res")) {
                if (int(object.resources.size()) >= limits.maxEntries) {
                    failed = !reader.fail(QStringLiteral("more than %1 resources of one object").arg(limits.maxEntries));
                    break;
                }
                const QString protocolInfo = reader.attribute(QStringLiteral("protocolInfo"));
                const QString size = reader.attribute(QStringLiteral("size"));
                const QString resolution = reader.attribute(QStringLiteral("resolution"));
                const auto text = reader.text(4096);
                if (!text) {
                    failed = true;
                    break;
                }
                const QUrl url = sameHostUrl(baseUrl, *text);
                if (url.isValid())
                    object.resources.push_back(resourceOf(protocolInfo, size, resolution, url));
                continue;
            }
            QString* into = field == QLatin1String("title") ? &object.title
                : field == QLatin1String("class")           ? &object.upnpClass
                                                            : nullptr;
            if (into || field == QLatin1String("date") || field == QLatin1String("albumArtURI")) {
                const auto text = reader.text(4096);
                if (!text) {
                    failed = true;
                    break;
                }
                if (into)
                    *into = text->trimmed();
                else if (field == QLatin1String("date"))
                    object.date = parseDidlDate(*text);
                else if (!object.albumArt.isValid())
                    object.albumArt = sameHostUrl(baseUrl, *text);
            } else if (!reader.skip()) {
                failed = true;
            }
        }
        if (!reader.error().isEmpty())
            break;
        if (!object.id.isEmpty())
            result.objects.push_back(std::move(object));
    }
    if (!reader.error().isEmpty())
        return {{}, reader.error()};
    if (!sawRoot)
        return {{}, QStringLiteral("not a DIDL-Lite listing")};
    return result;
}

} // namespace vornakel::upnp
