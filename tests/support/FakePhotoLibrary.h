#pragma once

#include "platform/core/DispatchQueue.h"
#include "platform/photolibrary/PhotoLibrary.h"

#include <QFileInfo>

#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace vornakel::test {

// A photo library that records the albums asked for and made and the imports asked for, and fails on request.
// It touches no file; like the real library it answers on the main queue, never in the caller's stack.
class FakePhotoLibrary : public PhotoLibrary {
public:
    struct Import {
        std::vector<QString> files;
        std::optional<PhotoAlbum> album;
    };

    bool exists() const override { return present; }
    QString location() const override { return QStringLiteral("/fake/Pictures"); }

    ReferencedImportSetting referencedImportSetting() const override
    {
        std::lock_guard lock(mutex);
        return setting;
    }
    void readReferencedImportSetting(SettingCompletion completion) override
    {
        DispatchQueue::main()->async([completion = std::move(completion), setting = referencedImportSetting()] { completion(setting); });
    }
    std::optional<Error> setReferencedImportSetting(bool referenced) override
    {
        std::lock_guard lock(mutex);
        setting = referenced;
        return std::nullopt;
    }

    void findOrMakeAlbum(const QString& name, AlbumCompletion completion) override
    {
        Result<PhotoAlbum> result = Error(errorDomain(), InvalidName);
        {
            std::lock_guard lock(mutex);
            albumRequests.push_back(name);
            const auto sanitized = sanitizedName(name);
            if (albumError)
                result = *albumError;
            else if (sanitized) {
                const PhotoAlbum album{*sanitized, location() + u'/' + *sanitized};
                if (std::find(albums.begin(), albums.end(), album) == albums.end()) {
                    albums.push_back(album);
                    albumsMade.push_back(album);
                }
                result = album;
            }
        }
        auto answer = [completion = std::move(completion), result] { completion(result); };
        std::lock_guard lock(mutex);
        if (holdAlbumAnswers)
            heldAlbumAnswers.push_back(std::move(answer));
        else
            DispatchQueue::main()->async(std::move(answer));
    }

    // Lets the album answers kept by `holdAlbumAnswers` go, in order, and answers later lookups at once.
    void releaseAlbumAnswers()
    {
        std::vector<std::function<void()>> held;
        {
            std::lock_guard lock(mutex);
            holdAlbumAnswers = false;
            held.swap(heldAlbumAnswers);
        }
        for (auto& answer : held)
            DispatchQueue::main()->async(std::move(answer));
    }

    void fetchAlbums(AlbumListCompletion completion) override
    {
        Result<std::vector<PhotoAlbum>> result = std::vector<PhotoAlbum>{};
        {
            std::lock_guard lock(mutex);
            if (albumError)
                result = *albumError;
            else
                result = albums;
        }
        DispatchQueue::main()->async([completion = std::move(completion), result] { completion(result); });
    }

    void importPhoto(const std::vector<QString>& files, const std::optional<PhotoAlbum>& album, ImportCompletion completion) override
    {
        Result<ImportedPhoto> result = ImportedPhoto{};
        {
            std::lock_guard lock(mutex);
            importRequests.push_back(Import{files, album});
            if (importError) {
                result = *importError;
            } else {
                const bool referenced = setting.valueOr(false);
                ImportedPhoto imported{files, !referenced};
                if (!referenced && album) {
                    for (QString& file : imported.files)
                        file = album->location + u'/' + QFileInfo(file).fileName();
                }
                imports.push_back(Import{files, album});
                result = imported;
            }
        }
        DispatchQueue::main()->async([completion = std::move(completion), result] { completion(result); });
    }

    // What was asked and what was done; read them under the mutex when work may still be running.
    mutable std::mutex mutex;
    std::vector<QString> albumRequests;
    std::vector<PhotoAlbum> albums;
    std::vector<PhotoAlbum> albumsMade;
    std::vector<Import> importRequests;
    std::vector<Import> imports;

    // Settings of the fake.
    bool present = true;
    ReferencedImportSetting setting = false;
    std::optional<Error> albumError;
    std::optional<Error> importError;
    // Keeps each album answer until `releaseAlbumAnswers`: a library that answers the lookup late.
    bool holdAlbumAnswers = false;
    std::vector<std::function<void()>> heldAlbumAnswers;
};

} // namespace vornakel::test
