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

        const auto first = answer<Result<PhotoAlbum>>([&](auto done) { library->findOrMakeAlbum(QStringLiteral("../Trips"), done); });
        const auto again = answer<Result<PhotoAlbum>>([&](auto done) { library->findOrMakeAlbum(QStringLiteral("-Trips"), done); });
        ASSERT_TRUE(first && again && first->hasValue());
        EXPECT_EQ(first->value().name, QStringLiteral("-Trips"));
        ASSERT_TRUE(again->hasValue());
        EXPECT_EQ(again->value(), first->value());
        const auto unnamed = answer<Result<PhotoAlbum>>([&](auto done) { library->findOrMakeAlbum(QStringLiteral(".."), done); });
        ASSERT_TRUE(unnamed && !unnamed->hasValue());
        EXPECT_EQ(unnamed->error().code, PhotoLibrary::InvalidName);

        const auto imported = answer<Result<ImportedPhoto>>(
            [&](auto done) { library->importPhoto({photo}, first->value(), done); });
        ASSERT_TRUE(imported && imported->hasValue());
        EXPECT_TRUE(imported->value().libraryOwnsCopies);
        EXPECT_EQ(imported->value().files,
                  std::vector<QString>{first->value().location + QStringLiteral("/IMG_0001.JPG")});
    }
}

TEST(PhotoLibraryContract, TheFakeRecordsAndFailsOnRequest)
{
    FakePhotoLibrary library;
    library.importError = Error(PhotoLibrary::errorDomain(), PhotoLibrary::ImportFailed);
    const auto failed = answer<Result<ImportedPhoto>>([&](auto done) { library.importPhoto({QStringLiteral("/a.jpg")}, std::nullopt, done); });
    ASSERT_TRUE(failed && !failed->hasValue());
    library.importError.reset();
    library.albumError = Error(PhotoLibrary::errorDomain(), PhotoLibrary::TimedOut);
    const auto noAlbum = answer<Result<PhotoAlbum>>([&](auto done) { library.findOrMakeAlbum(QStringLiteral("Trips"), done); });
    ASSERT_TRUE(noAlbum && !noAlbum->hasValue());
    EXPECT_EQ(noAlbum->error().code, PhotoLibrary::TimedOut);

    std::lock_guard lock(library.mutex);
    EXPECT_EQ(library.importRequests.size(), 1u);
    EXPECT_TRUE(library.imports.empty());
    EXPECT_EQ(library.albumRequests, std::vector<QString>{QStringLiteral("Trips")});
    EXPECT_TRUE(library.albums.empty());
}
