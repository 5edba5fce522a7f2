#include "platform/core/PropertyList.h"
#include "platform/photolibrary/FolderPhotoLibrary.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vornakel;
using vornakel::test::runUntil;

namespace {

// Runs a request and the event loop until it answers; checks that it answered on the main thread and not
// inside the call.
template <typename T, typename Request>
std::optional<T> answerOf(Request request, std::chrono::milliseconds timeout = std::chrono::milliseconds(10000))
{
    std::optional<T> answer;
    bool onMainThread = false;
    request([&](const T& value) {
        onMainThread = DispatchQueue::isMainThread();
        answer = value;
    });
    EXPECT_FALSE(answer.has_value()) << "answered inside the call";
    if (!runUntil([&] { return answer.has_value(); }, timeout))
        return std::nullopt;
    EXPECT_TRUE(onMainThread);
    return answer;
}

template <typename T>
std::optional<int> errorCode(const Result<T>& result)
{
    if (!result)
        return result.error().code;
    return std::nullopt;
}

bool writeFile(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

class FolderPhotoLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        root = m_dir.filePath(QStringLiteral("Pictures"));
        session = m_dir.filePath(QStringLiteral("session"));
        ASSERT_TRUE(QDir().mkpath(root));
        ASSERT_TRUE(QDir().mkpath(session));
        library = std::make_shared<FolderPhotoLibrary>(root);
    }

    PhotoAlbum album(const QString& name)
    {
        auto answer = answerOf<Result<PhotoAlbum>>([&](auto done) { library->findOrMakeAlbum(name, done); });
        EXPECT_TRUE(answer && answer->hasValue());
        return answer && answer->hasValue() ? answer->value() : PhotoAlbum{};
    }

    Result<ImportedPhoto> import(const std::vector<QString>& files, const std::optional<PhotoAlbum>& into)
    {
        auto answer = answerOf<Result<ImportedPhoto>>([&](auto done) { library->importPhoto(files, into, done); });
        if (!answer)
            return Error(QStringLiteral("test"), -1, QStringLiteral("no answer"));
        return *answer;
    }

    QString sessionFile(const QString& name, const QByteArray& contents)
    {
        const QString path = session + u'/' + name;
        EXPECT_TRUE(writeFile(path, contents));
        return path;
    }

    QString tempPath(const QString& relative) const { return m_dir.filePath(relative); }

    QString root;
    QString session;
    std::shared_ptr<FolderPhotoLibrary> library;

private:
    QTemporaryDir m_dir;
};

} // namespace

TEST(PhotoLibraryNames, SanitizingKeepsNamesInsideOneFolder)
{
    const QString longAccents(300, QChar(0x00E9));
    QString longEmoji;
    for (int i = 0; i < 100; ++i)
        longEmoji += QString::fromUtf8("\xF0\x9F\x98\x80");
    const struct {
        QString input;
        std::optional<QString> expected;
    } cases[] = {
        {QStringLiteral("Imported from Vornakel"), QStringLiteral("Imported from Vornakel")},
        {QStringLiteral("2024/05/01"), QStringLiteral("2024-05-01")},
        {QStringLiteral("../../etc"), QStringLiteral("-..-etc")},
        {QStringLiteral(".."), std::nullopt},
        {QStringLiteral("."), std::nullopt},
        {QStringLiteral(" . /x"), QStringLiteral("-x")},
        {QStringLiteral(".hidden.jpg"), QStringLiteral("hidden.jpg")},
        {QString::fromUtf8("a\0b\nc", 5), QStringLiteral("abc")},
        {QStringLiteral("  Trip  "), QStringLiteral("Trip")},
        {QStringLiteral("Summer..."), QStringLiteral("Summer...")},
        {QString(), std::nullopt},
        {QString(QChar(0)), std::nullopt},
        {longAccents, QString(127, QChar(0x00E9))},
        {longEmoji, longEmoji.left(63 * 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input.toStdString());
        const auto result = PhotoLibrary::sanitizedName(c.input);
        EXPECT_EQ(result, c.expected);
        if (result) {
            EXPECT_LE(result->toUtf8().size(), 255);
            EXPECT_EQ(QString::fromUtf8(result->toUtf8()), *result) << "cut inside a character";
        }
    }
}

TEST_F(FolderPhotoLibraryTest, FindsOrMakesAnAlbumOnceAndKeepsItInsideTheLibrary)
{
    EXPECT_TRUE(library->exists());
    const PhotoAlbum first = album(QStringLiteral("Imported from Vornakel"));
    EXPECT_EQ(first.name, QStringLiteral("Imported from Vornakel"));
    EXPECT_TRUE(QFileInfo(first.location).isDir());
    EXPECT_EQ(QFileInfo(first.location).absolutePath(), root);
    EXPECT_TRUE(writeFile(first.location + QStringLiteral("/kept.jpg"), "old"));
    EXPECT_EQ(album(QStringLiteral("Imported from Vornakel")), first);
    EXPECT_EQ(readFile(first.location + QStringLiteral("/kept.jpg")), "old");

    const PhotoAlbum escaping = album(QStringLiteral("../escaped"));
    EXPECT_EQ(QFileInfo(escaping.location).absolutePath(), root);
    EXPECT_FALSE(QFileInfo::exists(tempPath(QStringLiteral("escaped"))));

    auto listed = answerOf<Result<std::vector<PhotoAlbum>>>([&](auto done) { library->fetchAlbums(done); });
    ASSERT_TRUE(listed && listed->hasValue());
    EXPECT_EQ(listed->value(), (std::vector<PhotoAlbum>{escaping, first}));
}

TEST_F(FolderPhotoLibraryTest, AlbumErrors)
{
    ASSERT_TRUE(writeFile(root + QStringLiteral("/Blocked"), "a file"));
    const struct {
        QString root;
        QString album;
        int code;
    } cases[] = {
        {root, QStringLiteral(".."), PhotoLibrary::InvalidName},
        {root, QStringLiteral("  "), PhotoLibrary::InvalidName},
        {root, QStringLiteral("Blocked"), PhotoLibrary::NotAFolder},
        {tempPath(QStringLiteral("missing")), QStringLiteral("Album"), PhotoLibrary::LibraryMissing},
        {root + QStringLiteral("/Blocked"), QStringLiteral("Album"), PhotoLibrary::LibraryMissing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.root + u' ' + c.album).toStdString());
        library->setRoot(c.root);
        const auto answer = answerOf<Result<PhotoAlbum>>([&](auto done) { library->findOrMakeAlbum(c.album, done); });
        ASSERT_TRUE(answer);
        EXPECT_EQ(errorCode(*answer), c.code);
        EXPECT_EQ(library->exists(), c.root == root);
    }
    EXPECT_EQ(readFile(root + QStringLiteral("/Blocked")), "a file");
}

TEST_F(FolderPhotoLibraryTest, ImportMovesEveryVariantOfAPhotoIntoTheAlbum)
{
    const PhotoAlbum into = album(QStringLiteral("Imports"));
    const QString raw = sessionFile(QStringLiteral("IMG_0001.CR2"), "raw");
    const QString jpeg = sessionFile(QStringLiteral("IMG_0001.JPG"), "jpeg");
    const QDateTime taken(QDate(2023, 7, 14), QTime(9, 30), QTimeZone::utc());
    {
        QFile file(raw);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.setFileTime(taken, QFileDevice::FileModificationTime));
    }

    const auto result = import({raw, jpeg}, into);
    ASSERT_TRUE(result.hasValue()) << result.error().description().toStdString();
    const ImportedPhoto& imported = result.value();
    EXPECT_TRUE(imported.libraryOwnsCopies);
    EXPECT_EQ(imported.files, (std::vector<QString>{into.location + QStringLiteral("/IMG_0001.CR2"),
                                                    into.location + QStringLiteral("/IMG_0001.JPG")}));
    EXPECT_EQ(readFile(imported.files[0]), "raw");
    EXPECT_EQ(QFileInfo(imported.files[0]).lastModified(), taken);
    EXPECT_TRUE(filesIn(session).isEmpty());

    // Without an album the photo goes to the top of the library.
    const auto loose = import({sessionFile(QStringLiteral("IMG_0002.JPG"), "2")}, std::nullopt);
    ASSERT_TRUE(loose.hasValue());
    EXPECT_EQ(loose.value().files, std::vector<QString>{root + QStringLiteral("/IMG_0002.JPG")});

    // A photo whose files were all skipped is an import of nothing, not an error.
    EXPECT_TRUE(import({}, into).hasValue());
}

TEST_F(FolderPhotoLibraryTest, ClashingNamesGetOneFreeNumberForAllVariantsAndNothingIsOverwritten)
{
    const PhotoAlbum into = album(QStringLiteral("Imports"));
    ASSERT_TRUE(writeFile(into.location + QStringLiteral("/IMG_0001.JPG"), "first jpeg"));
    ASSERT_TRUE(writeFile(into.location + QStringLiteral("/IMG_0001 2.CR2"), "second raw"));
    ASSERT_TRUE(writeFile(into.location + QStringLiteral("/Notes"), "notes"));

    const QString raw = sessionFile(QStringLiteral("IMG_0001.CR2"), "new raw");
    const QString jpeg = sessionFile(QStringLiteral("IMG_0001.JPG"), "new jpeg");
    const auto photo = import({raw, jpeg}, into);
    ASSERT_TRUE(photo.hasValue());
    EXPECT_EQ(photo.value().files, (std::vector<QString>{into.location + QStringLiteral("/IMG_0001 3.CR2"),
                                                                          into.location + QStringLiteral("/IMG_0001 3.JPG")}));

    // Two files of one import with the same name (from different folders) and a name without an extension.
    const QString other = tempPath(QStringLiteral("other/IMG_0001.JPG"));
    ASSERT_TRUE(writeFile(other, "other jpeg"));
    const auto twins = import({sessionFile(QStringLiteral("IMG_0001.JPG"), "twin jpeg"), other, sessionFile(QStringLiteral("Notes"), "n")}, into);
    ASSERT_TRUE(twins.hasValue());
    EXPECT_EQ(twins.value().files, (std::vector<QString>{into.location + QStringLiteral("/IMG_0001 2.JPG"),
                                                                          into.location + QStringLiteral("/IMG_0001 4.JPG"),
                                                                          into.location + QStringLiteral("/Notes 2")}));

    EXPECT_EQ(readFile(into.location + QStringLiteral("/IMG_0001.JPG")), "first jpeg");
    EXPECT_EQ(readFile(into.location + QStringLiteral("/IMG_0001 2.CR2")), "second raw");
    EXPECT_EQ(readFile(into.location + QStringLiteral("/Notes")), "notes");
    EXPECT_EQ(readFile(into.location + QStringLiteral("/IMG_0001 2.JPG")), "twin jpeg");
    EXPECT_EQ(readFile(into.location + QStringLiteral("/IMG_0001 4.JPG")), "other jpeg");
}

TEST_F(FolderPhotoLibraryTest, AFileAlreadyInTheAlbumStaysWhereItIs)
{
    const PhotoAlbum into = album(QStringLiteral("Imports"));
    const QString inside = into.location + QStringLiteral("/IMG_0007.JPG");
    ASSERT_TRUE(writeFile(inside, "here"));
    const auto result = import({inside}, into);
    ASSERT_TRUE(result.hasValue());
    EXPECT_EQ(result.value().files, std::vector<QString>{inside});
    EXPECT_EQ(filesIn(into.location), QStringList{QStringLiteral("IMG_0007.JPG")});
}

TEST_F(FolderPhotoLibraryTest, AFailedImportLeavesEveryFileWhereItWas)
{
    const PhotoAlbum into = album(QStringLiteral("Imports"));
    // The second file's numbered name would be longer than a file name may be, so it fails after the first
    // file has already moved.
    const QString longName = QString(250, u'L') + QStringLiteral(".JPG");
    ASSERT_TRUE(writeFile(into.location + QStringLiteral("/IMG_0001.CR2"), "old raw"));
    ASSERT_TRUE(writeFile(into.location + u'/' + longName, "old long"));
    const QString raw = sessionFile(QStringLiteral("IMG_0001.CR2"), "raw");
    const QString jpeg = sessionFile(longName, "jpeg");
    const QString missing = session + QStringLiteral("/IMG_0002.JPG");

    const struct {
        const char* what;
        std::vector<QString> files;
        std::optional<PhotoAlbum> album;
        int code;
    } cases[] = {
        {"fails midway", {raw, jpeg}, into, PhotoLibrary::ImportFailed},
        {"a variant is missing", {raw, missing}, into, PhotoLibrary::SourceMissing},
        {"the album is gone", {raw}, PhotoAlbum{QStringLiteral("Gone"), root + QStringLiteral("/Gone")}, PhotoLibrary::NotAFolder},
        {"the album name is unusable", {raw}, PhotoAlbum{QStringLiteral(".."), root}, PhotoLibrary::InvalidName},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(errorCode(import(c.files, c.album)), c.code);
        EXPECT_EQ(readFile(raw), "raw");
        EXPECT_EQ(readFile(jpeg), "jpeg");
        EXPECT_EQ(filesIn(into.location), (QStringList{QStringLiteral("IMG_0001.CR2"), longName}));
        EXPECT_EQ(readFile(into.location + QStringLiteral("/IMG_0001.CR2")), "old raw");
    }
}

TEST_F(FolderPhotoLibraryTest, ImportAcrossFileSystemsCopiesThenRemovesTheOriginals)
{
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/vkl-photolibrary-XXXXXX"));
    struct stat rootStat {}, otherStat {};
    if (!elsewhere.isValid() || ::stat(QFile::encodeName(root).constData(), &rootStat) != 0
        || ::stat(QFile::encodeName(elsewhere.path()).constData(), &otherStat) != 0 || rootStat.st_dev == otherStat.st_dev)
        GTEST_SKIP() << "no second file system to import from";

    const PhotoAlbum into = album(QStringLiteral("Imports"));
    ASSERT_TRUE(writeFile(into.location + QStringLiteral("/IMG_0001.JPG"), "old"));
    const QString source = elsewhere.filePath(QStringLiteral("IMG_0001.JPG"));
    ASSERT_TRUE(writeFile(source, QByteArray(3 << 20, 'n')));
    const QDateTime taken(QDate(2023, 7, 14), QTime(9, 30), QTimeZone::utc());
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.setFileTime(taken, QFileDevice::FileModificationTime));
    }
    const auto result = import({source}, into);
    ASSERT_TRUE(result.hasValue());
    EXPECT_EQ(result.value().files, std::vector<QString>{into.location + QStringLiteral("/IMG_0001 2.JPG")});
    EXPECT_EQ(readFile(into.location + QStringLiteral("/IMG_0001 2.JPG")), QByteArray(3 << 20, 'n'));
    EXPECT_EQ(QFileInfo(into.location + QStringLiteral("/IMG_0001 2.JPG")).lastModified(), taken);
    EXPECT_EQ(readFile(into.location + QStringLiteral("/IMG_0001.JPG")), "old");
    EXPECT_FALSE(QFileInfo::exists(source));
    EXPECT_EQ(filesIn(into.location), (QStringList{QStringLiteral("IMG_0001 2.JPG"), QStringLiteral("IMG_0001.JPG")}))
        << "a temporary file was left behind";
}

TEST_F(FolderPhotoLibraryTest, ReferencedImportRecordsTheFilesWhereTheyAre)
{
    ASSERT_EQ(library->setReferencedImportSetting(true), std::nullopt);
    const PhotoAlbum into = album(QStringLiteral("Imports"));
    const QString raw = sessionFile(QStringLiteral("IMG_0001.CR2"), "raw");
    const QString jpeg = sessionFile(QStringLiteral("IMG_0001.JPG"), "jpeg");
    const QString loose = sessionFile(QStringLiteral("IMG_0002.JPG"), "loose");

    const auto first = import({raw, jpeg}, into);
    ASSERT_TRUE(first.hasValue());
    EXPECT_FALSE(first.value().libraryOwnsCopies);
    EXPECT_EQ(first.value().files, (std::vector<QString>{raw, jpeg}));
    ASSERT_TRUE(import({loose}, std::nullopt).hasValue());
    EXPECT_EQ(filesIn(session).size(), 3);
    EXPECT_TRUE(filesIn(into.location).isEmpty());

    auto references = PropertyList::readFile(library->referencesPath());
    ASSERT_TRUE(references.hasValue());
    const QVariantList entries = references->toList();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].toMap().value(QStringLiteral("Files")), (QVariantList{raw, jpeg}));
    EXPECT_EQ(entries[0].toMap().value(QStringLiteral("Album")), QStringLiteral("Imports"));
    EXPECT_EQ(entries[1].toMap().value(QStringLiteral("Files")), QVariantList{loose});
    EXPECT_FALSE(entries[1].toMap().contains(QStringLiteral("Album")));

    // A damaged list of references is not replaced by one that forgets the earlier imports.
    ASSERT_TRUE(writeFile(library->referencesPath(), "damaged"));
    EXPECT_EQ(errorCode(import({loose}, into)), PhotoLibrary::ImportFailed);
    EXPECT_EQ(readFile(library->referencesPath()), "damaged");
}

TEST_F(FolderPhotoLibraryTest, ReadingTheSettingTellsFalseFromUnknown)
{
    const auto plist = [](const QVariant& value) { return PropertyList::toBinary(value).value(); };
    const QString key = FolderPhotoLibrary::referencedImportKey();
    const struct {
        const char* what;
        std::optional<QByteArray> file;
        std::variant<bool, int> expected;
    } cases[] = {
        {"no settings file", std::nullopt, PhotoLibrary::SettingMissing},
        {"on", plist(QVariantMap{{key, true}}), true},
        {"off", plist(QVariantMap{{key, false}}), false},
        {"XML form", QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>") + key.toUtf8() + "</key><false/></dict></plist>", false},
        {"no such key", plist(QVariantMap{{QStringLiteral("Other"), true}}), PhotoLibrary::SettingMissing},
        {"a number, not a Boolean", plist(QVariantMap{{key, qint64(0)}}), PhotoLibrary::SettingUnreadable},
        {"not a dictionary", plist(QVariantList{false}), PhotoLibrary::SettingUnreadable},
        {"damaged", QByteArray("bplist00\x01\x02"), PhotoLibrary::SettingUnreadable},
        {"empty", QByteArray(), PhotoLibrary::SettingUnreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(library->settingsPath());
        if (c.file) {
            ASSERT_TRUE(writeFile(library->settingsPath(), *c.file));
        }
        const ReferencedImportSetting setting = library->referencedImportSetting();
        if (const bool* expected = std::get_if<bool>(&c.expected)) {
            ASSERT_TRUE(setting.hasValue());
            EXPECT_EQ(setting.value(), *expected);
            EXPECT_EQ(confirmsOwnCopies(setting), !*expected);
        } else {
            EXPECT_EQ(errorCode(setting), std::get<int>(c.expected));
            EXPECT_FALSE(confirmsOwnCopies(setting));
        }
        const auto asynchronous = answerOf<ReferencedImportSetting>([&](auto done) { library->readReferencedImportSetting(done); });
        ASSERT_TRUE(asynchronous);
        EXPECT_EQ(asynchronous->hasValue(), setting.hasValue());
    }
}

TEST_F(FolderPhotoLibraryTest, WritingTheSettingKeepsTheRestOfTheFile)
{
    const QString key = FolderPhotoLibrary::referencedImportKey();
    ASSERT_TRUE(writeFile(library->settingsPath(), PropertyList::toBinary(QVariantMap{{QStringLiteral("Other"), 7}}).value()));
    ASSERT_EQ(library->setReferencedImportSetting(false), std::nullopt);
    auto contents = PropertyList::readFile(library->settingsPath());
    ASSERT_TRUE(contents.hasValue());
    EXPECT_EQ(contents->toMap(), (QVariantMap{{QStringLiteral("Other"), qint64(7)}, {key, false}}));
    EXPECT_TRUE(confirmsOwnCopies(library->referencedImportSetting()));

    ASSERT_TRUE(writeFile(library->settingsPath(), "damaged"));
    const auto refused = library->setReferencedImportSetting(true);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code, PhotoLibrary::SettingWriteFailed);
    EXPECT_EQ(readFile(library->settingsPath()), "damaged");
    EXPECT_EQ(filesIn(QFileInfo(library->settingsPath()).absolutePath()), QStringList{QStringLiteral("Preferences.plist")});

    library->setRoot(tempPath(QStringLiteral("missing")));
    const auto noLibrary = library->setReferencedImportSetting(true);
    ASSERT_TRUE(noLibrary);
    EXPECT_EQ(noLibrary->code, PhotoLibrary::LibraryMissing);
}

TEST_F(FolderPhotoLibraryTest, AnImportStuckBehindAHungRequestTimesOutAndIsNotCarriedOut)
{
    const PhotoAlbum into = album(QStringLiteral("Imports"));
    const QString raw = sessionFile(QStringLiteral("IMG_0001.CR2"), "raw");
    // Reading a settings file that is a pipe with no writer hangs, as a stalled network share would.
    QDir().mkpath(QFileInfo(library->settingsPath()).absolutePath());
    const QByteArray fifo = QFile::encodeName(library->settingsPath());
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);

    std::optional<ReferencedImportSetting> setting;
    std::optional<Result<ImportedPhoto>> imported;
    library->setTimeout(std::chrono::milliseconds(60000));
    library->readReferencedImportSetting([&](const ReferencedImportSetting& value) { setting = value; });
    library->setTimeout(std::chrono::milliseconds(200));
    library->importPhoto({raw}, into, [&](const Result<ImportedPhoto>& value) { imported = value; });
    ASSERT_TRUE(runUntil([&] { return imported.has_value(); }));
    EXPECT_EQ(errorCode(*imported), PhotoLibrary::TimedOut);
    EXPECT_FALSE(setting);

    // Let the hung read finish, with the pipe gone so that a late import would find no setting and move files.
    int writer = -1;
    ASSERT_TRUE(runUntil([&] { return (writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK)) >= 0; }));
    ASSERT_EQ(::unlink(fifo.constData()), 0);
    ::close(writer);
    ASSERT_TRUE(runUntil([&] { return setting.has_value(); }));
    EXPECT_EQ(errorCode(*setting), PhotoLibrary::SettingUnreadable);
    library->setTimeout(std::chrono::milliseconds(10000));
    const auto after = answerOf<Result<std::vector<PhotoAlbum>>>([&](auto done) { library->fetchAlbums(done); });
    ASSERT_TRUE(after);
    EXPECT_EQ(readFile(raw), "raw");
    EXPECT_TRUE(filesIn(into.location).isEmpty());
}
