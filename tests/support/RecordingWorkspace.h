#pragma once

#include "platform/services/Workspace.h"

#include <QUrl>

#include <optional>
#include <vector>

namespace vornakel::test {

// Records what would be opened or revealed instead of doing it; finds, launches and quits no application.
class RecordingWorkspace : public Workspace {
public:
    bool openUrl(const QUrl& url) override
    {
        opened.push_back(url);
        return true;
    }
    bool revealFile(const QString& path) override
    {
        revealed.push_back(path);
        return true;
    }
    std::optional<QString> locateApplication(const QString&) const override { return std::nullopt; }
    std::optional<Error> launchApplication(const QString&, const QStringList&) override { return std::nullopt; }
    std::vector<qint64> runningProcesses(const QString&) const override { return {}; }
    bool quitApplication(const QString&) override { return false; }

    std::vector<QUrl> opened;
    std::vector<QString> revealed;
};

} // namespace vornakel::test
