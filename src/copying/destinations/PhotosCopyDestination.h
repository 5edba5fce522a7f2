#pragma once

#include "copying/CopyDestination.h"
#include "copying/destinations/CopySessionReport.h"
#include "platform/photolibrary/PhotoLibrary.h"
#include "sorting/UserDefinedPhotoSorting.h"

#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace vornakel {

class PhotoSortingModel;
class UserDefaults;

// Copies into the user's photo library: each file is first copied into a folder on disk, and once every file of
// a photo is there the photo is imported, its RAW and JPEG together, into the program's album. When the library
// imports by reference, the copies go to a lasting folder with a preset the user chose; otherwise to a session
// folder under the cache folder (year/month/day), which is cleaned up at the end, keeping every file the
// library did not confirm it holds a copy of.
class PhotosCopyDestination : public CopyDestination {
    Q_OBJECT
public:
    using Ptr = std::shared_ptr<PhotosCopyDestination>;

    static QString photosGroupingBehaviourUserDefaultsKey(); // "PhotosGroupingBehaviour"
    static QString photosSortingUserDefaultsKey();           // "PhotosSortingPreset"
    static QString destinationUserDefaultsKey();             // "PhotosDestination"

    // cacheFolder: where session folders go; empty means the user's cache folder.
    static Ptr create(std::shared_ptr<PhotoLibrary> library, UserDefaults& defaults, const PhotoSortingModel& presets,
                      QString cacheFolder = {});

    QString name() const override;
    QString iconName() const override { return QStringLiteral("folder-pictures"); }
    QString identifier() const override;
    QString helpBookAnchor() const override { return QStringLiteral("Help_CopyPhotos"); }

    PhotoCopyQueueOptions copyQueueOptions() override;
    void copyDestinationInstanceWillNotBeUsed() override {}
    // Reads the library's setting again, then opens the session folder; refuses (with `refusalMessage`) a
    // referenced import without a folder, or a session folder that cannot be made. Answers on the main queue.
    void copySessionShouldStart(const Variants& variants, std::function<void(bool)> completionHandler) override;
    void copySessionWillStart(const Variants&) override {}
    std::optional<QString> destinationFor(const PhotoVariant& variant) override;
    // Imports the photo once all its files are done and all were copied; answers on the main queue.
    void performPostCopyOperation(const std::shared_ptr<PhotoVariantCopyOperation>& operation,
                                  const Operations& allOperationsForPhoto,
                                  std::function<void(bool)> completionHandler) override;
    void copySessionDidEnd() override;

    PhotoLibrary& library() const { return *m_library; }
    const UserDefinedPhotoSortingPtr& referencedImportSorting() const { return m_referencedImportSorting; }
    void setReferencedImportSorting(UserDefinedPhotoSortingPtr sorting);
    const std::optional<QUrl>& referencedImportCopyDestination() const { return m_referencedImportCopyDestination; }
    void setReferencedImportCopyDestination(std::optional<QUrl> folder);
    bool addToImportedFromVornakelAlbum() const { return m_addToAlbum; }
    void setAddToImportedFromVornakelAlbum(bool add) { m_addToAlbum = add; }
    // True only when the library's setting was read as true; an unreadable setting keeps the last value read.
    bool photosUsesReferencedImport() const { return m_usesReferencedImport; }
    // Reads the library's setting (off the main thread) and applies it; the pane calls it when the app becomes
    // active.
    void refreshReferencedImportSetting();

    // How long an album lookup or an import may take before it counts as failed, whatever the library does.
    static constexpr std::chrono::milliseconds kDefaultLibraryTimeout{90000};
    void setLibraryTimeout(std::chrono::milliseconds timeout) { m_libraryTimeout = timeout; }

    const std::optional<QString>& currentSessionDestination() const { return m_sessionFolder; }
    // Why the last session was refused.
    QString refusalMessage() const override { return m_refusalMessage; }
    QString sessionSummary() const override { return m_report.message; }
    std::vector<CopyFileProblem> sessionProblems() const override { return m_report.problems; }
    // The folder that keeps copies of the last session, else the library itself.
    std::optional<QString> sessionFolderToShow() const override;
    // What the last session could not import; set when it ends.
    const CopySessionReport& lastSessionReport() const { return m_report; }

signals:
    void photosUsesReferencedImportChanged(bool referenced);
    void referencedImportCopyDestinationChanged();
    // A session ended; `report` says what did not go in.
    void sessionEnded(const vornakel::CopySessionReport& report);

private:
    PhotosCopyDestination(std::shared_ptr<PhotoLibrary> library, UserDefaults& defaults, const PhotoSortingModel& presets,
                          QString cacheFolder);
    std::shared_ptr<PhotosCopyDestination> sharedSelf();
    void applySetting(const ReferencedImportSetting& setting);
    void applyCopyRule();
    void beginSession(const ReferencedImportSetting& setting, const std::function<void(bool)>& completionHandler);
    void importFiles(std::vector<QString> files, std::function<void(bool)> completionHandler);
    void cleanUpSessionFolder();
    // The completion, called once: with the library's answer, or with a time-out error when none came in time.
    template <typename T>
    std::function<void(const Result<T>&)> withDeadline(std::function<void(const Result<T>&)> done);

    std::shared_ptr<PhotoLibrary> m_library;
    UserDefaults& m_defaults;
    QString m_cacheFolder;
    UserDefinedPhotoSortingPtr m_referencedImportSorting;
    std::optional<QUrl> m_referencedImportCopyDestination;
    bool m_addToAlbum = true;
    bool m_usesReferencedImport = false;
    std::chrono::milliseconds m_libraryTimeout = kDefaultLibraryTimeout;

    // The running session.
    std::optional<QString> m_sessionFolder;
    bool m_sessionFolderIsOurs = false;
    // Whether the setting read at session start says the library keeps copies of its own.
    bool m_sessionLibraryOwnsCopies = false;
    UserDefinedPhotoSortingPtr m_sessionSorting;
    enum class AlbumLookup { notAsked, pending, answered };
    AlbumLookup m_albumLookup = AlbumLookup::notAsked;
    std::optional<PhotoAlbum> m_sessionAlbum;
    // Imports of photos that arrived while the album was being looked up, in their order.
    std::vector<std::function<void()>> m_waitingForAlbum;
    std::set<const void*> m_photosNotImported; // by the first operation of each photo
    std::set<const void*> m_photosHandled;     // likewise: photos whose files were all done and looked at
    std::vector<CopyFileProblem> m_problems;
    std::vector<QString> m_filesToRemove;
    QString m_refusalMessage;
    CopySessionReport m_report;
};

} // namespace vornakel
