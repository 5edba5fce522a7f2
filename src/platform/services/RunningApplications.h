#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace vornakel {

// Running instances of a desktop application, named by its desktop-entry id. An instance is attributed to the
// application by the entry's command line, never by an executable's name alone: an editor hosted by an
// interpreter shares that interpreter's name with every other program it runs.
class RunningApplications {
public:
    virtual ~RunningApplications() = default;

    // Process ids of the running instances, oldest first.
    virtual std::vector<qint64> instances(const QString& desktopId) const = 0;
    // Asks the process to quit the way a session manager would; answers whether it could be asked.
    virtual bool terminate(qint64 pid) = 0;
    virtual bool isTerminated(qint64 pid) const = 0;
    // Hides the instance's windows where the desktop allows it; answers whether it did.
    virtual bool hide(qint64 pid) = 0;
};

// The processes of this user found in /proc, matched against desktop entries under the XDG applications folders.
class SystemRunningApplications : public RunningApplications {
public:
    std::vector<qint64> instances(const QString& desktopId) const override;
    bool terminate(qint64 pid) override;
    bool isTerminated(qint64 pid) const override;
    bool hide(qint64 pid) override;

    // Whether a process runs the entry's command: its program (resolved to a canonical path, compared with the
    // process's executable or its first or, for a script started through its interpreter, second argument),
    // followed by the command's fixed arguments.
    static bool commandLineMatches(const QStringList& processArguments, const QString& processExecutable,
                                   const QStringList& entryCommand);
};

} // namespace vornakel
