// Feeds arbitrary bytes as a simulated camera's "camera.ini" to the reader of its options, then works out the
// disconnect delay from them, where a value out of range once overflowed a float-to-integer cast.
#include "platform/camera/simulated/SimulatedCamera.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

using namespace vornakel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder;
    QFile ini(QDir(folder.path()).filePath(QStringLiteral("camera.ini")));
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    ini.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    ini.close();
    const SimulatedCameraOptions options = SimulatedCameraOptions::fromFolder(folder.path());
    options.disconnectDelay();
    return 0;
}
