#include "lightroom/PluginMessages.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <cmath>

namespace vornakel::PluginMessages {
namespace {

std::optional<QJsonValue> toJson(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            const std::optional<QJsonValue> element = toJson(it.value());
            if (!element)
                return std::nullopt;
            object.insert(it.key(), *element);
        }
        return object;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        QJsonArray array;
        for (const QVariant& item : value.toList()) {
            const std::optional<QJsonValue> element = toJson(item);
            if (!element)
                return std::nullopt;
            array.append(*element);
        }
        return array;
    }
    case QMetaType::Double:
    case QMetaType::Float:
        if (!std::isfinite(value.toDouble()))
            return std::nullopt;
        return QJsonValue(value.toDouble());
    case QMetaType::Nullptr:
        return QJsonValue(QJsonValue::Null);
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::QString:
        return QJsonValue::fromVariant(value);
    default:
        return std::nullopt;
    }
}

LrPluginRequestError error(LrPluginRequestError::Kind kind, QString message = {})
{
    return LrPluginRequestError{kind, std::move(message)};
}

} // namespace

std::optional<QByteArray> encodeRequest(const QVariantMap& request, qint64 context)
{
    QVariantMap withContext = request;
    withContext.insert(QStringLiteral("context"), context);
    const std::optional<QJsonValue> json = toJson(withContext);
    if (!json)
        return std::nullopt;
    return QJsonDocument(json->toObject()).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<Reply> parseReplyLine(const QByteArray& line)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject body = document.object();
    const QJsonValue context = body.value(QStringLiteral("context"));
    if (!context.isDouble())
        return std::nullopt;
    const double number = context.toDouble();
    // Beyond 2^53 a double no longer tells neighbouring integers apart.
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > 9007199254740992.0)
        return std::nullopt;
    return Reply{static_cast<qint64>(number), body};
}

std::optional<QString> sanitizedPeerPath(const QString& path)
{
    if (path.isEmpty() || path.contains(QChar(u'\0')) || !QDir::isAbsolutePath(path) || !path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    return QDir::cleanPath(path);
}

std::variant<LrPluginRequestError, QString> parseCatalogPathResponse(const QJsonObject& reply)
{
    const QJsonValue path = reply.value(QStringLiteral("path"));
    if (!path.isString())
        return error(LrPluginRequestError::invalidResponse);
    const std::optional<QString> clean = sanitizedPeerPath(path.toString());
    if (!clean)
        return error(LrPluginRequestError::invalidResponse);
    return *clean;
}

std::variant<LrPluginRequestError, QStringList> parseCatalogFoldersResponse(const QJsonObject& reply)
{
    const QJsonValue paths = reply.value(QStringLiteral("paths"));
    if (!paths.isArray())
        return error(LrPluginRequestError::invalidResponse);
    QStringList folders;
    for (const QJsonValue& item : paths.toArray()) {
        const std::optional<QString> clean = item.isString() ? sanitizedPeerPath(item.toString()) : std::nullopt;
        if (!clean)
            return error(LrPluginRequestError::invalidResponse);
        folders << *clean;
    }
    return folders;
}

std::optional<LrPluginRequestError> parseSuccessResponse(const QJsonObject& reply)
{
    const QJsonValue result = reply.value(QStringLiteral("result"));
    if (!result.isString())
        return error(LrPluginRequestError::invalidResponse);
    if (result.toString() != QStringLiteral("success"))
        return error(LrPluginRequestError::remoteOperationFailed);
    return std::nullopt;
}

std::optional<LrPluginRequestError> parseSuccessOrErrorResponse(const QJsonObject& reply)
{
    if (reply.value(QStringLiteral("result")).isString())
        return parseSuccessResponse(reply);
    const QJsonValue message = reply.value(QStringLiteral("error"));
    if (message.isString())
        return error(LrPluginRequestError::remoteOperationFailedWithMessage, message.toString());
    return error(LrPluginRequestError::invalidResponse);
}

} // namespace vornakel::PluginMessages
