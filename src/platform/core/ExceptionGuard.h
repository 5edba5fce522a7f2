#pragma once

#include "platform/core/Error.h"

#include <QVariantMap>

#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace vornakel {

// The exception that platform calls (file handles and the like) raise, with a name, a reason and details.
// Ordinary C++ exceptions are not of this kind.
class PlatformException : public std::exception {
public:
    PlatformException(QString name, QString reason, QVariantMap userInfo = {})
        : m_name(std::move(name)), m_reason(std::move(reason)), m_userInfo(std::move(userInfo)),
          m_what(m_reason.toStdString()) {}
    const char* what() const noexcept override { return m_what.c_str(); }
    const QString& name() const { return m_name; }
    const QString& reason() const { return m_reason; }
    const QVariantMap& userInfo() const { return m_userInfo; }

private:
    QString m_name;
    QString m_reason;
    QVariantMap m_userInfo;
    std::string m_what;
};

namespace SwiftBridgingHelpers {

inline QString interopErrorDomain() { return appIdentifierPrefix() + QStringLiteral(".swift-objc-interop"); }

// Runs the block. Answers true when it ran to its end (the error is left untouched). When it raises a
// PlatformException, answers false and, when `error` is given, stores an error of the interop domain, code 1,
// carrying the exception's user info. Any other exception passes on to the caller.
bool guardForObjCExceptions(const std::function<void()>& block, std::optional<Error>* error);

} // namespace SwiftBridgingHelpers
} // namespace vornakel
