// The fake that other tests copy into stands in for the folder library: both answer the same way.
#include "platform/photolibrary/FolderPhotoLibrary.h"
#include "support/FakePhotoLibrary.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace vornakel;
using vornakel::test::FakePhotoLibrary;
using vornakel::test::runUntil;

namespace {

template <typename T>
std::optional<T> answer(const std::function<void(std::function<void(const T&)>)>& request)
{
    std::optional<T> result;
    bool onMainThread = false;
    request([&](const T& value) {
        onMainThread = DispatchQueue::isMainThread();
        result = value;
    });
    EXPECT_FALSE(result) << "answered inside the call";
    EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(onMainThread);
    return result;
}

} // namespace

TEST(PhotoLibraryContract, TheFakeAnswersAsTheFolderLibraryDoes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString photo = dir.filePath(QStringLiteral("session/IMG_0001.JPG"));
    QDir().mkpath(dir.filePath(QStringLiteral("Pictures")));

    const std::pair<const char*, std::shared_ptr<PhotoLibrary>> libraries[] = {
        {"folder", std::make_shared<FolderPhotoLibrary>(dir.filePath(QStringLiteral("Pictures")))},
        {"fake", std::make_shared<FakePhotoLibrary>()},
    };
    for (const auto& entry : libraries) {
        SCOPED_TRACE(entry.first);
        PhotoLibrary* library = entry.second.get();
        QDir().mkpath(dir.filePath(QStringLiteral("session")));
        QFile file(photo);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();

        EXPECT_TRUE(library->exists());
        ASSERT_EQ(library->setReferencedImportSetting(false), std::nullopt);
        EXPECT_TRUE(confirmsOwnCopies(library->referencedImportSetting()));

        const auto first = answer<PhotoLibraryResult<PhotoAlbum>>([&](auto done) { library->findOrMakeAlbum(QStringLiteral("../Trips"), done); });
        const auto again = answer<PhotoLibraryResult<PhotoAlbum>>([&](auto done) { library->findOrMakeAlbum(QStringLiteral("-Trips"), done); });
        ASSERT_TRUE(first && again && std::holds_alternative<PhotoAlbum>(*first));
        EXPECT_EQ(std::get<PhotoAlbum>(*first).name, QStringLiteral("-Trips"));
        EXPECT_EQ(*again, *first);
        const auto unnamed = answer<PhotoLibraryResult<PhotoAlbum>>([&](auto done) { library->findOrMakeAlbum(QStringLiteral(".."), done); });
        ASSERT_TRUE(unnamed && std::holds_alternative<Error>(*unnamed));
        EXPECT_EQ(std::get<Error>(*unnamed).code, PhotoLibrary::InvalidName);

        const auto imported = answer<PhotoLibraryResult<ImportedPhoto>>(
            [&](auto done) { library->importPhoto({photo}, std::get<PhotoAlbum>(*first), done); });
        ASSERT_TRUE(imported && std::holds_alternative<ImportedPhoto>(*imported));
        EXPECT_TRUE(std::get<ImportedPhoto>(*imported).libraryOwnsCopies);
        EXPECT_EQ(std::get<ImportedPhoto>(*imported).files,
                  std::vector<QString>{std::get<PhotoAlbum>(*first).location + QStringLiteral("/IMG_0001.JPG")});
    }
}

TEST(PhotoLibraryContract, TheFakeRecordsAndFailsOnRequest)
{
    FakePhotoLibrary library;
    library.importError = Error(PhotoLibrary::errorDomain(), PhotoLibrary::ImportFailed);
    const auto failed = answer<PhotoLibraryResult<ImportedPhoto>>([&](auto done) { library.importPhoto({QStringLiteral("/a.jpg")}, std::nullopt, done); });
    ASSERT_TRUE(failed && std::holds_alternative<Error>(*failed));
    library.importError.reset();
    library.albumError = Error(PhotoLibrary::errorDomain(), PhotoLibrary::TimedOut);
    const auto noAlbum = answer<PhotoLibraryResult<PhotoAlbum>>([&](auto done) { library.findOrMakeAlbum(QStringLiteral("Trips"), done); });
    ASSERT_TRUE(noAlbum && std::holds_alternative<Error>(*noAlbum));
    EXPECT_EQ(std::get<Error>(*noAlbum).code, PhotoLibrary::TimedOut);

    std::lock_guard lock(library.mutex);
    EXPECT_EQ(library.importRequests.size(), 1u);
    EXPECT_TRUE(library.imports.empty());
    EXPECT_EQ(library.albumRequests, std::vector<QString>{QStringLiteral("Trips")});
    EXPECT_TRUE(library.albums.empty());
}
