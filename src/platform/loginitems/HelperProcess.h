#pragma once

#include "platform/core/Error.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QLocalServer;

namespace vornakel {

// Controls a helper program from the outside: whether it runs, starting it and asking it to quit. A running
// helper holds a local socket named after its identifier in the user's runtime folder (HelperInstance).
class HelperProcess {
public:
    HelperProcess(QString identifier, QString program, QStringList arguments = {});
    virtual ~HelperProcess() = default;

    // "$XDG_RUNTIME_DIR/<identifier>-<user id>-<digest of the home folder>.socket".
    static QString socketPath(const QString& identifier);

    const QString& identifier() const { return m_identifier; }
    const QString& program() const { return m_program; }
    const QStringList& arguments() const { return m_arguments; }

    // True while the helper answers on its socket, while a helper this object started is alive but has not
    // opened its socket yet, and while any process of this user runs the program (one started under another
    // runtime folder or home has its socket elsewhere, and is still this user's helper).
    virtual bool isRunning() const;
    // Starts the program detached from this process; an error when it cannot be started.
    [[nodiscard]] virtual std::optional<Error> launch();
    // Asks the running helper to quit, and ends this user's other processes of the program; false when none
    // answered and none was ended.
    virtual bool requestQuit();
    // Asks the running instance to bring itself forward; false when none answered.
    bool requestActivation();

private:
    QString m_identifier;
    QString m_program;
    QStringList m_arguments;
    qint64 m_launchedProcess = 0;
};

// Whether a process of that id exists and has not ended (a zombie counts as ended).
bool processIsAlive(qint64 processId);
// The ids of this user's live processes that run the program file at `program` (after resolving links) under
// this process's home folder, this process left out. The home folder, like the socket's name, keeps apart the
// sessions of one user that keep their settings in different homes (and test programs, each in its own home).
QList<qint64> processesRunningProgram(const QString& program);

// The running program's side: claims the socket, so that only one instance runs, and reports requests. The
// helper uses it, and so does the application, which like a desktop app elsewhere runs once per user.
class HelperInstance : public QObject {
    Q_OBJECT
public:
    explicit HelperInstance(QString identifier, QObject* parent = nullptr);
    ~HelperInstance() override;

    // False when another instance already runs or the socket cannot be made.
    bool claim();

signals:
    void quitRequested();
    void activationRequested();

private:
    QString m_identifier;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace vornakel
