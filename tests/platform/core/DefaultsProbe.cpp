// Plays "the other process" for the settings tests: `write <file>` stores every sample value, `check <file>`
// reads them back and prints one line per key ("ok" or what came back instead).
#include "DefaultsSamples.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3)
        return 2;
    vornakel::UserDefaults defaults(arguments.at(2));
    QTextStream out(stdout);
    for (const auto& sample : vornakel::test::defaultsSamples()) {
        if (arguments.at(1) == QLatin1String("write")) {
            sample.write(defaults);
        } else {
            const QString mismatch = sample.mismatch(defaults);
            out << sample.key << ' ' << (mismatch.isEmpty() ? QStringLiteral("ok") : mismatch) << '\n';
        }
    }
    return 0;
}
