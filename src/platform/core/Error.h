#pragma once

#include <QString>
#include <QVariantMap>

namespace vornakel {

// A failure reported as a value: a domain, a numeric code and optional details.
struct Error {
    QString domain;
    int code = 0;
    QVariantMap userInfo;
    QString message;

    Error() = default;
    Error(QString domain_, int code_, QString message_ = {}, QVariantMap userInfo_ = {})
        : domain(std::move(domain_)), code(code_), userInfo(std::move(userInfo_)), message(std::move(message_)) {}

    bool operator==(const Error& other) const { return domain == other.domain && code == other.code; }
    QString description() const
    {
        return message.isEmpty() ? QStringLiteral("%1 error %2").arg(domain).arg(code)
                                 : QStringLiteral("%1 (%2 error %3)").arg(message, domain).arg(code);
    }
};

// The reverse-DNS prefix of all our identifiers, and the application's own identifier.
inline QString appIdentifierPrefix() { return QStringLiteral(VKL_APP_IDENTIFIER_PREFIX); }
inline QString bundleIdentifier() { return QStringLiteral(VKL_BUNDLE_IDENTIFIER); }

} // namespace vornakel
