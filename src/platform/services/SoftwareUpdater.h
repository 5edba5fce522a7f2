#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

namespace vornakel {

// The application's software updater. Linux builds receive updates through the distribution's package manager,
// so this updater never downloads anything: every check reports that the installed version is current.
class SoftwareUpdater {
public:
    enum class CheckResult { UpToDate };
    using CheckCompletion = std::function<void(CheckResult)>;

    // The handler runs just before an update is installed, as long as `context` is alive.
    void setWillInstallUpdateHandler(QObject* context, std::function<void()> handler);
    bool hasWillInstallUpdateHandler() const { return !m_context.isNull() && bool(m_willInstallUpdate); }

    // Reports on the main queue, never inside the caller's stack.
    void checkForUpdates(CheckCompletion completion);

private:
    QPointer<QObject> m_context;
    std::function<void()> m_willInstallUpdate;
};

} // namespace vornakel
