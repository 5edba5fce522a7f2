#include "samplecamera/SampleCameraGenerator.h"

#include "samplecamera/TiffWriter.h"
#include "platform/exiv2/Exiv2Library.h"

#include "platform/imaging/ImageFileTypes.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTransform>

#include <libheif/heif.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

// x265, the HEVC encoder behind libheif, leaves a few small blocks behind for every image it encodes; the
// generator and every program using it tell LeakSanitizer so (the hook is ignored without it).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libx265\n";
}

namespace vornakel::tools {

namespace {

constexpr QSize kFullSize{6000, 4000};
constexpr QSize kThumbnailBox{160, 120};
constexpr QSize kRawPreviewBox{1620, 1080};
constexpr int kJpegQuality = 90;
constexpr int kFullSizeJpegQuality = 95; // camera-like "fine" JPEGs for benchmarks
constexpr int kPreviewQuality = 85;
constexpr int kThumbnailQuality = 80;
constexpr int kDotsPerMeter = 2835; // 72 dpi
constexpr int kFirstFolderNumber = 100;
constexpr int kLastFolderNumber = 999;
constexpr int kLastFileNumber = 9999;
constexpr double kBurstShare = 0.08;
constexpr double kTurnedShare = 0.1;
constexpr int kLongestGapSeconds = 15 * 60;

struct Rational {
    quint32 numerator;
    quint32 denominator;
    double value() const { return double(numerator) / double(denominator); }
};

constexpr quint16 kIsoValues[] = {100, 125, 160, 200, 250, 320, 400, 640, 800, 1250, 1600, 3200, 6400};
constexpr Rational kFNumbers[] = {{18, 10}, {28, 10}, {4, 1}, {56, 10}, {8, 1}, {11, 1}, {16, 1}, {22, 1}};
constexpr Rational kExposureTimes[] = {{1, 4000}, {1, 1000}, {1, 500}, {1, 250}, {1, 125},
                                       {1, 60},   {1, 30},   {1, 8},   {1, 2},   {2, 1}};
// 35.7 mm is there on purpose: the app cuts the fraction off when it shows a focal length.
constexpr Rational kFocalLengths[] = {{24, 1}, {35, 1}, {357, 10}, {50, 1}, {85, 1}, {105, 1}, {200, 1}};

template <typename T, size_t N>
const T& pick(QRandomGenerator& random, const T (&values)[N])
{
    return values[random.bounded(quint32(N))];
}

// Everything about one shot that is decided before any pixel is drawn.
struct ShotPlan {
    SampleShot shot;
    QString folder;
    QString rawExtension;
    int day = 0;
    Rational fNumber{};
    Rational exposureTime{};
    Rational focalLength{};
};

QString validate(const SampleCameraSpec& spec, QSize imageSize)
{
    if (spec.outputFolder.isEmpty())
        return QStringLiteral("No output folder given.");
    if (spec.shots < 0)
        return QStringLiteral("The number of shots cannot be negative.");
    if (spec.days < 1)
        return QStringLiteral("Shots need at least one day.");
    if (!(spec.rawShare >= 0.0 && spec.rawShare <= 1.0))
        return QStringLiteral("The RAW share must lie between 0 and 1.");
    if (!(spec.undatedShare >= 0.0 && spec.undatedShare <= 1.0))
        return QStringLiteral("The undated share must lie between 0 and 1.");
    if (spec.shotsPerFolder < 1 || spec.shotsPerFolder > kLastFileNumber)
        return QStringLiteral("Shots per folder must lie between 1 and %1.").arg(kLastFileNumber);
    if (spec.shots > 0 && kFirstFolderNumber + (spec.shots - 1) / spec.shotsPerFolder > kLastFolderNumber)
        return QStringLiteral("%1 shots do not fit into %2 folders of %3.")
            .arg(spec.shots)
            .arg(kLastFolderNumber - kFirstFolderNumber + 1)
            .arg(spec.shotsPerFolder);
    if (imageSize.width() < 16 || imageSize.height() < 16 || imageSize.width() > 12000 || imageSize.height() > 12000)
        return QStringLiteral("The image size must lie between 16 and 12000 pixels on each side.");
    if (spec.make.isEmpty() || spec.model.isEmpty())
        return QStringLiteral("Make and model cannot be empty.");
    const QString image = spec.imageExtension.toUpper();
    if (image != QLatin1String("JPG") && image != QLatin1String("JPEG") && !isHeifExtension(image))
        return QStringLiteral("The image type must be JPG, JPEG, HIF, HEIC or HEIF.");
    for (const QString& raw : spec.rawExtensions) {
        if (ImageFileTypes::kindOfFileName(QStringLiteral("x.") + raw) != ImageFileTypes::Kind::raw)
            return QStringLiteral("%1 is not a RAW type.").arg(raw);
    }
    return {};
}

// Exactly round(count * share) indices, chosen by the generator; at least `minimum` when the share is not zero.
std::vector<bool> chooseShare(int count, double share, QRandomGenerator& random, int minimum = 1)
{
    std::vector<int> order(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        order[size_t(i)] = i;
    for (int i = count - 1; i > 0; --i)
        std::swap(order[size_t(i)], order[random.bounded(quint32(i + 1))]);
    int chosen = qRound(count * share);
    if (share > 0 && count > 0)
        chosen = std::clamp(chosen, std::min(minimum, count), count);
    std::vector<bool> result(static_cast<size_t>(count), false);
    for (int i = 0; i < chosen; ++i)
        result[size_t(order[size_t(i)])] = true;
    return result;
}

QDateTime atDayAndTime(const QDateTime& firstDay, int day, QTime time)
{
    QDateTime result = firstDay;
    result.setDate(firstDay.date().addDays(day));
    result.setTime(time);
    return result;
}

std::vector<ShotPlan> planShots(const SampleCameraSpec& spec, const QDateTime& firstDay, const QString& root)
{
    // Separate streams, so that changing one share does not reshuffle the schedule or the other share.
    QRandomGenerator schedule(spec.seed);
    QRandomGenerator rawChoice(spec.seed ^ 0x5bd1e995u);
    QRandomGenerator undatedChoice(spec.seed ^ 0x27d4eb2fu);
    QRandomGenerator exposure(spec.seed ^ 0x165667b1u);
    QRandomGenerator orientationChoice(spec.seed ^ 0x85ebca6bu);

    std::vector<int> shotsPerDay(size_t(spec.days), 0);
    if (spec.shots >= spec.days) {
        std::fill(shotsPerDay.begin(), shotsPerDay.end(), 1);
        for (int i = spec.days; i < spec.shots; ++i)
            ++shotsPerDay[schedule.bounded(quint32(spec.days))];
    } else {
        for (int i = 0; i < spec.shots; ++i)
            ++shotsPerDay[size_t(qint64(i) * spec.days / spec.shots)];
    }

    const std::vector<bool> hasRaw = chooseShare(spec.shots, spec.rawShare, rawChoice);
    // A few shots are held upright (portrait), turned each way; every sample of three shots or more has both.
    const std::vector<bool> turned = chooseShare(spec.shots, spec.shots >= 3 ? kTurnedShare : 0.0, orientationChoice, 2);
    int turnedCount = 0;
    const std::vector<bool> undated = chooseShare(spec.shots, spec.undatedShare, undatedChoice);
    const QStringList rawExtensions = spec.rawExtensions.isEmpty() ? sampleRawExtensions() : spec.rawExtensions;

    std::vector<ShotPlan> plans;
    plans.reserve(size_t(spec.shots));
    int rawCount = 0;
    for (int day = 0; day < spec.days; ++day) {
        const int count = shotsPerDay[size_t(day)];
        // Every shot stays on its own calendar day, even when the first day starts late in the evening.
        const QDateTime morning = atDayAndTime(firstDay, day, firstDay.time());
        const QDateTime dayEnd = std::max(morning, atDayAndTime(firstDay, day, QTime(23, 59, 0)));
        const QDateTime dayStart = std::min(morning.addSecs(schedule.bounded(30 * 60)), dayEnd);
        const qint64 meanGap = std::clamp<qint64>(dayStart.secsTo(dayEnd) / std::max(count, 1), 1, kLongestGapSeconds);
        QDateTime time = dayStart;
        for (int k = 0; k < count; ++k) {
            if (k > 0) {
                // The first day's second shot always shares its second with the first, so that even a small
                // sample has the case; later ones do so now and then, like a burst.
                const bool burst = (day == 0 && k == 1) || schedule.generateDouble() < kBurstShare;
                const qint64 gap = burst ? 0 : 10 + schedule.bounded(quint32(std::max<qint64>(1, 2 * meanGap - 10)));
                time = std::min(time.addSecs(gap), dayEnd);
            }
            ShotPlan plan;
            const int index = int(plans.size());
            plan.day = day;
            plan.shot.index = index;
            plan.shot.captureTime = time;
            plan.shot.dated = !undated[size_t(index)];
            plan.shot.baseName = QStringLiteral("IMG_%1").arg(index % kLastFileNumber + 1, 4, 10, QLatin1Char('0'));
            plan.folder = QStringLiteral("%1/DCIM/%2VKLCM").arg(root).arg(kFirstFolderNumber + index / spec.shotsPerFolder);
            plan.shot.jpegPath = plan.folder + QLatin1Char('/') + plan.shot.baseName + QLatin1Char('.') + spec.imageExtension;
            if (hasRaw[size_t(index)]) {
                plan.rawExtension = rawExtensions[rawCount++ % rawExtensions.size()];
                plan.shot.rawPath = plan.folder + QLatin1Char('/') + plan.shot.baseName + QLatin1Char('.') + plan.rawExtension;
            }
            if (turned[size_t(index)])
                plan.shot.orientation = turnedCount++ % 2 == 0 ? 6 : 8;
            plan.shot.iso = pick(exposure, kIsoValues);
            plan.fNumber = pick(exposure, kFNumbers);
            plan.exposureTime = pick(exposure, kExposureTimes);
            plan.focalLength = pick(exposure, kFocalLengths);
            plan.shot.fNumber = plan.fNumber.value();
            plan.shot.exposureTime = plan.exposureTime.value();
            plan.shot.focalLength = plan.focalLength.value();
            plans.push_back(plan);
        }
    }
    return plans;
}

// Seven-segment digits need no font, so the pixels are the same on every machine, with or without fonts.
void drawDigits(QPainter& painter, const QString& digits, const QRectF& area)
{
    static constexpr unsigned kSegments[10] = {0x3f, 0x06, 0x5b, 0x4f, 0x66, 0x6d, 0x7d, 0x07, 0x7f, 0x6f};
    const qreal height = std::min(area.height(), area.width() / (digits.size() * 0.7));
    const qreal width = height * 0.5;
    const qreal thickness = width * 0.2;
    const qreal advance = height * 0.7;
    qreal x = area.center().x() - advance * digits.size() / 2 + (advance - width) / 2;
    const qreal y = area.center().y() - height / 2;

    QPainterPath path;
    for (QChar c : digits) {
        const unsigned mask = kSegments[c.digitValue() < 0 ? 8 : c.digitValue()];
        const QRectF segments[7] = {
            {x + thickness, y, width - 2 * thickness, thickness},                                  // a
            {x + width - thickness, y + thickness, thickness, height / 2 - 1.5 * thickness},       // b
            {x + width - thickness, y + height / 2 + thickness / 2, thickness, height / 2 - 1.5 * thickness}, // c
            {x + thickness, y + height - thickness, width - 2 * thickness, thickness},             // d
            {x, y + height / 2 + thickness / 2, thickness, height / 2 - 1.5 * thickness},          // e
            {x, y + thickness, thickness, height / 2 - 1.5 * thickness},                           // f
            {x + thickness, y + height / 2 - thickness / 2, width - 2 * thickness, thickness},     // g
        };
        for (int s = 0; s < 7; ++s) {
            if (mask & (1u << s))
                path.addRoundedRect(segments[s], thickness / 3, thickness / 3);
        }
        x += advance;
    }
    painter.setPen(QPen(QColor(20, 20, 20), std::max<qreal>(1.0, thickness / 4)));
    painter.setBrush(QColor(250, 250, 250));
    painter.drawPath(path);
}

// Sensor-like noise, seeded like the rest: light on small images, stronger on full-size ones so that their
// JPEGs come out about as large as a camera's.
void addNoise(QImage& image, quint32 seed, bool strong)
{
    const quint32 mask = strong ? 15u : 7u;
    const int middle = int(mask / 2);
    quint32 state = seed | 1u;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const auto jitter = [&](int value, int shift) {
                return std::clamp(value + int((state >> shift) & mask) - middle, 0, 255);
            };
            const QRgb pixel = line[x];
            line[x] = qRgb(jitter(qRed(pixel), 0), jitter(qGreen(pixel), 4), jitter(qBlue(pixel), 8));
        }
    }
}

// The shot as the camera stores it: drawn upright, then turned so that the EXIF orientation turns it back.
// A red square marks the upright top-left corner, so a viewer that ignores the orientation shows it elsewhere.
QImage renderShot(const ShotPlan& plan, QSize storedSize, quint32 seed, bool fullSize)
{
    const bool turned = plan.shot.orientation == 6 || plan.shot.orientation == 8;
    const QSize upright = turned ? storedSize.transposed() : storedSize;
    QImage canvas(upright, QImage::Format_RGB32);
    canvas.setDotsPerMeterX(kDotsPerMeter);
    canvas.setDotsPerMeterY(kDotsPerMeter);
    QRandomGenerator random(seed ^ (quint32(plan.shot.index) * 0x9e3779b9u));
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        const int hue = int(random.bounded(360));
        QLinearGradient gradient(0, 0, upright.width(), upright.height());
        gradient.setColorAt(0, QColor::fromHsv(hue, 150, 200));
        gradient.setColorAt(1, QColor::fromHsv((hue + 120) % 360, 170, 90));
        painter.fillRect(canvas.rect(), gradient);

        const qreal unit = std::min(upright.width(), upright.height());
        painter.setPen(Qt::NoPen);
        for (int i = 0; i < 6; ++i) {
            painter.setBrush(QColor::fromHsv(int(random.bounded(360)), 120, 190, 110));
            const qreal radius = unit * (0.08 + 0.2 * random.generateDouble());
            painter.drawEllipse(QPointF(upright.width() * random.generateDouble(), upright.height() * random.generateDouble()),
                                radius, radius);
        }

        // One white block per day along the bottom edge, so shots of different days look different at a glance.
        const qreal block = unit / 20;
        painter.setBrush(QColor(255, 255, 255, 200));
        for (int d = 0; d <= std::min(plan.day, 15); ++d)
            painter.drawRect(QRectF(block + d * 1.5 * block, upright.height() - 2 * block, block, block));

        const qreal marker = unit / 8;
        painter.fillRect(QRectF(marker / 4, marker / 4, marker, marker), QColor(255, 0, 0));

        drawDigits(painter, plan.shot.baseName.right(4),
                   QRectF(upright.width() * 0.15, upright.height() * 0.3, upright.width() * 0.7, upright.height() * 0.4));
    }
    addNoise(canvas, random.generate(), fullSize);
    if (plan.shot.orientation == 6)
        return canvas.transformed(QTransform().rotate(-90));
    if (plan.shot.orientation == 8)
        return canvas.transformed(QTransform().rotate(90));
    return canvas;
}

QByteArray encodeJpeg(const QImage& source, int quality)
{
    // The resolution goes into the JFIF header; a new QImage takes it from the screen when there is one, so
    // it is pinned to 72 dpi to keep the bytes the same in a GUI process and a command-line one.
    QImage image = source;
    if (image.dotsPerMeterX() != kDotsPerMeter || image.dotsPerMeterY() != kDotsPerMeter) {
        image.setDotsPerMeterX(kDotsPerMeter);
        image.setDotsPerMeterY(kDotsPerMeter);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(image))
        return {};
    return bytes;
}

QSize boundedBy(QSize size, QSize box)
{
    return size.width() <= box.width() && size.height() <= box.height() ? size : size.scaled(box, Qt::KeepAspectRatio);
}

std::string exifDate(const SampleShot& shot)
{
    return shot.captureTime.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")).toStdString();
}

// "+01:00": the capture time's offset from UTC, so a reader need not guess the camera's time zone.
std::string exifOffset(const SampleShot& shot)
{
    const int minutes = shot.captureTime.offsetFromUtc() / 60;
    return QStringLiteral("%1%2:%3")
        .arg(minutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(std::abs(minutes) / 60, 2, 10, QLatin1Char('0'))
        .arg(std::abs(minutes) % 60, 2, 10, QLatin1Char('0'))
        .toStdString();
}

QString description(const SampleShot& shot) { return QStringLiteral("Sample shot %1").arg(shot.baseName); }

// The JPEG as a camera writes it: the encoded image with an EXIF block and an embedded thumbnail.
QByteArray jpegWithExif(const QByteArray& jpeg, const QByteArray& thumbnail, const ShotPlan& plan,
                        const SampleCameraSpec& spec, QSize pixelSize, QString* error)
{
    try {
        auto image = Exiv2Library::openData(jpeg);
        if (!image.get()) {
            *error = QStringLiteral("Could not open the JPEG of %1.").arg(plan.shot.baseName);
            return {};
        }
        Exiv2::ExifData exif;
        exif["Exif.Image.ImageDescription"] = description(plan.shot).toStdString();
        exif["Exif.Image.Make"] = spec.make.toStdString();
        exif["Exif.Image.Model"] = spec.model.toStdString();
        exif["Exif.Image.Orientation"] = uint16_t(plan.shot.orientation);
        exif["Exif.Image.XResolution"] = Exiv2::URational(72, 1);
        exif["Exif.Image.YResolution"] = Exiv2::URational(72, 1);
        exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
        if (plan.shot.dated)
            exif["Exif.Image.DateTime"] = exifDate(plan.shot);
        exif["Exif.Photo.ExposureTime"] = Exiv2::URational(plan.exposureTime.numerator, plan.exposureTime.denominator);
        exif["Exif.Photo.FNumber"] = Exiv2::URational(plan.fNumber.numerator, plan.fNumber.denominator);
        exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(plan.shot.iso);
        Exiv2::DataValue version(Exiv2::undefined);
        version.read("48 50 51 49"); // "0231", the first version with time offsets
        exif.add(Exiv2::ExifKey("Exif.Photo.ExifVersion"), &version);
        if (plan.shot.dated) {
            exif["Exif.Photo.DateTimeOriginal"] = exifDate(plan.shot);
            exif["Exif.Photo.DateTimeDigitized"] = exifDate(plan.shot);
            exif["Exif.Photo.OffsetTime"] = exifOffset(plan.shot);
            exif["Exif.Photo.OffsetTimeOriginal"] = exifOffset(plan.shot);
        }
        exif["Exif.Photo.FocalLength"] = Exiv2::URational(plan.focalLength.numerator, plan.focalLength.denominator);
        exif["Exif.Photo.ColorSpace"] = uint16_t(1);
        exif["Exif.Photo.PixelXDimension"] = uint32_t(pixelSize.width());
        exif["Exif.Photo.PixelYDimension"] = uint32_t(pixelSize.height());
        Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(thumbnail.constData()),
                                                long(thumbnail.size()), Exiv2::URational(72, 1),
                                                Exiv2::URational(72, 1), 2);
        image->setExifData(exif);
        image->writeMetadata();

        Exiv2::BasicIo& io = image->io();
        if (io.open() != 0) {
            *error = QStringLiteral("Could not read back the JPEG of %1.").arg(plan.shot.baseName);
            return {};
        }
        QByteArray result(qsizetype(io.size()), '\0');
        io.seek(0, Exiv2::BasicIo::beg);
        const long read = io.read(reinterpret_cast<Exiv2::byte*>(result.data()), long(result.size()));
        io.close();
        if (read != long(result.size())) {
            *error = QStringLiteral("Could not read back the JPEG of %1.").arg(plan.shot.baseName);
            return {};
        }
        return result;
    } catch (const std::exception& e) {
        *error = QStringLiteral("Could not write the EXIF of %1: %2").arg(plan.shot.baseName, QString::fromLocal8Bit(e.what()));
        return {};
    }
}

// CFA samples in an RGGB pattern taken from the stored image, one byte each: the bulk of a RAW file.
QByteArray sensorData(const QImage& image)
{
    QByteArray bytes(qsizetype(image.width()) * image.height(), '\0');
    char* out = bytes.data();
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = line[x];
            const bool evenRow = (y & 1) == 0, evenColumn = (x & 1) == 0;
            const int value = evenRow && evenColumn ? qRed(pixel) : !evenRow && !evenColumn ? qBlue(pixel) : qGreen(pixel);
            *out++ = char(value);
        }
    }
    return bytes;
}

// A RAW file shaped like the TIFF-based ones cameras write: IFD0 describes a JPEG preview and carries the
// camera tags and the Exif IFD; a SubIFD holds the sensor data; IFD1 holds the small thumbnail.
QByteArray buildRaw(const ShotPlan& plan, const SampleCameraSpec& spec, const QImage& stored, const QImage& preview,
                    const QByteArray& previewJpeg, const QByteArray& thumbnailJpeg)
{
    enum : uint16_t {
        NewSubfileType = 0x00fe, ImageWidth = 0x0100, ImageLength = 0x0101, BitsPerSample = 0x0102,
        Compression = 0x0103, PhotometricInterpretation = 0x0106, ImageDescription = 0x010e, Make = 0x010f,
        Model = 0x0110, StripOffsets = 0x0111, Orientation = 0x0112, SamplesPerPixel = 0x0115, RowsPerStrip = 0x0116,
        StripByteCounts = 0x0117, XResolution = 0x011a, YResolution = 0x011b, PlanarConfiguration = 0x011c,
        ResolutionUnit = 0x0128, DateTime = 0x0132, SubIFDs = 0x014a, JPEGInterchangeFormat = 0x0201,
        JPEGInterchangeFormatLength = 0x0202, CFARepeatPatternDim = 0x828d, CFAPattern = 0x828e,
        ExposureTime = 0x829a, FNumber = 0x829d, ExifIFD = 0x8769, ISOSpeedRatings = 0x8827, ExifVersion = 0x9000,
        DateTimeOriginal = 0x9003, DateTimeDigitized = 0x9004, OffsetTime = 0x9010, OffsetTimeOriginal = 0x9011,
        FocalLength = 0x920a,
    };
    TiffWriter tiff;
    const int ifd0 = tiff.addDirectory();
    const int exif = tiff.addDirectory();
    const int sensor = tiff.addDirectory();
    const int ifd1 = tiff.addDirectory();
    tiff.setNextDirectory(ifd0, ifd1);
    const int previewData = tiff.addData(previewJpeg);
    const int thumbnailData = tiff.addData(thumbnailJpeg);
    const QByteArray samples = sensorData(stored);
    const int sensorBlock = tiff.addData(samples);
    const QByteArray date = QByteArray::fromStdString(exifDate(plan.shot));

    tiff.addLongs(ifd0, NewSubfileType, {1});
    tiff.addLongs(ifd0, ImageWidth, {uint32_t(preview.width())});
    tiff.addLongs(ifd0, ImageLength, {uint32_t(preview.height())});
    tiff.addShorts(ifd0, BitsPerSample, {8, 8, 8});
    tiff.addShorts(ifd0, Compression, {6});
    tiff.addShorts(ifd0, PhotometricInterpretation, {6});
    tiff.addAscii(ifd0, ImageDescription, description(plan.shot).toUtf8());
    tiff.addAscii(ifd0, Make, spec.make.toUtf8());
    tiff.addAscii(ifd0, Model, spec.model.toUtf8());
    tiff.addShorts(ifd0, Orientation, {uint16_t(plan.shot.orientation)});
    tiff.addShorts(ifd0, SamplesPerPixel, {3});
    tiff.addRational(ifd0, XResolution, 72, 1);
    tiff.addRational(ifd0, YResolution, 72, 1);
    tiff.addShorts(ifd0, ResolutionUnit, {2});
    if (plan.shot.dated)
        tiff.addAscii(ifd0, DateTime, date);
    tiff.addDirectoryOffset(ifd0, SubIFDs, sensor);
    tiff.addDataOffset(ifd0, JPEGInterchangeFormat, previewData);
    tiff.addLongs(ifd0, JPEGInterchangeFormatLength, {uint32_t(previewJpeg.size())});
    tiff.addDirectoryOffset(ifd0, ExifIFD, exif);

    tiff.addRational(exif, ExposureTime, plan.exposureTime.numerator, plan.exposureTime.denominator);
    tiff.addRational(exif, FNumber, plan.fNumber.numerator, plan.fNumber.denominator);
    tiff.addShorts(exif, ISOSpeedRatings, {uint16_t(plan.shot.iso)});
    tiff.addBytes(exif, ExifVersion, TiffWriter::Undefined, QByteArrayLiteral("0231"));
    if (plan.shot.dated) {
        tiff.addAscii(exif, DateTimeOriginal, date);
        tiff.addAscii(exif, DateTimeDigitized, date);
        tiff.addAscii(exif, OffsetTime, QByteArray::fromStdString(exifOffset(plan.shot)));
        tiff.addAscii(exif, OffsetTimeOriginal, QByteArray::fromStdString(exifOffset(plan.shot)));
    }
    tiff.addRational(exif, FocalLength, plan.focalLength.numerator, plan.focalLength.denominator);

    tiff.addLongs(sensor, NewSubfileType, {0});
    tiff.addLongs(sensor, ImageWidth, {uint32_t(stored.width())});
    tiff.addLongs(sensor, ImageLength, {uint32_t(stored.height())});
    tiff.addShorts(sensor, BitsPerSample, {8});
    tiff.addShorts(sensor, Compression, {1});
    tiff.addShorts(sensor, PhotometricInterpretation, {32803}); // colour filter array
    tiff.addDataOffset(sensor, StripOffsets, sensorBlock);
    tiff.addShorts(sensor, SamplesPerPixel, {1});
    tiff.addLongs(sensor, RowsPerStrip, {uint32_t(stored.height())});
    tiff.addLongs(sensor, StripByteCounts, {uint32_t(samples.size())});
    tiff.addShorts(sensor, PlanarConfiguration, {1});
    tiff.addShorts(sensor, CFARepeatPatternDim, {2, 2});
    tiff.addBytes(sensor, CFAPattern, TiffWriter::Byte, QByteArray("\x00\x01\x01\x02", 4));

    tiff.addShorts(ifd1, Compression, {6});
    tiff.addRational(ifd1, XResolution, 72, 1);
    tiff.addRational(ifd1, YResolution, 72, 1);
    tiff.addShorts(ifd1, ResolutionUnit, {2});
    tiff.addDataOffset(ifd1, JPEGInterchangeFormat, thumbnailData);
    tiff.addLongs(ifd1, JPEGInterchangeFormatLength, {uint32_t(thumbnailJpeg.size())});
    return tiff.build();
}

// An ISO base media box: 32-bit size, four-character type, payload.
QByteArray box(const char* type, const QByteArray& payload)
{
    QByteArray bytes;
    const quint32 size = quint32(8 + payload.size());
    bytes.append(char(size >> 24)).append(char(size >> 16)).append(char(size >> 8)).append(char(size));
    bytes.append(type, 4);
    bytes.append(payload);
    return bytes;
}

QByteArray bigEndian16(quint16 value) { return QByteArray().append(char(value >> 8)).append(char(value)); }
QByteArray bigEndian32(quint32 value) { return bigEndian16(quint16(value >> 16)) + bigEndian16(quint16(value)); }

// The Exif directory's shooting data, capture date and pixel size, as both the HEIF EXIF block and the CR3
// file carry them.
void addShootingTags(TiffWriter& tiff, int exif, const ShotPlan& plan, const QByteArray& date, QSize pixelSize)
{
    enum : uint16_t {
        ExposureTime = 0x829a, FNumber = 0x829d, ISOSpeedRatings = 0x8827, ExifVersion = 0x9000,
        DateTimeOriginal = 0x9003, OffsetTimeOriginal = 0x9011, FocalLength = 0x920a, PixelXDimension = 0xa002,
        PixelYDimension = 0xa003,
    };
    tiff.addRational(exif, ExposureTime, plan.exposureTime.numerator, plan.exposureTime.denominator);
    tiff.addRational(exif, FNumber, plan.fNumber.numerator, plan.fNumber.denominator);
    tiff.addShorts(exif, ISOSpeedRatings, {uint16_t(plan.shot.iso)});
    tiff.addBytes(exif, ExifVersion, TiffWriter::Undefined, QByteArrayLiteral("0231"));
    if (plan.shot.dated) {
        tiff.addAscii(exif, DateTimeOriginal, date);
        tiff.addAscii(exif, OffsetTimeOriginal, QByteArray::fromStdString(exifOffset(plan.shot)));
    }
    tiff.addRational(exif, FocalLength, plan.focalLength.numerator, plan.focalLength.denominator);
    tiff.addLongs(exif, PixelXDimension, {uint32_t(pixelSize.width())});
    tiff.addLongs(exif, PixelYDimension, {uint32_t(pixelSize.height())});
}

// The camera tags (IFD0 with its Exif IFD) as a TIFF block, as a HEIF file's EXIF item holds them.
QByteArray exifTiff(const ShotPlan& plan, const SampleCameraSpec& spec, int orientation, QSize pixelSize)
{
    enum : uint16_t { Make = 0x010f, Model = 0x0110, Orientation = 0x0112, DateTime = 0x0132, ExifIFD = 0x8769 };
    TiffWriter tiff;
    const int ifd0 = tiff.addDirectory();
    const int exif = tiff.addDirectory();
    const QByteArray date = QByteArray::fromStdString(exifDate(plan.shot));
    tiff.addAscii(ifd0, Make, spec.make.toUtf8());
    tiff.addAscii(ifd0, Model, spec.model.toUtf8());
    tiff.addShorts(ifd0, Orientation, {uint16_t(orientation)});
    if (plan.shot.dated)
        tiff.addAscii(ifd0, DateTime, date);
    tiff.addDirectoryOffset(ifd0, ExifIFD, exif);
    addShootingTags(tiff, exif, plan, date, pixelSize);
    return tiff.build();
}

// A CR3-like RAW file: an "ftyp" box with the "crx " brand; a "moov" box whose Canon "uuid" box holds the
// IFD0 tags (CMT1), the Exif tags (CMT2) and a JPEG thumbnail (THMB); a second "uuid" box with the JPEG
// preview (PRVW); and the sensor data in "mdat".
QByteArray buildCr3(const ShotPlan& plan, const SampleCameraSpec& spec, const QImage& stored, const QImage& preview,
                    const QByteArray& previewJpeg, const QImage& thumbnail, const QByteArray& thumbnailJpeg)
{
    enum : uint16_t { Make = 0x010f, Model = 0x0110, Orientation = 0x0112, DateTime = 0x0132 };
    static const QByteArray kCanonUuid = QByteArray::fromHex("85c0b687820f11e08111f4ce462b6a48");
    static const QByteArray kPreviewUuid = QByteArray::fromHex("eaf42b5e1c984b88b9fbb7dc406e4d16");
    const QByteArray date = QByteArray::fromStdString(exifDate(plan.shot));

    TiffWriter ifd0Tiff;
    const int ifd0 = ifd0Tiff.addDirectory();
    ifd0Tiff.addAscii(ifd0, Make, spec.make.toUtf8());
    ifd0Tiff.addAscii(ifd0, Model, spec.model.toUtf8());
    ifd0Tiff.addShorts(ifd0, Orientation, {uint16_t(plan.shot.orientation)});
    if (plan.shot.dated)
        ifd0Tiff.addAscii(ifd0, DateTime, date);

    TiffWriter exifTags;
    const int exif = exifTags.addDirectory();
    addShootingTags(exifTags, exif, plan, date, stored.size());

    // THMB: version and flags, width, height, JPEG size, two reserved shorts, the JPEG.
    const QByteArray thumbnailBox =
        box("THMB", bigEndian32(0) + bigEndian16(quint16(thumbnail.width())) + bigEndian16(quint16(thumbnail.height()))
                        + bigEndian32(quint32(thumbnailJpeg.size())) + bigEndian16(1) + bigEndian16(0) + thumbnailJpeg);
    const QByteArray canon =
        box("uuid", kCanonUuid + box("CNCV", QByteArrayLiteral("CanonCR3_001/00.09.00/00.00.00"))
                        + box("CMT1", ifd0Tiff.build()) + box("CMT2", exifTags.build()) + thumbnailBox);
    // PRVW: a reserved word and short, width, height, a short, JPEG size, the JPEG.
    const QByteArray previewBox =
        box("PRVW", bigEndian32(0) + bigEndian16(1) + bigEndian16(quint16(preview.width()))
                        + bigEndian16(quint16(preview.height())) + bigEndian16(1) + bigEndian32(quint32(previewJpeg.size()))
                        + previewJpeg);
    const QByteArray previewUuid = box("uuid", kPreviewUuid + bigEndian32(0) + bigEndian32(1) + previewBox);
    return box("ftyp", QByteArrayLiteral("crx ") + bigEndian32(1) + QByteArrayLiteral("crx isom")) + box("moov", canon)
           + previewUuid + box("mdat", sensorData(stored));
}

struct HeifContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HeifEncoderDeleter {
    void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
};
struct HeifImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct HeifHandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};

heif_image* heifImage(const QImage& source)
{
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    heif_image* image = nullptr;
    if (heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code
        != heif_error_Ok)
        return nullptr;
    heif_image_add_plane(image, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + qsizetype(y) * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    return image;
}

heif_error appendToByteArray(heif_context*, const void* data, size_t size, void* userdata)
{
    static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

// A HEIF file as cameras write one: the upright image (HEVC), a 160-pixel thumbnail and the EXIF tags.
QByteArray buildHeif(const ShotPlan& plan, const SampleCameraSpec& spec, const QImage& upright, QString* error)
{
    heif_init(nullptr);
    const std::unique_ptr<heif_context, HeifContextDeleter> context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), heif_compression_HEVC, &rawEncoder).code != heif_error_Ok) {
        *error = QStringLiteral("libheif has no HEVC encoder for %1.").arg(plan.shot.baseName);
        return {};
    }
    const std::unique_ptr<heif_encoder, HeifEncoderDeleter> encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), 60);
    const std::unique_ptr<heif_image, HeifImageDeleter> image(heifImage(upright));
    heif_image_handle* rawHandle = nullptr;
    if (!image
        || heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr, &rawHandle).code != heif_error_Ok) {
        *error = QStringLiteral("Could not encode the HEIF image of %1.").arg(plan.shot.baseName);
        return {};
    }
    const std::unique_ptr<heif_image_handle, HeifHandleDeleter> handle(rawHandle);
    heif_image_handle* thumbnail = nullptr;
    heif_context_encode_thumbnail(context.get(), image.get(), handle.get(), encoder.get(), nullptr,
                                  kThumbnailBox.width(), &thumbnail);
    if (thumbnail)
        heif_image_handle_release(thumbnail);
    // Cameras leave the rotation to the file's own transform; the EXIF orientation says the pixels are upright.
    const QByteArray exif = exifTiff(plan, spec, 1, upright.size());
    heif_context_add_exif_metadata(context.get(), handle.get(), exif.constData(), int(exif.size()));
    QByteArray bytes;
    heif_writer writer{1, &appendToByteArray};
    if (heif_context_write(context.get(), &writer, &bytes).code != heif_error_Ok) {
        *error = QStringLiteral("Could not write the HEIF file of %1.").arg(plan.shot.baseName);
        return {};
    }
    return bytes;
}

// The shot as it is seen: the stored pixels turned by their EXIF orientation.
QImage uprightOf(const QImage& stored, int orientation)
{
    if (orientation == 6)
        return stored.transformed(QTransform().rotate(90));
    if (orientation == 8)
        return stored.transformed(QTransform().rotate(270));
    return stored;
}

// Written under a temporary name and renamed, then dated like the shot, as a camera's file system would.
QString writeFile(const QString& path, const QByteArray& bytes, const QDateTime& time)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    QFile written(path);
    if (!written.open(QIODevice::ReadWrite) || !written.setFileTime(time, QFileDevice::FileModificationTime)
        || !written.setFileTime(time, QFileDevice::FileAccessTime))
        return QStringLiteral("Cannot date %1: %2").arg(path, written.errorString());
    return {};
}

} // namespace

QStringList sampleRawExtensions()
{
    return {QStringLiteral("CR2"), QStringLiteral("ARW"), QStringLiteral("NEF"), QStringLiteral("ORF"), QStringLiteral("RW2")};
}

bool isHeifExtension(const QString& extension)
{
    return ImageFileTypes::kindOfFileName(QStringLiteral("x.") + extension) == ImageFileTypes::Kind::heif;
}

SampleCameraResult generateSampleCamera(const SampleCameraSpec& spec)
{
    SampleCameraResult result;
    const QSize imageSize = spec.fullSize ? kFullSize : spec.imageSize;
    result.error = validate(spec, imageSize);
    if (!result.ok())
        return result;

    const QDateTime firstDay =
        spec.firstDay.isValid() ? spec.firstDay : QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::LocalTime);
    const QString root = QDir(spec.outputFolder).absolutePath();
    const std::vector<ShotPlan> plans = planShots(spec, firstDay, root);

    if (!QDir().mkpath(root + QStringLiteral("/DCIM/%1VKLCM").arg(kFirstFolderNumber))) {
        result.error = QStringLiteral("Cannot create the folders under %1.").arg(root);
        return result;
    }
    for (const ShotPlan& plan : plans) {
        if (!QDir().mkpath(plan.folder)) {
            result.error = QStringLiteral("Cannot create %1.").arg(plan.folder);
            return result;
        }
        const QImage stored = renderShot(plan, imageSize, spec.seed, spec.fullSize);
        const QImage thumbnail = stored.scaled(boundedBy(stored.size(), kThumbnailBox.boundedTo(stored.size() / 2)),
                                               Qt::KeepAspectRatio, Qt::SmoothTransformation);
        const QByteArray thumbnailJpeg = encodeJpeg(thumbnail, kThumbnailQuality);
        const QByteArray mainJpeg = encodeJpeg(stored, spec.fullSize ? kFullSizeJpegQuality : kJpegQuality);
        if (thumbnailJpeg.isEmpty() || mainJpeg.isEmpty()) {
            result.error = QStringLiteral("Cannot encode JPEG images (is Qt's JPEG plug-in installed?).");
            return result;
        }
        const QByteArray jpeg = isHeifExtension(spec.imageExtension)
                                    ? buildHeif(plan, spec, uprightOf(stored, plan.shot.orientation), &result.error)
                                    : jpegWithExif(mainJpeg, thumbnailJpeg, plan, spec, stored.size(), &result.error);
        if (!result.ok())
            return result;
        result.error = writeFile(plan.shot.jpegPath, jpeg, plan.shot.captureTime);
        if (!result.ok())
            return result;
        result.files << plan.shot.jpegPath;

        if (!plan.shot.rawPath.isEmpty()) {
            const QSize previewSize = boundedBy(stored.size(), kRawPreviewBox);
            const QImage preview =
                previewSize == stored.size() ? stored : stored.scaled(previewSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            const QByteArray previewJpeg = encodeJpeg(preview, kPreviewQuality);
            if (previewJpeg.isEmpty()) {
                result.error = QStringLiteral("Cannot encode JPEG images (is Qt's JPEG plug-in installed?).");
                return result;
            }
            const QByteArray raw = plan.rawExtension.compare(QLatin1String("CR3"), Qt::CaseInsensitive) == 0
                                       ? buildCr3(plan, spec, stored, preview, previewJpeg, thumbnail, thumbnailJpeg)
                                       : buildRaw(plan, spec, stored, preview, previewJpeg, thumbnailJpeg);
            result.error = writeFile(plan.shot.rawPath, raw, plan.shot.captureTime);
            if (!result.ok())
                return result;
            result.files << plan.shot.rawPath;
        }
        SampleShot shot = plan.shot;
        shot.pixelSize = stored.size();
        result.shots << shot;
    }
    return result;
}

} // namespace vornakel::tools
