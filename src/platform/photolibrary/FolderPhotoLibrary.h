#pragma once

#include "platform/core/DispatchQueue.h"
#include "platform/photolibrary/PhotoLibrary.h"

#include <QString>

#include <chrono>
#include <memory>
#include <mutex>

namespace vornakel {

// A photo library kept in a folder, the way folder-based photo managers see one: albums are its sub-folders,
// an import moves a photo's files into the album folder (never over an existing file: a clash gets
// "IMG_0001 2.JPG", the same number for every variant of the photo), and the library's own settings live in
// the hidden folder ".photolibrary" inside it. With referenced import on, the files stay where they are and
// the import is recorded in ".photolibrary/References.plist" instead.
class FolderPhotoLibrary : public PhotoLibrary {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{60000};

    // root: the library folder; empty means defaultRoot(). completionQueue: where completions run (main
    // unless given).
    explicit FolderPhotoLibrary(QString root = {}, QueuePtr completionQueue = {});

    // The user's Pictures folder (XDG_PICTURES_DIR).
    static QString defaultRoot();

    QString root() const;
    void setRoot(const QString& root);
    // How long a caller waits for one request at most.
    void setTimeout(std::chrono::milliseconds timeout);

    QString settingsPath() const;
    QString referencesPath() const;

    bool exists() const override;
    QString location() const override { return root(); }

    [[nodiscard]] ReferencedImportSetting referencedImportSetting() const override;
    void readReferencedImportSetting(SettingCompletion completion) override;
    [[nodiscard]] std::optional<Error> setReferencedImportSetting(bool referenced) override;

    void findOrMakeAlbum(const QString& name, AlbumCompletion completion) override;
    void fetchAlbums(AlbumListCompletion completion) override;
    void importPhoto(const std::vector<QString>& files, const std::optional<PhotoAlbum>& album,
                     ImportCompletion completion) override;

    // The setting's key in the settings file.
    static QString referencedImportKey() { return QStringLiteral("IPXDefaultImportUseReferencedImport"); }

private:
    template <typename T>
    void submit(std::function<T()> work, std::function<void(const T&)> completion);

    mutable std::mutex m_mutex;
    QString m_root;
    std::chrono::milliseconds m_timeout = kDefaultTimeout;
    QueuePtr m_queue;
    QueuePtr m_completionQueue;
};

} // namespace vornakel
