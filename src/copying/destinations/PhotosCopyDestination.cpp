#include "copying/destinations/PhotosCopyDestination.h"

#include "copying/PhotoVariantCopyOperation.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/Error.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "sorting/PhotoSortingModel.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <utility>

namespace vornakel {

namespace {

bool isFinished(const PhotoVariantCopyOperation& operation)
{
    using Kind = PhotoVariantCopyOperation::State::Kind;
    const Kind kind = operation.state().kind;
    return kind == Kind::failed || kind == Kind::cancelled || kind == Kind::copiedSuccessfully;
}

std::optional<QString> localFolder(const std::optional<QUrl>& url)
{
    if (!url || !url->isLocalFile())
        return std::nullopt;
    const QString path = url->toLocalFile();
    if (path.isEmpty() || QFileInfo(path).isRelative())
        return std::nullopt;
    return path;
}

} // namespace

QString PhotosCopyDestination::photosGroupingBehaviourUserDefaultsKey() { return QStringLiteral("PhotosGroupingBehaviour"); }
QString PhotosCopyDestination::photosSortingUserDefaultsKey() { return QStringLiteral("PhotosSortingPreset"); }
QString PhotosCopyDestination::destinationUserDefaultsKey() { return QStringLiteral("PhotosDestination"); }

PhotosCopyDestination::PhotosCopyDestination(std::shared_ptr<PhotoLibrary> library, UserDefaults& defaults,
                                             const PhotoSortingModel& presets, QString cacheFolder)
    : m_library(std::move(library)), m_defaults(defaults), m_cacheFolder(std::move(cacheFolder))
{
    if (m_cacheFolder.isEmpty())
        m_cacheFolder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString presetId = defaults.stringForKey(photosSortingUserDefaultsKey());
    if (!presetId.isEmpty())
        m_referencedImportSorting = presets.preset(presetId);
    if (!m_referencedImportSorting)
        m_referencedImportSorting = UserDefinedPhotoSorting::byPaddedNumericDate();
    const QUrl stored = defaults.urlForKey(destinationUserDefaultsKey());
    if (stored.isValid() && stored.isLocalFile() && QFileInfo(stored.toLocalFile()).isDir())
        m_referencedImportCopyDestination = stored;
    // Until the library's setting is read, it counts as keeping its own copies, which needs no folder.
    applyCopyRule();
}

PhotosCopyDestination::Ptr PhotosCopyDestination::create(std::shared_ptr<PhotoLibrary> library, UserDefaults& defaults,
                                                         const PhotoSortingModel& presets, QString cacheFolder)
{
    Ptr destination(new PhotosCopyDestination(std::move(library), defaults, presets, std::move(cacheFolder)));
    destination->refreshReferencedImportSetting();
    return destination;
}

std::shared_ptr<PhotosCopyDestination> PhotosCopyDestination::sharedSelf()
{
    return std::static_pointer_cast<PhotosCopyDestination>(shared_from_this());
}

QString PhotosCopyDestination::name() const { return GeneralUI::text(QStringLiteral("PhotosDestinationName")); }

QString PhotosCopyDestination::identifier() const
{
    return appIdentifierPrefix() + QStringLiteral(".zediriri-zir.copy-destination.photos");
}

PhotoCopyQueueOptions PhotosCopyDestination::copyQueueOptions()
{
    return {sharedSelf(), storedFileGroupBehaviour(m_defaults, photosGroupingBehaviourUserDefaultsKey(), FileGroupBehaviour::copyAll)};
}

void PhotosCopyDestination::setReferencedImportSorting(UserDefinedPhotoSortingPtr sorting)
{
    if (sorting)
        m_referencedImportSorting = std::move(sorting);
}

void PhotosCopyDestination::setReferencedImportCopyDestination(std::optional<QUrl> folder)
{
    m_referencedImportCopyDestination = std::move(folder);
    applyCopyRule();
    emit referencedImportCopyDestinationChanged();
}

void PhotosCopyDestination::refreshReferencedImportSetting()
{
    std::weak_ptr<CopyDestination> weak = weak_from_this();
    m_library->readReferencedImportSetting([weak](const ReferencedImportSetting& setting) {
        if (auto self = std::static_pointer_cast<PhotosCopyDestination>(weak.lock()))
            self->applySetting(setting);
    });
}

void PhotosCopyDestination::applySetting(const ReferencedImportSetting& setting)
{
    if (!setting)
        return;
    const bool changed = setting.value() != m_usesReferencedImport;
    m_usesReferencedImport = setting.value();
    applyCopyRule();
    if (changed)
        emit photosUsesReferencedImportChanged(m_usesReferencedImport);
}

void PhotosCopyDestination::applyCopyRule()
{
    setCurrentConfigurationAllowsCopyToStart(!m_usesReferencedImport ||
                                             localFolder(m_referencedImportCopyDestination).has_value());
}

template <typename T>
std::function<void(const Result<T>&)>
PhotosCopyDestination::withDeadline(std::function<void(const Result<T>&)> done)
{
    auto answered = std::make_shared<bool>(false);
    QTimer::singleShot(m_libraryTimeout, this, [answered, done] {
        if (std::exchange(*answered, true))
            return;
        done(Error(PhotoLibrary::errorDomain(), PhotoLibrary::TimedOut));
    });
    return [answered, done](const Result<T>& result) {
        if (std::exchange(*answered, true))
            return;
        done(result);
    };
}

void PhotosCopyDestination::copySessionShouldStart(const Variants&, std::function<void(bool)> completionHandler)
{
    std::weak_ptr<CopyDestination> weak = weak_from_this();
    m_library->readReferencedImportSetting([weak, completionHandler](const ReferencedImportSetting& setting) {
        auto self = std::static_pointer_cast<PhotosCopyDestination>(weak.lock());
        if (!self) {
            if (completionHandler)
                completionHandler(false);
            return;
        }
        self->beginSession(setting, completionHandler);
    });
}

void PhotosCopyDestination::beginSession(const ReferencedImportSetting& setting,
                                         const std::function<void(bool)>& completionHandler)
{
    applySetting(setting);
    m_refusalMessage.clear();
    m_report = {};
    m_photosNotImported.clear();
    m_photosHandled.clear();
    m_problems.clear();
    m_filesToRemove.clear();
    m_albumLookup = AlbumLookup::notAsked;
    m_waitingForAlbum.clear();
    m_sessionAlbum.reset();
    // Only a setting really read as "keeps its own copies" lets the session folder go; a library that could be
    // referring to the files must find them where they were put.
    m_sessionLibraryOwnsCopies = confirmsOwnCopies(setting);
    const auto answer = [completionHandler](bool started) {
        if (completionHandler)
            completionHandler(started);
    };
    if (m_usesReferencedImport) {
        const std::optional<QString> folder = localFolder(m_referencedImportCopyDestination);
        if (!folder) {
            m_refusalMessage = GeneralUI::text(QStringLiteral("PhotosReferencedImportNeedsFolderMessage"));
            answer(false);
            return;
        }
        m_sessionFolder = *folder;
        m_sessionFolderIsOurs = false;
        m_sessionSorting = m_referencedImportSorting;
        answer(true);
        return;
    }
    const QString folder = QDir(m_cacheFolder).filePath(appIdentifierPrefix() + QStringLiteral(".zediriri-zir/") +
                                                        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    if (m_cacheFolder.isEmpty() || !QDir().mkpath(folder)) {
        m_refusalMessage = GeneralUI::format(QStringLiteral("PhotosSessionFolderFailedMessage"), {folder});
        answer(false);
        return;
    }
    m_sessionFolder = folder;
    m_sessionFolderIsOurs = true;
    m_sessionSorting = UserDefinedPhotoSorting::byPaddedNumericDate();
    answer(true);
}

std::optional<QString> PhotosCopyDestination::destinationFor(const PhotoVariant& variant)
{
    if (!m_sessionFolder || !m_sessionSorting)
        return std::nullopt;
    return m_sessionSorting->destinationFor(variant, *m_sessionFolder);
}

void PhotosCopyDestination::performPostCopyOperation(const std::shared_ptr<PhotoVariantCopyOperation>& operation,
                                                     const Operations& allOperationsForPhoto,
                                                     std::function<void(bool)> completionHandler)
{
    const auto answerLater = [completionHandler](bool imported) {
        DispatchQueue::main()->async([completionHandler, imported] {
            if (completionHandler)
                completionHandler(imported);
        });
    };
    const Operations& operations = allOperationsForPhoto.empty() ? Operations{operation} : allOperationsForPhoto;
    // The photo is imported once, after its last file, so that its RAW and JPEG go in together.
    if (!std::all_of(operations.begin(), operations.end(), [](const auto& each) { return isFinished(*each); })) {
        answerLater(false);
        return;
    }
    // Keyed by the photo's first file, which the copy keeps for its whole session; its operation is let go once
    // the photo is done, and a later one may be made at the same address.
    const void* photoKey = operations.front()->photoVariant().get();
    // A photo is handled once, by the first post-copy step that finds all its files done: when the later files
    // finished before that step ran, their own steps find the same and must not import the photo again.
    if (!m_photosHandled.insert(photoKey).second) {
        answerLater(false);
        return;
    }
    using Kind = PhotoVariantCopyOperation::State::Kind;
    const bool allCopied = std::all_of(operations.begin(), operations.end(), [](const auto& each) {
        return each->state().kind == Kind::copiedSuccessfully;
    });
    if (!allCopied) {
        // Half a photo is not imported; its good files stay where they were copied.
        m_photosNotImported.insert(photoKey);
        for (const auto& each : operations) {
            if (each->state().kind == Kind::copiedSuccessfully && each->finalDestination())
                m_problems.push_back({each->photoVariant()->fileName(),
                                      GeneralUI::text(QStringLiteral("PhotosPhotoIncompleteReason"))});
        }
        answerLater(false);
        return;
    }
    std::vector<QString> files;
    QStringList names;
    for (const auto& each : operations) {
        if (auto destination = each->finalDestination()) {
            files.push_back(*destination);
            names << each->photoVariant()->fileName();
        }
    }
    if (files.empty()) {
        // Every file was skipped: nothing new to import.
        answerLater(false);
        return;
    }
    std::weak_ptr<CopyDestination> weak = weak_from_this();
    auto import = [weak, files, names, photoKey, completionHandler]() {
        auto self = std::static_pointer_cast<PhotosCopyDestination>(weak.lock());
        if (!self) {
            if (completionHandler)
                completionHandler(false);
            return;
        }
        self->m_library->importPhoto(files, self->m_sessionAlbum,
                                     self->withDeadline<ImportedPhoto>([weak, files, names, photoKey, completionHandler](
                                                                           const Result<ImportedPhoto>& result) {
            auto self = std::static_pointer_cast<PhotosCopyDestination>(weak.lock());
            if (self) {
                if (!result) {
                    self->m_photosNotImported.insert(photoKey);
                    const Error& error = result.error();
                    const QString why = error.message.isEmpty() ? error.description() : error.message;
                    for (const QString& name : names)
                        self->m_problems.push_back(
                            {name, GeneralUI::format(QStringLiteral("PhotosImportFailedReason"), {why})});
                } else if (result->libraryOwnsCopies && self->m_sessionLibraryOwnsCopies && self->m_sessionFolderIsOurs) {
                    self->m_filesToRemove.insert(self->m_filesToRemove.end(), files.begin(), files.end());
                }
            }
            if (completionHandler)
                completionHandler(result.hasValue());
        }));
    };
    if (!m_addToAlbum || m_albumLookup == AlbumLookup::answered) {
        import();
        return;
    }
    // Every photo of the session goes into the album: photos that arrive while the album is being looked up
    // wait for its answer, and go in after the ones before them.
    m_waitingForAlbum.push_back(std::move(import));
    if (m_albumLookup == AlbumLookup::pending)
        return;
    m_albumLookup = AlbumLookup::pending;
    m_library->findOrMakeAlbum(GeneralUI::text(QStringLiteral("PhotosImportAlbumName")),
                               withDeadline<PhotoAlbum>([weak](const Result<PhotoAlbum>& result) {
        auto self = std::static_pointer_cast<PhotosCopyDestination>(weak.lock());
        if (!self)
            return;
        // No album (it could not be found or made in time): the photos go into the library without one.
        if (result)
            self->m_sessionAlbum = *result;
        self->m_albumLookup = AlbumLookup::answered;
        std::vector<std::function<void()>> waiting;
        waiting.swap(self->m_waitingForAlbum);
        for (const auto& import : waiting)
            import();
    }));
}

void PhotosCopyDestination::copySessionDidEnd()
{
    m_sessionSorting.reset();
    m_report.notTakenIn = int(m_photosNotImported.size());
    m_report.problems = std::move(m_problems);
    if (m_sessionFolder) {
        if (m_sessionFolderIsOurs)
            cleanUpSessionFolder();
        // Only a folder that is there is named: the files of a photo that did go in are no longer in it.
        if ((m_report.notTakenIn > 0 || m_sessionFolderIsOurs) && QFileInfo(*m_sessionFolder).isDir())
            m_report.keptIn = *m_sessionFolder;
    }
    if (m_report.notTakenIn > 0) {
        m_report.message = m_report.keptIn
            ? GeneralUI::counted(QStringLiteral("PhotosNotImportedFormat"), m_report.notTakenIn,
                                 {QString::number(m_report.notTakenIn), *m_report.keptIn})
            : GeneralUI::counted(QStringLiteral("PhotosNotImportedWithoutCopiesFormat"), m_report.notTakenIn,
                                 {QString::number(m_report.notTakenIn)});
    } else if (m_report.keptIn) {
        m_report.message = GeneralUI::format(QStringLiteral("PhotosSessionFolderKeptMessage"), {*m_report.keptIn});
    }
    m_sessionFolder.reset();
    m_sessionFolderIsOurs = false;
    m_sessionAlbum.reset();
    m_albumLookup = AlbumLookup::notAsked;
    m_waitingForAlbum.clear();
    m_photosNotImported.clear();
    m_photosHandled.clear();
    m_problems.clear();
    m_filesToRemove.clear();
    emit sessionEnded(m_report);
}

std::optional<QString> PhotosCopyDestination::sessionFolderToShow() const
{
    if (m_report.keptIn)
        return m_report.keptIn;
    const QString library = m_library->location();
    return library.isEmpty() ? std::nullopt : std::optional<QString>(library);
}

void PhotosCopyDestination::cleanUpSessionFolder()
{
    const QString root = QDir::cleanPath(*m_sessionFolder);
    for (const QString& file : m_filesToRemove) {
        const QString clean = QDir::cleanPath(file);
        // Only files inside the session folder: it is the only place this session may delete from.
        if (clean.startsWith(root + u'/'))
            QFile::remove(clean);
    }
    // Empty folders go, deepest first; a folder that still holds a file the library did not confirm stays.
    QStringList folders;
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        folders << it.next();
    std::sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& folder : folders)
        QDir().rmdir(folder);
    QDir().rmdir(root);
}

} // namespace vornakel
