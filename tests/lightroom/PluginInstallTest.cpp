#include "LightroomTestSupport.h"

#include "lightroom/PluginInstaller.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

QString readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool writeFile(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

class PluginInstallTest : public ::testing::Test {
protected:
    // A plug-in folder of the given version, optionally with a file that cannot be copied (a dangling link).
    QString makeSource(const QString& name, const QByteArray& version, bool broken = false)
    {
        const QString folder = fixture.home.filePath(name);
        writeFile(folder + QStringLiteral("/Info.lua"), "version = '" + version + "'\n");
        writeFile(folder + QStringLiteral("/lib/Server.lua"), "-- " + version + "\n");
        if (broken)
            QFile::link(fixture.home.filePath(QStringLiteral("nowhere")), folder + QStringLiteral("/lib/zz-missing.lua"));
        return folder;
    }
    QStringList modulesEntries() const
    {
        return QDir(fixture.home.filePath(QStringLiteral("Modules")))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    test::BridgeFixture fixture;
    LrPluginBridge& bridge = *fixture.bridge;
};

TEST_F(PluginInstallTest, InstallsReplacesAndRemovesAnnouncingEachChange)
{
    std::vector<bool> announced;
    QObject::connect(&bridge, &LrPluginBridge::pluginIsInstalledChanged, [&](bool installed) { announced.push_back(installed); });
    const QString location = *bridge.pluginInstallLocation();
    EXPECT_TRUE(location.endsWith(QStringLiteral("/Modules/Vornakel Transfer.lrplugin")));
    EXPECT_FALSE(bridge.pluginIsInstalled());

    ASSERT_FALSE(bridge.installOrUpdatePlugin(makeSource(QStringLiteral("v1"), "1")));
    EXPECT_TRUE(bridge.pluginIsInstalled());
    writeFile(location + QStringLiteral("/lib/Stale.lua"), "-- left by the old version\n");

    ASSERT_FALSE(bridge.installOrUpdatePlugin(makeSource(QStringLiteral("v2"), "2")));
    EXPECT_EQ(readFile(location + QStringLiteral("/Info.lua")), QStringLiteral("version = '2'\n"));
    EXPECT_FALSE(QFile::exists(location + QStringLiteral("/lib/Stale.lua"))) << "replaced, never merged";

    ASSERT_FALSE(bridge.uninstallPlugin());
    EXPECT_FALSE(bridge.pluginIsInstalled());
    ASSERT_FALSE(bridge.uninstallPlugin()) << "nothing installed is no error";

    EXPECT_EQ(announced, (std::vector<bool>{true, true, false, false}));
    EXPECT_TRUE(modulesEntries().isEmpty()) << modulesEntries().join(QStringLiteral(", ")).toStdString();
}

TEST_F(PluginInstallTest, FailedInstallLeavesTheOldPluginWorking)
{
    const QString location = *bridge.pluginInstallLocation();
    ASSERT_FALSE(bridge.installOrUpdatePlugin(makeSource(QStringLiteral("v1"), "1")));
    std::vector<bool> announced;
    QObject::connect(&bridge, &LrPluginBridge::pluginIsInstalledChanged, [&](bool installed) { announced.push_back(installed); });

    const std::optional<Error> brokenCopy =
        bridge.installOrUpdatePlugin(makeSource(QStringLiteral("v2"), "2", /*broken=*/true));
    ASSERT_TRUE(brokenCopy);
    EXPECT_EQ(brokenCopy->code, PluginInstaller::CannotCopy);
    const std::optional<Error> missing = bridge.installOrUpdatePlugin(fixture.home.filePath(QStringLiteral("absent")));
    ASSERT_TRUE(missing);

    EXPECT_EQ(readFile(location + QStringLiteral("/Info.lua")), QStringLiteral("version = '1'\n"));
    EXPECT_EQ(readFile(location + QStringLiteral("/lib/Server.lua")), QStringLiteral("-- 1\n"));
    EXPECT_EQ(modulesEntries(), QStringList{QStringLiteral("Vornakel Transfer.lrplugin")}) << "no half copy left behind";
    EXPECT_EQ(announced, (std::vector<bool>{true, true})) << "observers re-read after a failure too";
}

TEST_F(PluginInstallTest, NoInstallFolderIsAnError)
{
    LrPluginBridge::Options options = fixture.options();
    options.modulesFolder.clear();
    LrPluginBridge homeless(fixture.workspace, fixture.applications, options);
    EXPECT_FALSE(homeless.pluginInstallLocation());
    EXPECT_TRUE(homeless.installOrUpdatePlugin(LrPluginBridge::bundledPluginLocation()));
    EXPECT_FALSE(homeless.uninstallPlugin());
    EXPECT_FALSE(homeless.pluginIsInstalled());
}

TEST_F(PluginInstallTest, TheEditorRecognisesTheBundledPlugin)
{
    tools::ReferenceEditorPeer::Options peerOptions;
    peerOptions.modulesFolder = fixture.home.filePath(QStringLiteral("Modules"));
    tools::ReferenceEditorPeer peer(peerOptions);
    EXPECT_FALSE(peer.pluginIsInstalled());

    ASSERT_FALSE(bridge.installOrUpdatePlugin(LrPluginBridge::bundledPluginLocation()));
    EXPECT_TRUE(peer.pluginIsInstalled());
    EXPECT_TRUE(QFileInfo(*bridge.pluginInstallLocation() + QStringLiteral("/Info.lua")).isWritable());

    const auto [commandPort, responsePort] = test::freePorts();
    const QUrl start(LrPluginBridge::startUrlText(commandPort, responsePort));
    EXPECT_TRUE(peer.handleUrl(start));
    EXPECT_TRUE(peer.isServing());

    ASSERT_FALSE(bridge.uninstallPlugin());
    peer.stopServing();
    EXPECT_FALSE(peer.handleUrl(start)) << "an editor without the plug-in does not serve";
    EXPECT_FALSE(peer.isServing());
}

} // namespace
} // namespace vornakel
