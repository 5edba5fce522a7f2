#pragma once

#include "platform/core/Error.h"
#include "platform/core/Result.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vornakel {

// An album of the photo library, as the library answered it.
struct PhotoAlbum {
    QString name;
    // Where the library keeps it; for a folder-backed library the album's folder.
    QString location;

    bool operator==(const PhotoAlbum& other) const = default;
};

// What one import did with the files of a photo.
struct ImportedPhoto {
    // The files as the library now holds them, in the order they were given.
    std::vector<QString> files;
    // True when the library holds copies of its own, so the given files may be removed afterwards; false when
    // it refers to them where they are.
    bool libraryOwnsCopies = false;
};

// The library's "import by reference" setting as read, or why it could not be read. Missing and unreadable
// are errors, never false: only a setting that was really read as false says the library keeps its own copies.
using ReferencedImportSetting = Result<bool>;

inline bool confirmsOwnCopies(const ReferencedImportSetting& setting)
{
    return setting.hasValue() && !setting.value();
}

// The user's photo library: albums and imports. Album lookup and imports are asynchronous: the work runs one
// request after another off the calling thread, and the completion runs exactly once on the library's
// completion queue (the main queue unless the library was made with another), with a TimedOut error at the
// latest when the library's time-out passes. A request still waiting its turn when its time-out passes is
// dropped, so an import that timed out before it started moved nothing; one already under way is finished.
class PhotoLibrary {
public:
    using AlbumCompletion = std::function<void(const Result<PhotoAlbum>&)>;
    using AlbumListCompletion = std::function<void(const Result<std::vector<PhotoAlbum>>&)>;
    using ImportCompletion = std::function<void(const Result<ImportedPhoto>&)>;
    using SettingCompletion = std::function<void(const ReferencedImportSetting&)>;

    virtual ~PhotoLibrary() = default;

    // Whether there is a library to copy into; cheap enough to ask on the main thread.
    virtual bool exists() const = 0;
    // Where the library lives, for showing to the user.
    virtual QString location() const = 0;

    // Reads the setting on the calling thread (a small file; not on the GUI thread).
    [[nodiscard]] virtual ReferencedImportSetting referencedImportSetting() const = 0;
    // The same, read off the calling thread.
    virtual void readReferencedImportSetting(SettingCompletion completion) = 0;
    [[nodiscard]] virtual std::optional<Error> setReferencedImportSetting(bool referenced) = 0;

    // Finds the album with this name, or makes it; the name goes through sanitizedName() first.
    virtual void findOrMakeAlbum(const QString& name, AlbumCompletion completion) = 0;
    virtual void fetchAlbums(AlbumListCompletion completion) = 0;
    // Imports the files of one photo (all its variants) together, into the album or into no album. Either all
    // of them are imported or none: a failed import leaves every file where it was.
    virtual void importPhoto(const std::vector<QString>& files, const std::optional<PhotoAlbum>& album,
                             ImportCompletion completion) = 0;

    // The one rule for names from outside (album names, file names) before they become a file name: no "/",
    // no NUL or other control characters, no leading "." (so never "." or ".."), surrounding blanks trimmed,
    // at most 255 bytes of UTF-8. None when nothing is left.
    static std::optional<QString> sanitizedName(const QString& name);

    static QString errorDomain() { return appIdentifierPrefix() + QStringLiteral(".photo-library"); }
    enum ErrorCode {
        LibraryMissing = 1,
        InvalidName = 2,
        NotAFolder = 3,
        SourceMissing = 4,
        ImportFailed = 5,
        TimedOut = 6,
        SettingMissing = 7,
        SettingUnreadable = 8,
        SettingWriteFailed = 9,
        AlbumFailed = 10,
    };
};

} // namespace vornakel
