#pragma once

#include "platform/core/Error.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <vector>

namespace vornakel {

// Opening documents and addresses, showing files in the file manager, and finding, launching and quitting other
// applications. Applications are named by their desktop-entry id ("org.gnome.Nautilus" or
// "org.gnome.Nautilus.desktop") or by an executable name or path.
class Workspace {
public:
    virtual ~Workspace() = default;

    virtual bool openUrl(const QUrl& url) = 0;
    // Shows the file selected in the file manager, or at least opens its folder.
    virtual bool revealFile(const QString& path) = 0;
    // The desktop entry's file or the executable's path; none when the application is not installed.
    virtual std::optional<QString> locateApplication(const QString& application) const = 0;
    [[nodiscard]] virtual std::optional<Error> launchApplication(const QString& application, const QStringList& arguments = {}) = 0;
    // Process ids of running processes whose executable has this file name.
    virtual std::vector<qint64> runningProcesses(const QString& executableName) const = 0;
    // Asks every such process to quit (SIGTERM); answers whether one was asked.
    virtual bool quitApplication(const QString& executableName) = 0;

    inline static QString errorDomain() { return appIdentifierPrefix() + QStringLiteral(".workspace"); }
    enum ErrorCode { ApplicationNotFound = 1, LaunchFailed = 2 };
};

// The workspace of the desktop session: QDesktopServices, the freedesktop file-manager interface on D-Bus,
// desktop entries under the XDG applications folders, and /proc.
class SystemWorkspace : public Workspace {
public:
    bool openUrl(const QUrl& url) override;
    bool revealFile(const QString& path) override;
    std::optional<QString> locateApplication(const QString& application) const override;
    [[nodiscard]] std::optional<Error> launchApplication(const QString& application, const QStringList& arguments = {}) override;
    std::vector<qint64> runningProcesses(const QString& executableName) const override;
    bool quitApplication(const QString& executableName) override;

    // The command line of a desktop entry's Exec key with its field codes ("%f", "%U", ...) removed.
    static QStringList commandFromDesktopEntry(const QString& desktopFilePath);
};

} // namespace vornakel
