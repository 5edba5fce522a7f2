#pragma once

// The command line the test cameras under tools/ share: one camera folder, the port, and the simulated link's faults
// (latency, throughput, a stream that breaks off or stalls, the files those apply to, a camera that goes out of
// range), each worded as the camera words it. A camera adds its own options and lists all of them in the order its
// help shows them; the folder's "camera.ini" gives the defaults, the options given override them.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QCoreApplication;
class QObject;

namespace vornakel::tools {

class TestCameraCommandLine {
public:
    // How a camera words what it serves and how its faults show.
    struct Texts {
        QString description;      // of the program
        QString folder;           // of the folder argument
        QString throughput;       // --throughput
        QString streamErrorAfter; // --stream-error-after
        QString streamStallAfter; // --stream-stall-after
        QString faultFiles;       // --fault-files
        QString dropAfterSeconds; // --drop-after-seconds
        QString log;              // --log
    };

    TestCameraCommandLine(const Texts& texts, quint16 defaultPort);

    QCommandLineParser parser;
    const QCommandLineOption port;
    const QCommandLineOption latency;
    const QCommandLineOption throughput;
    const QCommandLineOption streamErrorAfter;
    const QCommandLineOption streamStallAfter;
    const QCommandLineOption streamStallMs;
    const QCommandLineOption faultFiles;
    const QCommandLineOption dropAfterSeconds;
    const QCommandLineOption log;

    // Reads the arguments (help ends the program here); the camera folder, or none after saying why (the program
    // then ends with 2).
    std::optional<QString> process(const QCoreApplication& app);

    // The option's number, or `fallback` where it is not given.
    qint64 number(const QCommandLineOption& option, qint64 fallback) const;
    // The option's comma-separated names, or `fallback` where it is not given.
    QStringList names(const QCommandLineOption& option, const QStringList& fallback) const;
    // The link's faults and the log switch, over the defaults `options` holds.
    template <typename Options>
    void applyLinkFaults(Options& options) const
    {
        options.latencyMs = int(number(latency, options.latencyMs));
        options.throughputBytesPerSecond = number(throughput, options.throughputBytesPerSecond);
        options.streamErrorAfterBytes = number(streamErrorAfter, options.streamErrorAfterBytes);
        options.streamStallAfterBytes = number(streamStallAfter, options.streamStallAfterBytes);
        options.streamStallMs = int(number(streamStallMs, options.streamStallMs));
        options.streamFaultFiles = names(faultFiles, options.streamFaultFiles);
        options.log = parser.isSet(log);
    }

    quint16 listenPort() const { return quint16(parser.value(port).toUInt()); }
    // Says that the port cannot be had; the program ends with what it answers.
    int cannotListen() const;
    // Runs `drop` the given seconds after start, where --drop-after-seconds is given.
    void dropAfter(QObject* context, std::function<void()> drop) const;

    // Seconds given as a decimal number, in milliseconds.
    static int milliseconds(const QString& seconds) { return int(seconds.toDouble() * 1000); }
};

// Hands each line typed on the standard input to `handle`, trimmed.
void readLinesFromInput(QObject* parent, std::function<void(const QString& line)> handle);

// Answers the camera's own prompt from what is typed: `answer` gets true for a line that starts with "y".
void answerPromptsFromInput(QObject* parent, std::function<void(bool yes)> answer);

} // namespace vornakel::tools
