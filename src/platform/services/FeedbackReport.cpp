#include "platform/services/FeedbackReport.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSysInfo>

namespace vornakel {

QString Feedback::defaultFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(base).filePath(bundleIdentifier() + QStringLiteral("/Feedback"));
}

QString Feedback::formatReport(const FeedbackReport& report)
{
    QString text;
    text += QStringLiteral("Vornakel Transfer feedback\n");
    text += QStringLiteral("Date: %1\n").arg(report.date.toUTC().toString(Qt::ISODate));
    text += QStringLiteral("Version: %1\n").arg(report.appVersion);
    text += QStringLiteral("System: %1 (%2)\n").arg(QSysInfo::prettyProductName(), QSysInfo::currentCpuArchitecture());
    if (!report.email.trimmed().isEmpty())
        text += QStringLiteral("Reply to: %1\n").arg(report.email.trimmed());
    text += QStringLiteral("\n%1\n").arg(report.message.trimmed());
    return text;
}

FeedbackWriteResult Feedback::writeReport(const FeedbackReport& report, const QString& folder)
{
    if (report.message.trimmed().isEmpty())
        return {std::nullopt, Error(errorDomain(), EmptyMessage, QStringLiteral("The feedback message is empty."))};
    if (!QDir().mkpath(folder))
        return {std::nullopt, Error(errorDomain(), WriteFailed, QStringLiteral("Cannot create %1.").arg(folder))};

    const QString stem = QStringLiteral("Feedback %1").arg(report.date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")));
    QString path = QDir(folder).filePath(stem + QStringLiteral(".txt"));
    for (int counter = 2; QFileInfo::exists(path); ++counter)
        path = QDir(folder).filePath(QStringLiteral("%1 %2.txt").arg(stem).arg(counter));

    // QSaveFile writes to a temporary file beside the target and renames it, removing it on failure.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)
        || file.write(formatReport(report).toUtf8()) < 0 || !file.commit()) {
        return {std::nullopt, Error(errorDomain(), WriteFailed, file.errorString())};
    }
    return {path, std::nullopt};
}

} // namespace vornakel
