#pragma once

#include "platform/core/Error.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace vornakel {

// A program started when the user logs in: an XDG autostart entry "<identifier>.desktop" in
// "$XDG_CONFIG_HOME/autostart".
class LoginItem {
public:
    LoginItem(QString identifier, QString displayName, QString program, QStringList arguments = {});

    static QString autostartFolder();
    QString entryPath() const;
    bool isEnabled() const;
    // Writes the entry atomically, or removes it; an error when the file system refuses.
    [[nodiscard]] std::optional<Error> setEnabled(bool enabled);
    // The entry's text.
    QString desktopEntry() const;

private:
    QString m_identifier;
    QString m_displayName;
    QString m_program;
    QStringList m_arguments;
};

// One argument quoted for the Exec key of a desktop entry.
QString quotedExecArgument(const QString& argument);

inline QString loginItemErrorDomain() { return QStringLiteral(VKL_APP_IDENTIFIER_PREFIX ".login-items"); }
enum LoginItemErrorCode : int {
    LoginItemErrorWriteFailed = 1,
    LoginItemErrorRemoveFailed = 2,
    LoginItemErrorLaunchFailed = 3,
};

} // namespace vornakel
