#include "platform/loginitems/LoginItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace vornakel {

LoginItem::LoginItem(QString identifier, QString displayName, QString program, QStringList arguments)
    : m_identifier(std::move(identifier)), m_displayName(std::move(displayName)), m_program(std::move(program)),
      m_arguments(std::move(arguments))
{
}

QString LoginItem::autostartFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
}

QString LoginItem::entryPath() const { return autostartFolder() + QLatin1Char('/') + m_identifier + QStringLiteral(".desktop"); }

bool LoginItem::isEnabled() const { return QFileInfo::exists(entryPath()); }

QString quotedExecArgument(const QString& argument)
{
    // Desktop entries take arguments in double quotes with ", `, $ and \ escaped by a backslash; the key's
    // value then escapes each backslash once more.
    QString quoted;
    for (QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString LoginItem::desktopEntry() const
{
    QStringList exec{quotedExecArgument(m_program)};
    for (const QString& argument : m_arguments)
        exec.append(quotedExecArgument(argument));
    QString name = m_displayName;
    name.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=%1\n"
                          "Exec=%2\n"
                          "NoDisplay=true\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(name, exec.join(QLatin1Char(' ')));
}

std::optional<Error> LoginItem::setEnabled(bool enabled)
{
    const QString path = entryPath();
    if (!enabled) {
        if (QFileInfo::exists(path) && !QFile::remove(path))
            return Error(loginItemErrorDomain(), LoginItemErrorRemoveFailed,
                         QStringLiteral("Could not remove the login item %1.").arg(path));
        return std::nullopt;
    }
    if (!QDir().mkpath(autostartFolder()))
        return Error(loginItemErrorDomain(), LoginItemErrorWriteFailed,
                     QStringLiteral("Could not create the folder %1.").arg(autostartFolder()));
    // QSaveFile writes a temporary file beside the entry and renames it into place on commit.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(desktopEntry().toUtf8()) < 0 || !file.commit())
        return Error(loginItemErrorDomain(), LoginItemErrorWriteFailed,
                     QStringLiteral("Could not write the login item %1: %2").arg(path, file.errorString()));
    return std::nullopt;
}

} // namespace vornakel
