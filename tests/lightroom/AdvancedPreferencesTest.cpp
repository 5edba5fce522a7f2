#include "LightroomTestSupport.h"

#include "lightroom/ui/AdvancedPreferencesViewController.h"
#include "platform/core/Strings.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using test::runUntil;

QString text(const char* key)
{
    return GeneralUI::text(QString::fromLatin1(key));
}

class AdvancedPreferencesTest : public ::testing::Test {
protected:
    AdvancedPreferencesTest() : pane(*fixture.bridge) { pane.show(); }

    QMessageBox* sheet(const char* name) const { return pane.findChild<QMessageBox*>(QString::fromLatin1(name)); }
    void answer(const char* name, const QString& buttonText)
    {
        QMessageBox* box = sheet(name);
        ASSERT_TRUE(box);
        for (QAbstractButton* button : box->buttons())
            if (button->text() == buttonText)
                button->click();
        ASSERT_TRUE(runUntil([&] { return !sheet(name); }));
    }
    void saveScreenshot(const QString& name, QWidget* widget = nullptr)
    {
        widget = widget ? widget : &pane;
        // Let pending layout requests run, as the event loop would before the next paint.
        QCoreApplication::sendPostedEvents();
        const QDir folder(QStringLiteral(VKL_SCREENSHOT_DIR));
        ASSERT_TRUE(folder.mkpath(QStringLiteral(".")));
        ASSERT_TRUE(widget->grab().save(folder.filePath(name + QStringLiteral(".png"))));
    }

    test::BridgeFixture fixture;
    AdvancedPreferencesViewController pane;
};

TEST_F(AdvancedPreferencesTest, ShowsWhetherThePluginIsInstalledAndOffersTheMatchingButtons)
{
    EXPECT_EQ(pane.statusLabel()->text(), text("PluginNotInstalledPreferencesLabelTitle"));
    EXPECT_EQ(pane.statusLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(pane.installButton()->text(), text("InstallPluginPreferencesButtonTitle"));
    EXPECT_FALSE(pane.removeButton()->isEnabled());
    EXPECT_FALSE(pane.progressLabel()->isVisible());
    saveScreenshot(QStringLiteral("advanced-preferences-not-installed"));

    pane.installButton()->click();
    ASSERT_TRUE(runUntil([&] { return fixture.bridge->pluginIsInstalled() && !pane.isBusy(); }));
    EXPECT_EQ(pane.statusLabel()->text(), text("PluginInstalledPreferencesLabelTitle"));
    EXPECT_EQ(pane.installButton()->text(), text("ReInstallPluginPreferencesButtonTitle"));
    EXPECT_TRUE(pane.removeButton()->isEnabled());
    saveScreenshot(QStringLiteral("advanced-preferences-installed"));

    pane.removeButton()->click();
    ASSERT_TRUE(runUntil([&] { return !fixture.bridge->pluginIsInstalled() && !pane.isBusy(); }));
    EXPECT_EQ(pane.installButton()->text(), text("InstallPluginPreferencesButtonTitle"));
    EXPECT_FALSE(sheet("pluginOperationFailedAlert"));
}

TEST_F(AdvancedPreferencesTest, RunningEditorIsQuitOnlyOnceTheUserAgreesAndButtonsRestMeanwhile)
{
    const QString editor = LrPluginBridge::defaultApplicationIdentifier();
    fixture.applications.running[editor] = {9};
    fixture.applications.lingerAfterTermination = true;

    pane.installButton()->click();
    ASSERT_TRUE(sheet("quitLightroomQuestion"));
    EXPECT_FALSE(pane.installButton()->isEnabled());
    answer("quitLightroomQuestion", text("QuitLightroomForPluginCancelButtonTitle"));
    EXPECT_TRUE(fixture.applications.terminated.empty());
    EXPECT_FALSE(fixture.bridge->pluginIsInstalled());
    EXPECT_TRUE(pane.installButton()->isEnabled());

    pane.installButton()->click();
    answer("quitLightroomQuestion", text("QuitLightroomForPluginButtonTitle"));
    EXPECT_EQ(fixture.applications.terminated, std::vector<qint64>{9});
    EXPECT_TRUE(pane.isBusy());
    EXPECT_FALSE(pane.installButton()->isEnabled());
    EXPECT_TRUE(pane.progressLabel()->isVisible());
    saveScreenshot(QStringLiteral("advanced-preferences-waiting"));
    pane.installButton()->click(); // a disabled button ignores it; nothing may start twice
    pane.installPlugin();
    EXPECT_EQ(fixture.applications.terminated.size(), 1u);
    EXPECT_FALSE(fixture.bridge->pluginIsInstalled()) << "nothing changes while the editor still runs";

    fixture.applications.remove(9);
    ASSERT_TRUE(runUntil([&] { return fixture.bridge->pluginIsInstalled() && !pane.isBusy(); }));
    EXPECT_TRUE(pane.installButton()->isEnabled());
    EXPECT_FALSE(pane.progressLabel()->isVisible());
}

TEST_F(AdvancedPreferencesTest, FailedInstallSaysSo)
{
    pane.setPluginSource(fixture.home.filePath(QStringLiteral("no-plugin-here")));
    pane.installButton()->click();
    ASSERT_TRUE(runUntil([&] { return sheet("pluginOperationFailedAlert") != nullptr; }));
    QMessageBox* alert = sheet("pluginOperationFailedAlert");
    EXPECT_EQ(alert->text(), text("PluginOperationFailedInstallFailedTitle"));
    EXPECT_NE(alert->text(), text("PluginOperationFailedRemoveFailedTitle"));
    EXPECT_EQ(alert->informativeText(), text("PluginOperationFailedInformativeText"));
    EXPECT_EQ(alert->icon(), QMessageBox::Warning);
    EXPECT_TRUE(pane.installButton()->isEnabled());
    saveScreenshot(QStringLiteral("advanced-preferences-install-failed"), alert);
}

} // namespace
} // namespace vornakel
