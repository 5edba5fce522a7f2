#include "platform/exiv2/Exiv2Library.h"

#include <cmath>

#include <QFile>

#include <mutex>

namespace vornakel::Exiv2Library {
namespace {

std::mutex& xmpMutex()
{
    static std::mutex mutex;
    return mutex;
}

void lockXmpToolkit(void* data, bool lock)
{
    auto* mutex = static_cast<std::mutex*>(data);
    if (lock)
        mutex->lock();
    else
        mutex->unlock();
}

} // namespace

void initialize()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize(&lockXmpToolkit, &xmpMutex());
        Exiv2::enableBMFF();
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    });
}

ImagePtr open(const QString& path) { return openNativePath(QFile::encodeName(path)); }

ImagePtr openNativePath(const QByteArray& nativePath)
{
    initialize();
    try {
        auto image = Exiv2::ImageFactory::open(nativePath.toStdString());
        return ImagePtr(image.release());
    } catch (const std::exception&) {
        return nullptr;
    }
}

ImagePtr openData(const QByteArray& bytes)
{
    initialize();
    try {
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()), long(bytes.size()));
        return ImagePtr(image.release());
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::optional<double> exifNumber(const Exiv2::ExifData& exif, const char* key)
{
    const auto found = exif.findKey(Exiv2::ExifKey(key));
    if (found == exif.end() || found->count() == 0)
        return std::nullopt;
    if (found->typeId() == Exiv2::unsignedRational || found->typeId() == Exiv2::signedRational) {
        const Exiv2::Rational value = found->toRational(0);
        if (value.second == 0)
            return std::nullopt;
        return double(value.first) / double(value.second);
    }
    const double value = found->toFloat(0);
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

std::optional<qint64> isoSetting(const Exiv2::ExifData& exif)
{
    const auto found = Exiv2::isoSpeed(exif);
    if (found == exif.end() || found->count() == 0)
        return std::nullopt;
    bool ok = false;
    qint64 value = QString::fromStdString(found->print(&exif)).trimmed().toLongLong(&ok);
    if (!ok)
        value = qint64(found->toLong(0));
    if (value <= 0 || value > 10'000'000)
        return std::nullopt;
    return value;
}

} // namespace vornakel::Exiv2Library
