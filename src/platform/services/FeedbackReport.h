#pragma once

#include "platform/core/Error.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace vornakel {

// What the user wrote in the feedback dialog. Without a vendor feedback service the report becomes a text file
// that the user can attach to an e-mail.
struct FeedbackReport {
    QString message;
    QString email;
    QDateTime date;
    QString appVersion;
};

struct FeedbackWriteResult {
    std::optional<QString> path;
    std::optional<Error> error;
};

namespace Feedback {

inline QString errorDomain() { return appIdentifierPrefix() + QStringLiteral(".feedback"); }
enum ErrorCode { EmptyMessage = 1, WriteFailed = 2 };

// "<XDG data>/com.vornakel.zediriri-zir/Feedback".
QString defaultFolder();
// The text that goes into the file.
QString formatReport(const FeedbackReport& report);
// Writes the report as "Feedback <date>.txt" (a counter is added when the name is taken) into the folder,
// through a temporary file in that folder; an empty message is refused.
FeedbackWriteResult writeReport(const FeedbackReport& report, const QString& folder = defaultFolder());

} // namespace Feedback
} // namespace vornakel
