#pragma once

// What the network backends' discoveries share: a list of addresses that may be cameras (the user's, the Wi-Fi
// gateways, what a search of the network found), each probed in parallel with a short bound while searching and
// again every probe interval. An address is one camera: made by the backend when its probe first answers, reported
// while its probes answer or while it is connected or connecting (a connected camera is not probed), in the order
// its address was first met. Main thread.

#include "platform/camera/VKLCamera.h"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace vornakel {

class ProbingCameraDiscovery : public VKLCameraDiscovery {
    Q_OBJECT
public:
    ~ProbingCameraDiscovery() override;

    void beginSearching() override;
    void stopSearching() override;
    Cameras cameras() const override { return m_reported; }

    void setProbeInterval(std::chrono::milliseconds interval) { m_interval = interval; }
    void setProbeTimeout(std::chrono::milliseconds timeout) { m_probeTimeout = timeout; }

protected:
    struct Candidate {
        QString host;
        quint16 port = 0;
        QString path;        // where a search found the camera's description on the host; empty: none known
        bool listed = false; // the user listed the address
        std::shared_ptr<VKLCamera> camera;
        bool reachable = false;
        bool probing = false;
    };
    // What a probe found: the camera at the address (the candidate's own where it is still the same), or none.
    using ProbeAnswer = std::function<void(std::shared_ptr<VKLCamera>)>;

    ProbingCameraDiscovery(std::chrono::milliseconds probeTimeout, QObject* parent);

    bool isSearching() const { return m_searching; }
    std::chrono::milliseconds probeInterval() const { return m_interval; }
    std::chrono::milliseconds probeTimeout() const { return m_probeTimeout; }

    // The candidate at the address, added last when new (a known one keeps its place).
    Candidate& candidate(const QString& host, quint16 port);
    // Gathers the candidates, then probes each one that is neither connected nor being probed.
    void probeAll();

    // Adds this round's candidates (and starts the backend's searches of the network).
    virtual void gatherCandidates() = 0;
    // Probes one address within `probeTimeout()`; `answer` runs once, on the main thread, while this discovery
    // exists. The candidate stays where it is until the discovery goes.
    virtual void probe(const Candidate& candidate, ProbeAnswer answer) = 0;
    // A backend's own searches start and stop with the discovery's; none by default.
    virtual void searchingBegins() {}
    virtual void searchingStops() {}

private:
    void report();

    std::vector<std::unique_ptr<Candidate>> m_candidates;
    Cameras m_reported;
    bool m_searching = false;
    std::chrono::milliseconds m_interval{3000};
    std::chrono::milliseconds m_probeTimeout;
    QTimer* m_timer = nullptr;
};

} // namespace vornakel
