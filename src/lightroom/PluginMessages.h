#pragma once

#include "lightroom/LrPluginTypes.h"

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>
#include <QVariantMap>

#include <optional>
#include <variant>

namespace vornakel::PluginMessages {

// One request line: the request with its "context" set (replacing any given), as compact JSON and a newline.
// None when a value has no JSON form (a non-finite number, an object JSON cannot carry).
std::optional<QByteArray> encodeRequest(const QVariantMap& request, qint64 context);

struct Reply {
    qint64 context = 0;
    QJsonObject body;
};
// A reply line: a JSON object whose "context" is a number with an exact integer value. None otherwise.
std::optional<Reply> parseReplyLine(const QByteArray& line);

// A path named by the plug-in, cleaned; none unless it is absolute and free of NUL characters.
std::optional<QString> sanitizedPeerPath(const QString& path);

// The reply mappings of the commands.
std::variant<LrPluginRequestError, QString> parseCatalogPathResponse(const QJsonObject& reply);
std::variant<LrPluginRequestError, QStringList> parseCatalogFoldersResponse(const QJsonObject& reply);
// "operationStarted", "operationEnded": "result" is "success" or the plug-in failed.
std::optional<LrPluginRequestError> parseSuccessResponse(const QJsonObject& reply);
// "addImageToCatalog": as above, and a failure may carry the plug-in's "error" text instead.
std::optional<LrPluginRequestError> parseSuccessOrErrorResponse(const QJsonObject& reply);

} // namespace vornakel::PluginMessages
