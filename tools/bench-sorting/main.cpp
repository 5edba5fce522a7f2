// Names 100,000 camera files through two presets and prints how long each took:
//   bench-sorting [count]
// Build it as Release (build-sorting-rel) for meaningful figures.
#include "model/PhotoVariant.h"
#include "support/StaticFileItem.h"
#include "sorting/UserDefinedPhotoSorting.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <memory>
#include <vector>

namespace {

using namespace vornakel;

double timeDestinations(const PhotoSorting& preset, const std::vector<std::shared_ptr<PhotoVariant>>& variants,
                        qsizetype& totalLength)
{
    const QString base = QStringLiteral("/home/user/Pictures/Camera");
    QElapsedTimer timer;
    timer.start();
    for (const auto& variant : variants)
        totalLength += preset.destinationFor(*variant, base).size();
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100'000;

    std::vector<std::shared_ptr<PhotoVariant>> variants;
    variants.reserve(size_t(count));
    const QDateTime start(QDate(2015, 1, 1), QTime(8, 0), Qt::UTC);
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("IMG_%1.%2").arg(i % 10000, 4, 10, QLatin1Char('0'))
                                 .arg(i % 2 ? QStringLiteral("JPG") : QStringLiteral("CR2"));
        // One shot every 37 minutes: the dates cross days, months, years and daylight-saving changes.
        variants.push_back(PhotoVariant::create(
            std::make_shared<StaticFileItem>(name, start.addSecs(qint64(i) * 37 * 60), 4'000'000)));
    }

    auto token = [](PhotoSortingToken t) { return QVariant(tokenObject(t)); };
    const auto fiveTokens = UserDefinedPhotoSorting::create(
        QStringLiteral("Five tokens"), QStringLiteral("bench"),
        UserDefinedSortingStep::create({token(PhotoSortingToken::originalDisplayName), QStringLiteral("."),
                                        token(PhotoSortingToken::originalFileExtension)}),
        {UserDefinedSortingStep::create({token(PhotoSortingToken::fourDigitYear)}),
         UserDefinedSortingStep::create({token(PhotoSortingToken::namedMonth), QStringLiteral(" "),
                                         token(PhotoSortingToken::twoDigitDay)})});

    QTextStream out(stdout);
    qsizetype checksum = 0;
    // The first call makes the shared formatters and steps; it is not part of the figures.
    UserDefinedPhotoSorting::byPaddedNumericDate()->destinationFor(*variants.front(), QStringLiteral("/"));
    const double numeric = timeDestinations(*UserDefinedPhotoSorting::byPaddedNumericDate(), variants, checksum);
    const double custom = timeDestinations(*fiveTokens, variants, checksum);
    out << "variants: " << count << "\n"
        << "example: " << fiveTokens->destinationFor(*variants[5000], QStringLiteral("/B")) << "\n"
        << QStringLiteral("byPaddedNumericDate: %1 s (%2 µs per file)\n").arg(numeric, 0, 'f', 3).arg(numeric * 1e6 / count, 0, 'f', 2)
        << QStringLiteral("five-token preset:   %1 s (%2 µs per file)\n").arg(custom, 0, 'f', 3).arg(custom * 1e6 / count, 0, 'f', 2)
        << "checksum: " << checksum << "\n";
    return 0;
}
