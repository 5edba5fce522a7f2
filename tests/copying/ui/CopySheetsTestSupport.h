#pragma once

#include "../CopyTestSupport.h"
#include "copying/ui/CopyConfigurationViewController.h"
#include "copying/ui/CopyProgressViewController.h"
#include "copying/ui/FilenameConflictViewController.h"
#include "support/RecordingSleepInhibitor.h"
#include "support/RecordingWorkspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>

namespace vornakel::test {

// Saves a PNG of the widget under the build folder's screenshots; under a real window manager (X11) the whole
// screen is taken, so that its frames and the sheets on top show.
inline bool saveScreenshot(QWidget* widget, const QString& name)
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QDir folder(QStringLiteral(VKL_SCREENSHOT_DIR));
    folder.mkpath(QStringLiteral("."));
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    if (QGuiApplication::platformName() == QStringLiteral("xcb") && QGuiApplication::primaryScreen())
        return QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    return widget->grab().save(path);
}

// A destination that records what the sheets tell it and copies into a folder under each file's own name;
// whether it allows a copy, and whether it accepts the session, are set by the test.
class RecordingDestination : public CopyDestination {
public:
    RecordingDestination(QString identifier, QString folder) : m_identifier(std::move(identifier)), m_folder(std::move(folder)) {}

    QString name() const override { return m_identifier; }
    QString iconName() const override { return QStringLiteral("image-x-generic"); }
    QString identifier() const override { return m_identifier; }
    QString helpBookAnchor() const override { return QStringLiteral("Help_") + m_identifier; }
    PhotoCopyQueueOptions copyQueueOptions() override { return {shared_from_this(), FileGroupBehaviour::copyAll}; }
    void copyDestinationInstanceWillNotBeUsed() override { ++willNotBeUsed; }
    void copySessionShouldStart(const Variants&, std::function<void(bool)> handler) override
    {
        if (holdsStart)
            heldStart = std::move(handler);
        else
            handler(acceptsSession);
    }
    void copySessionStartCancelled() override { ++startCancelled; }
    void copySessionWillStart(const Variants&) override {}
    std::optional<QString> destinationFor(const PhotoVariant& variant) override
    {
        return QDir(m_folder).filePath(variant.fileName());
    }
    void performPostCopyOperation(const std::shared_ptr<PhotoVariantCopyOperation>&, const Operations&,
                                  std::function<void(bool)> handler) override
    {
        handler(true);
    }
    void copySessionDidEnd() override {}
    QString refusalMessage() const override { return reason; }
    QString sessionSummary() const override { return summary; }

    void setAllowed(bool allowed) { setCurrentConfigurationAllowsCopyToStart(allowed); }

    int willNotBeUsed = 0;
    bool acceptsSession = true;
    // Keeps the start's handler instead of answering, as a destination still getting ready does.
    bool holdsStart = false;
    std::function<void(bool)> heldStart;
    int startCancelled = 0;
    QString reason;
    QString summary;

private:
    QString m_identifier;
    QString m_folder;
};

inline CopyDestinationOffer offerOf(const std::shared_ptr<RecordingDestination>& destination)
{
    return {destination, [](const CopyDestinationPtr& d) {
                auto pane = std::make_unique<QWidget>();
                pane->setObjectName(d->identifier() + QStringLiteral("Pane"));
                return pane;
            }};
}

// A main window to hang the sheets on, a sleep inhibitor and a workspace that record, and a camera card.
class SheetFixture : public CopyFixture {
public:
    SheetFixture()
    {
        window.resize(900, 600);
        window.show();
        environment.defaults = &defaults();
        environment.sleepInhibitor = sleep;
        environment.beep = [this] { ++beeps; };
    }
    ~SheetFixture()
    {
        // Sheets still open go with the window.
        for (QDialog* dialog : window.findChildren<QDialog*>())
            delete dialog;
    }

    std::shared_ptr<RecordingDestination> destination(const QString& identifier, bool allowed = true)
    {
        auto made = std::make_shared<RecordingDestination>(identifier, outPath());
        made->setAllowed(allowed);
        return made;
    }

    QMainWindow window;
    std::shared_ptr<RecordingSleepInhibitor> sleep = std::make_shared<RecordingSleepInhibitor>();
    RecordingWorkspace workspace;
    CopySheetEnvironment environment{workspace};
    std::shared_ptr<VKLCamera> camera = std::make_shared<InProcessCamera>(QStringLiteral("VK-1"));
    int beeps = 0;
};

} // namespace vornakel::test
