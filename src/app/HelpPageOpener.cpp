#include "app/HelpPageOpener.h"

#include <QProcess>

#include <memory>
#include <utility>

namespace vornakel {

HelpPageOpener::HelpPageOpener(QString program, QObject* parent) : QObject(parent), m_program(std::move(program)) {}

HelpPageOpener::~HelpPageOpener()
{
    // An opener that runs the browser in the foreground lasts as long as the browser; quitting must not end
    // the browser the user reads the help in, so a running opener is let go instead of killed.
    for (QProcess* process : findChildren<QProcess*>(Qt::FindDirectChildrenOnly)) {
        process->disconnect();
        if (process->state() != QProcess::NotRunning)
            process->setParent(nullptr);
    }
}

void HelpPageOpener::open(const QUrl& page, std::function<void(bool opened)> done)
{
    auto* process = new QProcess(this);
    auto answer = std::make_shared<std::function<void(bool)>>(std::move(done));
    const auto report = [process, answer](bool opened) {
        if (*answer)
            std::exchange(*answer, {})(opened);
        process->deleteLater();
    };
    connect(process, &QProcess::finished, this, [report](int exitCode, QProcess::ExitStatus status) {
        report(status == QProcess::NormalExit && exitCode == 0);
    });
    connect(process, &QProcess::errorOccurred, this, [report](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            report(false);
    });
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(m_program, {page.toString()});
}

} // namespace vornakel
