#pragma once

#include "platform/camera/simulated/SimulatedCamera.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace vornakel::simulated {

// One file or folder of a camera's content as the listing gives it.
struct Entry {
    QString name;
    QString relativePath; // from the root, '/'-separated; empty for the root
    // A folder camera's path from the root in the file system's own bytes, which need not be valid UTF-8 (the
    // name then shows each undecodable byte as U+FFFD); empty for the root.
    QByteArray nativeRelativePath;
    bool isFolder = false;
    uint64_t size = 0;
    std::optional<QDateTime> dateCreated;
    std::optional<int> orientation;
    std::optional<VKLShootingData> shootingData;
    bool metadataLoaded = false;
    // In-memory content: the node this entry stands for (owned by the content).
    const SimulatedCameraContent::Folder* folder = nullptr;
    const SimulatedCameraContent::File* file = nullptr;
};

struct Metadata {
    uint64_t size = 0;
    std::optional<QDateTime> dateCreated;
    std::optional<int> orientation;
    std::optional<VKLShootingData> shootingData;
};

// Reads a file's bytes in order; an empty array is the end, none a failure.
class ContentReader {
public:
    virtual ~ContentReader() = default;
    virtual std::optional<QByteArray> read(qint64 maxBytes) = 0;
};

// What a camera serves. Calls come one at a time per camera, from the request that holds the camera's link (on
// the link's queue, or for a small file on the queue its caller takes it on), but the content may be shared, so
// implementations keep no mutable state.
class CameraContent {
public:
    virtual ~CameraContent() = default;
    virtual Entry root() const = 0;
    // With `withMetadata` the entries come with their metadata loaded.
    virtual Result<std::vector<Entry>> list(const Entry& folder, bool withMetadata) const = 0;
    virtual Result<Metadata> readMetadata(const Entry& entry) const = 0;
    virtual Result<QByteArray> thumbnail(const Entry& entry) const = 0;
    virtual Result<QByteArray> preview(const Entry& entry) const = 0;
    virtual std::unique_ptr<ContentReader> open(const Entry& entry) const = 0;

    static std::shared_ptr<CameraContent> onDisk(const QString& rootPath);
    static std::shared_ptr<CameraContent> inMemory(SimulatedCameraContent content);
};

// Image helpers, exposed for the tests that check them directly. Known image names follow the list the photo
// model uses (ImageFileTypes).
bool isKnownImageName(const QString& name);
// "2018:03:04 05:06:07" with an optional "+02:00"; none when it does not parse.
std::optional<QDateTime> parseExifDateTime(const QString& dateTime, const QString& offset = {});

} // namespace vornakel::simulated
