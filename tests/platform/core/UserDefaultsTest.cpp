#include "platform/core/UserDefaults.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace vornakel;

namespace {

class UserDefaultsTest : public ::testing::Test {
protected:
    std::unique_ptr<UserDefaults> open() { return std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("prefs/UserDefaults.ini"))); }

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
    // The INI format gives a one-element list back as a plain string.
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

    // Stores in one process share QSettings' cache, so the other process is played by writing the file itself.
    QFile file(helper->filePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[General]\nWatchedSSIDs=A, B, C\nAutoLaunchWhenWatchedNetworksJoined=true\n");
    file.close();
    helper->reload();
    EXPECT_EQ(helper->stringArrayForKey(QStringLiteral("WatchedSSIDs")),
              (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
    EXPECT_EQ(*changed, QStringList{QStringLiteral("WatchedSSIDs")});
}
