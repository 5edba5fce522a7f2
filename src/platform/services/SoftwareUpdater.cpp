#include "platform/services/SoftwareUpdater.h"

#include "platform/core/DispatchQueue.h"

namespace vornakel {

void SoftwareUpdater::setWillInstallUpdateHandler(QObject* context, std::function<void()> handler)
{
    m_context = context;
    m_willInstallUpdate = std::move(handler);
}

void SoftwareUpdater::checkForUpdates(CheckCompletion completion)
{
    if (!completion)
        return;
    DispatchQueue::main()->async([completion = std::move(completion)] { completion(CheckResult::UpToDate); });
}

} // namespace vornakel
