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

Exiv2::Image::AutoPtr open(const QString& path) { return openNativePath(QFile::encodeName(path)); }

Exiv2::Image::AutoPtr openNativePath(const QByteArray& nativePath)
{
    initialize();
    try {
        return Exiv2::ImageFactory::open(nativePath.toStdString());
    } catch (const std::exception&) {
        return Exiv2::Image::AutoPtr();
    }
}

Exiv2::Image::AutoPtr openData(const QByteArray& bytes)
{
    initialize();
    try {
        return Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()), long(bytes.size()));
    } catch (const std::exception&) {
        return Exiv2::Image::AutoPtr();
    }
}

} // namespace vornakel::Exiv2Library
