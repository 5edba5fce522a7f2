#include "DefaultsSamples.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include <functional>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace vornakel;

namespace {

class UserDefaultsTest : public ::testing::Test {
protected:
    std::unique_ptr<UserDefaults> open() { return std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("prefs/UserDefaults.plist"))); }
    QString path() const { return m_dir.filePath(QStringLiteral("prefs/UserDefaults.plist")); }

    // Collects the keys the store announces as changed.
    static std::shared_ptr<QStringList> recordChanges(UserDefaults& defaults)
    {
        auto keys = std::make_shared<QStringList>();
        QObject::connect(&defaults, &UserDefaults::changed, &defaults, [keys](const QString& key) { *keys << key; });
        return keys;
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(UserDefaultsTest, RegisteredValuesOnlyFillInForKeysNeverStored)
{
    auto defaults = open();
    defaults->setInteger(QStringLiteral("DragAndDropGroupingBehaviour"), 1);
    defaults->registerDefaults({{QStringLiteral("DragAndDropGroupingBehaviour"), 2},
                                {QStringLiteral("DisconnectFromCameraNetworks"), true}});
    EXPECT_EQ(defaults->integerForKey(QStringLiteral("DragAndDropGroupingBehaviour")), 1);
    EXPECT_TRUE(defaults->boolForKey(QStringLiteral("DisconnectFromCameraNetworks")));
    EXPECT_FALSE(defaults->hasStoredValue(QStringLiteral("DisconnectFromCameraNetworks")));

    defaults->removeObject(QStringLiteral("DragAndDropGroupingBehaviour"));
    EXPECT_EQ(defaults->integerForKey(QStringLiteral("DragAndDropGroupingBehaviour")), 2);
    defaults->setBool(QStringLiteral("DisconnectFromCameraNetworks"), false);
    EXPECT_FALSE(defaults->boolForKey(QStringLiteral("DisconnectFromCameraNetworks")));
    defaults->setValue(QStringLiteral("DisconnectFromCameraNetworks"), QVariant());
    EXPECT_TRUE(defaults->boolForKey(QStringLiteral("DisconnectFromCameraNetworks")));
    EXPECT_FALSE(defaults->contains(QStringLiteral("NeverMentioned")));
}

TEST_F(UserDefaultsTest, TypedValuesSurviveReopeningTheFile)
{
    const QByteArray archive("bplist00\x00\x01\xff", 11);
    {
        auto defaults = open();
        defaults->setBool(QStringLiteral("AutoLaunchWhenWatchedNetworksJoined"), false);
        defaults->setBool(QStringLiteral("DisconnectFromCameraNetworks"), true);
        defaults->setInteger(QStringLiteral("PhotosGroupingBehaviour"), 2);
        defaults->setValue(QStringLiteral("FolderDestination"), QStringLiteral("/home/me/Pictures/Camera"));
        defaults->setValue(QStringLiteral("WatchedSSIDs"), QStringList{QStringLiteral("DIRECT-1234"), QStringLiteral("E-M10")});
        defaults->setValue(QStringLiteral("OneSSID"), QStringList{QStringLiteral("DIRECT-only")});
        defaults->setValue(QStringLiteral("UserDefinedPresets"), archive);
    }
    auto reopened = open();
    EXPECT_FALSE(reopened->boolForKey(QStringLiteral("AutoLaunchWhenWatchedNetworksJoined")));
    EXPECT_TRUE(reopened->boolForKey(QStringLiteral("DisconnectFromCameraNetworks")));
    EXPECT_EQ(reopened->integerForKey(QStringLiteral("PhotosGroupingBehaviour")), 2);
    EXPECT_EQ(reopened->stringForKey(QStringLiteral("FolderDestination")), QStringLiteral("/home/me/Pictures/Camera"));
    EXPECT_EQ(reopened->stringArrayForKey(QStringLiteral("WatchedSSIDs")),
              (QStringList{QStringLiteral("DIRECT-1234"), QStringLiteral("E-M10")}));
    EXPECT_EQ(reopened->stringArrayForKey(QStringLiteral("OneSSID")), QStringList{QStringLiteral("DIRECT-only")});
    EXPECT_EQ(reopened->dataForKey(QStringLiteral("UserDefinedPresets")), archive);
    EXPECT_EQ(reopened->dataForKey(QStringLiteral("FolderDestination")), QByteArray());
    EXPECT_EQ(reopened->integerForKey(QStringLiteral("DisconnectFromCameraNetworks")), 1);
}

TEST_F(UserDefaultsTest, EveryChangeIsAnnouncedWithItsKey)
{
    auto defaults = open();
    const auto changed = recordChanges(*defaults);
    defaults->setValue(QStringLiteral("LastCopyDestinationIdentifier"), QStringLiteral("folder"));
    defaults->setInteger(QStringLiteral("PhotosGroupingBehaviour"), 1);
    defaults->removeObject(QStringLiteral("LastCopyDestinationIdentifier"));
    defaults->removeObject(QStringLiteral("NeverStored"));
    // Registering only announces keys whose effective value changes.
    defaults->registerDefaults({{QStringLiteral("PhotosGroupingBehaviour"), 0}, {QStringLiteral("LightroomGroupingBehaviour"), 0}});
    EXPECT_EQ(*changed, (QStringList{QStringLiteral("LastCopyDestinationIdentifier"),
                                             QStringLiteral("PhotosGroupingBehaviour"),
                                             QStringLiteral("LastCopyDestinationIdentifier"),
                                             QStringLiteral("LightroomGroupingBehaviour")}));
}

TEST_F(UserDefaultsTest, ReloadPicksUpAnotherProcesssWrites)
{
    auto helper = open();
    helper->setValue(QStringLiteral("WatchedSSIDs"), QStringList{QStringLiteral("A"), QStringLiteral("B")});
    helper->setBool(QStringLiteral("AutoLaunchWhenWatchedNetworksJoined"), true);
    helper->synchronize();
    const auto changed = recordChanges(*helper);

    // Another process writes the file; the store's own copy must not hide that.
    QVariantMap written{{QStringLiteral("WatchedSSIDs"), QVariantList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}},
                        {QStringLiteral("AutoLaunchWhenWatchedNetworksJoined"), true}};
    ASSERT_FALSE(PropertyList::writeBinaryFile(written, helper->filePath()));
    helper->reload();
    EXPECT_EQ(helper->stringArrayForKey(QStringLiteral("WatchedSSIDs")),
              (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
    EXPECT_EQ(*changed, QStringList{QStringLiteral("WatchedSSIDs")});
}

namespace {

// Runs the probe program on a settings file and returns what it printed.
QString runProbe(const QString& mode, const QString& file)
{
    QProcess probe;
    probe.start(QStringLiteral(VKL_DEFAULTS_PROBE), {mode, file});
    if (!probe.waitForFinished(60000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        return QStringLiteral("probe failed: ") + QString::fromUtf8(probe.readAllStandardError());
    return QString::fromUtf8(probe.readAllStandardOutput());
}

} // namespace

TEST_F(UserDefaultsTest, EveryValueTypeReadsBackWithItsTypeInAnotherProcess)
{
    const auto samples = test::defaultsSamples();

    // Written by another process, read here from a fresh store.
    ASSERT_EQ(runProbe(QStringLiteral("write"), path()), QString());
    {
        auto reopened = open();
        for (const auto& sample : samples)
            EXPECT_EQ(sample.mismatch(*reopened), QString()) << sample.key.toStdString();
    }

    // Written here, read by another process.
    const QString second = m_dir.filePath(QStringLiteral("second/UserDefaults.plist"));
    {
        UserDefaults defaults(second);
        for (const auto& sample : samples)
            sample.write(defaults);
    }
    QString expected;
    for (const auto& sample : samples)
        expected += sample.key + QStringLiteral(" ok\n");
    EXPECT_EQ(runProbe(QStringLiteral("check"), second), expected);
}

TEST_F(UserDefaultsTest, AnUnreadableFileIsSetAsideAndTheDefaultsApply)
{
    const struct {
        const char* what;
        QByteArray contents;
    } cases[] = {
        {"not a property list", QByteArray("[General]\nWatchedSSIDs=A\n")},
        {"truncated binary list", QByteArray("bplist00\xd1\x01\x02", 11)},
        {"empty file", QByteArray()},
        {"a list, not a dictionary", PropertyList::toBinary(QVariantList{1, 2}).value()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(m_dir.filePath(QStringLiteral("prefs"))).removeRecursively();
        QDir().mkpath(m_dir.filePath(QStringLiteral("prefs")));
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.contents);
        file.close();

        auto defaults = open();
        defaults->registerDefaults({{QStringLiteral("AutoLaunchWhenWatchedNetworksJoined"), true}});
        EXPECT_TRUE(defaults->boolForKey(QStringLiteral("AutoLaunchWhenWatchedNetworksJoined")));
        EXPECT_FALSE(defaults->hasStoredValue(QStringLiteral("WatchedSSIDs")));
        ASSERT_TRUE(defaults->setAsideFilePath().has_value());
        defaults->setValue(QStringLiteral("WatchedSSIDs"), QStringList{QStringLiteral("B")});
        defaults->synchronize();

        QFile aside(*defaults->setAsideFilePath());
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), c.contents);
        EXPECT_EQ(open()->stringArrayForKey(QStringLiteral("WatchedSSIDs")), QStringList{QStringLiteral("B")});
    }
}

TEST_F(UserDefaultsTest, AFifoInPlaceOfTheFileIsSetAsideWithoutBlocking)
{
    QDir().mkpath(m_dir.filePath(QStringLiteral("prefs")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
    auto defaults = open();
    ASSERT_TRUE(defaults->setAsideFilePath().has_value());
    EXPECT_TRUE(QFileInfo(*defaults->setAsideFilePath()).exists());
    defaults->setInteger(QStringLiteral("PhotosGroupingBehaviour"), 1);
    defaults->synchronize();
    EXPECT_EQ(open()->integerForKey(QStringLiteral("PhotosGroupingBehaviour")), 1);
}

namespace {

// Warnings written while it lives.
class WarningLog {
public:
    WarningLog() { s_lines = &m_lines; s_previous = qInstallMessageHandler(&WarningLog::record); }
    ~WarningLog()
    {
        qInstallMessageHandler(s_previous);
        s_lines = nullptr;
    }
    QString text() const { return m_lines.join(QLatin1Char('\n')); }

private:
    static void record(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (type == QtWarningMsg && s_lines)
            s_lines->append(message);
    }
    QStringList m_lines;
    static inline QStringList* s_lines = nullptr;
    static inline QtMessageHandler s_previous = nullptr;
};

// Takes the calling thread's power to read and search past file permissions away while it lives, so that a file
// without read permission is refused to this thread even when the tests run as root (capabilities are per thread).
class PermissionChecksEnforced {
public:
    PermissionChecksEnforced()
    {
        if (::geteuid() != 0) {
            m_enforced = true;
            return;
        }
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (::syscall(SYS_capget, &header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_enforced = ::syscall(SYS_capset, &header, reduced) == 0;
        m_restore = m_enforced;
    }
    ~PermissionChecksEnforced()
    {
        if (!m_restore)
            return;
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        ::syscall(SYS_capset, &header, m_saved);
    }
    bool enforced() const { return m_enforced; }

private:
    __user_cap_data_struct m_saved[2]{};
    bool m_enforced = false;
    bool m_restore = false;
};

} // namespace

// The warning says why the file was set aside, in the user's terms.
TEST_F(UserDefaultsTest, TheWarningAboutAnUnreadableFileSaysWhy)
{
    const struct {
        const char* what;
        std::function<void(const QString&)> make;
        const char* reason;
    } cases[] = {
        {"no read permission",
         [](const QString& file) {
             QFile created(file);
             ASSERT_TRUE(created.open(QIODevice::WriteOnly));
             created.write(PropertyList::toBinary(QVariantMap{{QStringLiteral("A"), 1}}).value());
             created.close();
             ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0), 0);
         },
         "cannot be read (permission denied)"},
        {"a folder in its place", [](const QString& file) { ASSERT_TRUE(QDir().mkpath(file)); },
         "not a regular file of a sensible size"},
        {"a FIFO in its place",
         [](const QString& file) { ASSERT_EQ(::mkfifo(QFile::encodeName(file).constData(), 0600), 0); },
         "not a regular file of a sensible size"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(m_dir.filePath(QStringLiteral("prefs"))).removeRecursively();
        QDir().mkpath(m_dir.filePath(QStringLiteral("prefs")));
        c.make(path());
        WarningLog warnings;
        std::unique_ptr<UserDefaults> defaults;
        {
            const PermissionChecksEnforced permissions;
            if (!permissions.enforced())
                GTEST_SKIP() << "running as root without the right to give up reading past file permissions";
            defaults = open();
        }
        EXPECT_TRUE(warnings.text().contains(QLatin1String(c.reason))) << qPrintable(warnings.text());
        EXPECT_TRUE(defaults->setAsideFilePath().has_value());
    }
}

// Mended: a link at the settings file made every save write over the file it pointed to.
TEST_F(UserDefaultsTest, SavingReplacesALinkAtTheFileInsteadOfWritingThroughIt)
{
    QTemporaryDir outside;
    const QString decoyPath = outside.filePath(QStringLiteral("decoy.plist"));
    const QByteArray decoy = PropertyList::toBinary(QVariantMap{{QStringLiteral("Decoy"), 1}}).value();
    QFile decoyFile(decoyPath);
    ASSERT_TRUE(decoyFile.open(QIODevice::WriteOnly));
    decoyFile.write(decoy);
    decoyFile.close();
    QDir().mkpath(m_dir.filePath(QStringLiteral("prefs")));
    ASSERT_TRUE(QFile::link(decoyPath, path()));

    auto defaults = open();
    defaults->setInteger(QStringLiteral("PhotosGroupingBehaviour"), 1);
    defaults->synchronize();

    ASSERT_TRUE(decoyFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(decoyFile.readAll(), decoy);
    EXPECT_EQ(QDir(outside.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("decoy.plist")});
    EXPECT_FALSE(QFileInfo(path()).isSymLink());
    EXPECT_EQ(open()->integerForKey(QStringLiteral("PhotosGroupingBehaviour")), 1);
}

TEST_F(UserDefaultsTest, WritingKeepsKeysAnotherStoreChanged)
{
    auto app = open();
    auto helper = open();
    app->setValue(QStringLiteral("WatchedSSIDs"), QStringList{QStringLiteral("A")});
    app->synchronize();
    helper->setBool(QStringLiteral("AutoLaunchWhenWatchedNetworksJoined"), false);
    helper->synchronize();

    auto reopened = open();
    EXPECT_EQ(reopened->stringArrayForKey(QStringLiteral("WatchedSSIDs")), QStringList{QStringLiteral("A")});
    EXPECT_TRUE(reopened->hasStoredValue(QStringLiteral("AutoLaunchWhenWatchedNetworksJoined")));
}

TEST_F(UserDefaultsTest, ChangesReachTheFileOnceTheEventLoopRuns)
{
    auto defaults = open();
    defaults->setInteger(QStringLiteral("PhotosGroupingBehaviour"), 2);
    EXPECT_TRUE(test::runUntil([&] { return UserDefaults(path()).integerForKey(QStringLiteral("PhotosGroupingBehaviour")) == 2; }));
}

TEST_F(UserDefaultsTest, OptionalIntegerReadsWholeNumbersAndNothingElse)
{
    struct Case {
        QVariant stored;
        std::optional<qint64> expected;
    };
    const std::vector<Case> cases = {
        {QVariant(), std::nullopt},
        {1, 1},
        {qint64(-3), -3},
        // A number written by hand as text.
        {QStringLiteral("2"), 2},
        {QStringLiteral(" 7 "), 7},
        {2.0, 2},
        {2.5, std::nullopt},
        {QStringLiteral("two"), std::nullopt},
        {QStringLiteral(""), std::nullopt},
        {true, std::nullopt},
        {QStringList{QStringLiteral("1"), QStringLiteral("2")}, std::nullopt},
    };
    auto defaults = open();
    for (const Case& c : cases) {
        defaults->setValue(QStringLiteral("Number"), c.stored);
        EXPECT_EQ(defaults->optionalIntegerForKey(QStringLiteral("Number")), c.expected) << c.stored.toString().toStdString();
    }
    defaults->registerDefaults({{QStringLiteral("Registered"), 2}});
    EXPECT_EQ(defaults->optionalIntegerForKey(QStringLiteral("Registered")), 2);
}
