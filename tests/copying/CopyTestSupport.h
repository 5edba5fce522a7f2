#pragma once

#include "copying/FolderCopyDestination.h"
#include "copying/PhotoCopyQueue.h"
#include "copying/StagedFile.h"
#include "model/Photo.h"
#include "support/InProcessCamera.h"
#include "platform/core/UserDefaults.h"
#include "sorting/PhotoSortingModel.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vornakel::test {

// What a copy reported, in order.
struct CopyRecord {
    QStringList events; // "queueStarted", "itemStarted:<name>", "itemFinished", "queueFinished", "conflict:<name>"
    int progressUpdates = 0;
    int queueFinished = 0;
    std::optional<bool> startedAnswer;
    std::vector<std::optional<QString>> itemTargets;
    // The progress of each file announced, in order (the queue lets go of a file's progress once it is done).
    std::vector<ProgressPtr> itemProgresses;
    // The record of each file done, in the copy's order (the queue keeps only counts and the failed files).
    std::vector<PhotoCopyQueue::FileRecord> files;
    // The deferreds of the last conflict question (tests that answer late, or never).
    std::optional<Deferred<FileNameConflictResolution>> openResolution;
    std::optional<Deferred<bool>> openRemember;

    int count(const QString& event) const { return int(events.count(event)); }
};

// How the conflict callback answers: a fixed resolution (and whether to remember it), or not at all.
struct ConflictAnswer {
    std::optional<FileNameConflictResolution> resolution;
    bool remember = false;
};

inline PhotoCopyQueue::Callbacks recordingCallbacks(const std::shared_ptr<CopyRecord>& record,
                                                    std::optional<ConflictAnswer> answer = std::nullopt)
{
    PhotoCopyQueue::Callbacks callbacks;
    callbacks.queueStarted = [record](const PhotoCopyQueue::Ptr&) { record->events << QStringLiteral("queueStarted"); };
    callbacks.itemStarted = [record](const PhotoCopyQueue::Ptr& queue, const PhotoVariantPtr& variant,
                                     const std::optional<QString>& target) {
        record->events << QStringLiteral("itemStarted:") + variant->fileName();
        record->itemTargets.push_back(target);
        record->itemProgresses.push_back(queue->currentItemProgress());
    };
    callbacks.progressUpdated = [record](const PhotoCopyQueue::Ptr&) { ++record->progressUpdates; };
    callbacks.itemFinished = [record](const PhotoCopyQueue::Ptr&, const PhotoCopyQueue::FileRecord& file) {
        record->events << QStringLiteral("itemFinished");
        auto& files = record->files;
        files.insert(std::upper_bound(files.begin(), files.end(), file.index(),
                                      [](size_t index, const auto& each) { return index < each.index(); }),
                     file);
    };
    callbacks.queueFinished = [record](const PhotoCopyQueue::Ptr&) {
        record->events << QStringLiteral("queueFinished");
        ++record->queueFinished;
    };
    if (answer) {
        callbacks.fileNameConflict = [record, answer](const PhotoCopyQueue::Ptr&, const PhotoVariantPtr& variant,
                                                      const QString&, Deferred<FileNameConflictResolution> resolution,
                                                      Deferred<bool> remember) {
            record->events << QStringLiteral("conflict:") + variant->fileName();
            record->openResolution = resolution;
            record->openRemember = remember;
            if (answer->resolution) {
                resolution.fill(*answer->resolution);
                remember.fill(answer->remember);
            }
        };
    }
    return callbacks;
}

// A camera card in memory, a target folder on disk, and the settings a folder destination reads.
class CopyFixture {
public:
    CopyFixture()
        : m_options(std::make_shared<InProcessCameraOptions>()),
          m_root(std::make_shared<InProcessFolder>(QStringLiteral("DCIM"), m_options)),
          m_defaults(m_dir.filePath(QStringLiteral("prefs/UserDefaults.plist"))), m_presets(m_defaults)
    {
        QDir().mkpath(outPath());
    }

    QString outPath() const { return m_dir.filePath(QStringLiteral("out")); }
    QString outFile(const QString& name) const { return QDir(outPath()).filePath(name); }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }
    UserDefaults& defaults() { return m_defaults; }
    PhotoSortingModel& presets() { return m_presets; }
    const std::shared_ptr<InProcessFolder>& root() const { return m_root; }

    // A camera file; its bytes are the in-process pattern unless a stream is given.
    std::shared_ptr<InProcessFile> file(const QString& name, qint64 size = 1000,
                                        std::optional<QDateTime> date = std::nullopt,
                                        std::optional<InProcessFile::Stream> stream = std::nullopt)
    {
        auto item = m_root->addFile(name, date, uint64_t(size));
        if (stream)
            item->setStream(*stream);
        return item;
    }
    PhotoPtr photo(const QString& name, qint64 size = 1000, std::optional<QDateTime> date = std::nullopt,
                   std::optional<QString> previewName = std::nullopt)
    {
        auto primary = PhotoVariant::create(file(name, size, date));
        PhotoVariantPtr preview = previewName ? PhotoVariant::create(file(*previewName, size, date)) : nullptr;
        return Photo::create(primary, preview);
    }

    FolderCopyDestination::Ptr flatDestination()
    {
        return FolderCopyDestination::createFlat(QUrl::fromLocalFile(outPath()), m_defaults, m_presets);
    }

    // Starts the queue with the callbacks and runs the event loop until it finished (or the deadline).
    // `answer` none: no conflict callback at all.
    std::shared_ptr<CopyRecord> run(const PhotoCopyQueue::Ptr& queue,
                                    std::optional<ConflictAnswer> answer = ConflictAnswer{FileNameConflictResolution::skip},
                                    std::chrono::milliseconds deadline = std::chrono::milliseconds(10000))
    {
        auto record = start(queue, answer);
        EXPECT_TRUE(runUntil([&] { return record->queueFinished > 0; }, deadline)) << record->events.join(QLatin1Char(' ')).toStdString();
        return record;
    }
    std::shared_ptr<CopyRecord> start(const PhotoCopyQueue::Ptr& queue, std::optional<ConflictAnswer> answer)
    {
        auto record = std::make_shared<CopyRecord>();
        queue->setCancelWatchdogDelay(std::chrono::milliseconds(100));
        queue->start(recordingCallbacks(record, answer), [record](bool started) { record->startedAnswer = started; });
        return record;
    }

    // Names in the folder (hidden temporaries included), sorted.
    QStringList entries(const QString& folder = {}) const
    {
        QDir dir(folder.isEmpty() ? outPath() : folder);
        QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        return names;
    }
    // "name: content" of each entry of the target folder, in name order.
    QStringList contents() const
    {
        QStringList found;
        for (const QString& name : entries())
            found << name + QStringLiteral(": ") + QString::fromUtf8(read(outFile(name)));
        return found;
    }
    static QStringList temporaries(const QStringList& names)
    {
        QStringList found;
        for (const QString& name : names)
            if (StagedFile::isTemporaryName(name))
                found << name;
        return found;
    }

    static void write(const QString& path, const QByteArray& data)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(data), data.size());
    }
    static QByteArray read(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return file.readAll();
    }
    static QByteArray pattern(qint64 size)
    {
        QByteArray bytes(size, '\0');
        for (qint64 i = 0; i < size; ++i)
            bytes[i] = InProcessFile::patternByte(i);
        return bytes;
    }

private:
    QTemporaryDir m_dir;
    std::shared_ptr<InProcessCameraOptions> m_options;
    std::shared_ptr<InProcessFolder> m_root;
    UserDefaults m_defaults;
    PhotoSortingModel m_presets;
};

inline const char* stateName(PhotoVariantCopyOperation::State::Kind kind)
{
    switch (kind) {
    case PhotoVariantCopyOperation::State::Kind::failed: return "failed";
    case PhotoVariantCopyOperation::State::Kind::preCopy: return "preCopy";
    case PhotoVariantCopyOperation::State::Kind::copying: return "copying";
    case PhotoVariantCopyOperation::State::Kind::cancelled: return "cancelled";
    case PhotoVariantCopyOperation::State::Kind::copiedSuccessfully: return "copiedSuccessfully";
    }
    return "?";
}

} // namespace vornakel::test
