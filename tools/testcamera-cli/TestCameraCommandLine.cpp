#include "testcamera-cli/TestCameraCommandLine.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace vornakel::tools {

TestCameraCommandLine::TestCameraCommandLine(const Texts& texts, quint16 defaultPort)
    : port(QStringLiteral("port"), QStringLiteral("TCP port (default %1; 0: any free port).").arg(defaultPort), QStringLiteral("port"),
           QString::number(defaultPort)),
      latency(QStringLiteral("latency-ms"), QStringLiteral("Delay before every reply."), QStringLiteral("ms")),
      throughput(QStringLiteral("throughput"), texts.throughput, QStringLiteral("bytes")),
      streamErrorAfter(QStringLiteral("stream-error-after"), texts.streamErrorAfter, QStringLiteral("bytes")),
      streamStallAfter(QStringLiteral("stream-stall-after"), texts.streamStallAfter, QStringLiteral("bytes")),
      streamStallMs(QStringLiteral("stream-stall-ms"), QStringLiteral("How long a stall lasts (0: for ever)."), QStringLiteral("ms")),
      faultFiles(QStringLiteral("fault-files"), texts.faultFiles, QStringLiteral("names")),
      dropAfterSeconds(QStringLiteral("drop-after-seconds"), texts.dropAfterSeconds, QStringLiteral("seconds")),
      log(QStringLiteral("log"), texts.log)
{
    parser.setApplicationDescription(texts.description);
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("folder"), texts.folder);
}

std::optional<QString> TestCameraCommandLine::process(const QCoreApplication& app)
{
    parser.process(app);
    if (parser.positionalArguments().size() != 1 || !QFileInfo(parser.positionalArguments().first()).isDir()) {
        std::fprintf(stderr, "Give one camera folder.\n");
        return std::nullopt;
    }
    return parser.positionalArguments().first();
}

qint64 TestCameraCommandLine::number(const QCommandLineOption& option, qint64 fallback) const
{
    return parser.isSet(option) ? parser.value(option).toLongLong() : fallback;
}

QStringList TestCameraCommandLine::names(const QCommandLineOption& option, const QStringList& fallback) const
{
    return parser.isSet(option) ? parser.value(option).split(QLatin1Char(','), Qt::SkipEmptyParts) : fallback;
}

int TestCameraCommandLine::cannotListen() const
{
    std::fprintf(stderr, "Cannot listen on 127.0.0.1:%s.\n", qPrintable(parser.value(port)));
    return 1;
}

void TestCameraCommandLine::dropAfter(QObject* context, std::function<void()> drop) const
{
    if (parser.isSet(dropAfterSeconds))
        QTimer::singleShot(milliseconds(parser.value(dropAfterSeconds)), context, std::move(drop));
}

void readLinesFromInput(QObject* parent, std::function<void(const QString& line)> handle)
{
    auto* input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, parent);
    QObject::connect(input, &QSocketNotifier::activated, parent, [input, handle] {
        char buffer[512] = {};
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer - 1);
        if (count <= 0) {
            input->setEnabled(false);
            return;
        }
        handle(QString::fromUtf8(buffer, count).trimmed());
    });
}

void answerPromptsFromInput(QObject* parent, std::function<void(bool yes)> answer)
{
    readLinesFromInput(parent, [answer](const QString& line) { answer(line.startsWith(QLatin1Char('y'), Qt::CaseInsensitive)); });
}

} // namespace vornakel::tools
