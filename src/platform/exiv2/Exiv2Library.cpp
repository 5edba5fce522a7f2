#include "platform/exiv2/Exiv2Library.h"

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

} // namespace vornakel::Exiv2Library
