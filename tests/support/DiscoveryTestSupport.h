#pragma once

#include "platform/camera/simulated/SimulatedCamera.h"

#include <QDateTime>

#include <memory>
#include <vector>

namespace vornakel::test {

// A camera discovery that reports what the test tells it to.
class FakeDiscovery : public VKLCameraDiscovery {
public:
    void beginSearching() override { ++searches; searching = true; }
    void stopSearching() override { searching = false; }
    std::vector<std::shared_ptr<VKLCamera>> cameras() const override { return reported; }

    void report(std::vector<std::shared_ptr<VKLCamera>> cameras)
    {
        reported = std::move(cameras);
        const Cameras current = reported;
        emit devicesChanged(current);
    }

    std::vector<std::shared_ptr<VKLCamera>> reported;
    int searches = 0;
    bool searching = false;
};

// A memory card in one folder: the names given, one second apart, in that order.
inline SimulatedCameraContent cardWith(const QStringList& names)
{
    SimulatedCameraContent content;
    SimulatedCameraContent::Folder dcim{QStringLiteral("DCIM"), {}, {}};
    SimulatedCameraContent::Folder folder{QStringLiteral("100TEST"), {}, {}};
    const QDateTime start(QDate(2026, 3, 1), QTime(10, 0));
    int second = 0;
    for (const QString& name : names)
        folder.files.push_back({name, 1000, start.addSecs(second++), {}});
    dcim.folders.push_back(folder);
    content.root.folders.push_back(dcim);
    return content;
}

// `count` JPEG shots, IMG_0001.JPG …, every third with a RAW file listed right after it.
inline QStringList shotNames(int count)
{
    QStringList names;
    for (int i = 1; i <= count; ++i) {
        const QString base = QStringLiteral("IMG_%1").arg(i, 4, 10, QLatin1Char('0'));
        names << base + QStringLiteral(".JPG");
        if (i % 3 == 0)
            names << base + QStringLiteral(".CR2");
    }
    return names;
}

inline SimulatedCameraOptions quickOptions()
{
    SimulatedCameraOptions options;
    options.friendlyDisplayName = QStringLiteral("Test Camera");
    options.pairingDelayMs = 30;
    return options;
}

} // namespace vornakel::test
