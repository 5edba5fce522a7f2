#include "platform/camera/network/ProbingCameraDiscovery.h"

#include <QTimer>

#include <algorithm>

namespace vornakel {

ProbingCameraDiscovery::ProbingCameraDiscovery(std::chrono::milliseconds probeTimeout, QObject* parent)
    : VKLCameraDiscovery(parent), m_probeTimeout(probeTimeout)
{
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &ProbingCameraDiscovery::probeAll);
}

ProbingCameraDiscovery::~ProbingCameraDiscovery() = default;

void ProbingCameraDiscovery::beginSearching()
{
    m_searching = true;
    searchingBegins();
    probeAll();
    m_timer->start(m_interval);
}

void ProbingCameraDiscovery::stopSearching()
{
    m_searching = false;
    m_timer->stop();
    searchingStops();
}

ProbingCameraDiscovery::Candidate& ProbingCameraDiscovery::candidate(const QString& host, quint16 port)
{
    const auto found = std::find_if(m_candidates.begin(), m_candidates.end(), [&](const auto& each) {
        return each->host == host && each->port == port;
    });
    if (found != m_candidates.end())
        return **found;
    auto added = std::make_unique<Candidate>();
    added->host = host;
    added->port = port;
    m_candidates.push_back(std::move(added));
    return *m_candidates.back();
}

void ProbingCameraDiscovery::probeAll()
{
    if (!m_searching)
        return;
    gatherCandidates();
    // Every candidate at once: an address that is no camera costs one short bound, not one per camera.
    for (const auto& each : m_candidates) {
        Candidate* candidate = each.get();
        if (candidate->probing || (candidate->camera && candidate->camera->connectionState() != 0))
            continue; // connected or connecting: certainly there
        candidate->probing = true;
        probe(*candidate, [this, candidate](std::shared_ptr<VKLCamera> found) {
            candidate->probing = false;
            const bool reachable = found != nullptr;
            if (found)
                candidate->camera = std::move(found);
            if (candidate->reachable != reachable) {
                candidate->reachable = reachable;
                report();
            }
        });
    }
}

void ProbingCameraDiscovery::report()
{
    if (!m_searching)
        return;
    Cameras cameras;
    for (const auto& candidate : m_candidates) {
        if (candidate->camera && (candidate->reachable || candidate->camera->connectionState() != 0))
            cameras.push_back(candidate->camera);
    }
    if (cameras == m_reported)
        return;
    m_reported = cameras;
    emit devicesChanged(cameras);
}

} // namespace vornakel
