#include "discovery/QRFrameReader.h"

#include "platform/core/DispatchQueue.h"
#include "platform/webcam/VideoFrameSource.h"

#include <QThreadPool>

#include <mutex>

namespace vornakel {

// The scanner and the one waiting frame, shared with the pool thread that scans.
struct QRFrameReader::Worker {
    std::mutex mutex;
    std::optional<GreyFrame> pending;
    bool scanning = false;
    int scanned = 0;
    int dropped = 0;
    QRSymbolScanner scanner; // used by one scan at a time
};

QRFrameReader::QRFrameReader(VideoFrameSource* source, QRCodeReader::Clock clock, const CameraQRDecoding& decoding,
                             ScanRunner runScan)
    : m_source(source), m_decoding(decoding),
      m_clock(clock ? std::move(clock) : QRCodeReader::Clock([] { return std::chrono::steady_clock::now(); })),
      m_runScan(runScan ? std::move(runScan)
                        : ScanRunner([](std::function<void()> work) { QThreadPool::globalInstance()->start(std::move(work)); })),
      m_worker(std::make_shared<Worker>())
{
    connect(source, &VideoFrameSource::frameArrived, this, [this](const QImage& image, const GreyFrame& grey) {
        emit frameArrived(image);
        if (!grey.isValid())
            return;
        const auto now = m_clock();
        if (m_lastScan && now - *m_lastScan < QRCodeReader::kMinimumFrameInterval)
            return;
        m_lastScan = now;
        offer(grey);
    });
}

QRFrameReader::~QRFrameReader() = default;

int QRFrameReader::scannedFrameCount() const
{
    std::lock_guard lock(m_worker->mutex);
    return m_worker->scanned;
}

int QRFrameReader::droppedFrameCount() const
{
    std::lock_guard lock(m_worker->mutex);
    return m_worker->dropped;
}

void QRFrameReader::offer(const GreyFrame& frame)
{
    {
        std::lock_guard lock(m_worker->mutex);
        if (m_worker->pending)
            ++m_worker->dropped;
        m_worker->pending = frame;
        if (m_worker->scanning)
            return;
        m_worker->scanning = true;
    }
    // The guard is taken here, on the thread the reader lives and dies on.
    const DispatchQueue::Context guard(this);
    QRFrameReader* const reader = this;
    const CameraQRDecoding* decoding = &m_decoding;
    m_runScan([worker = m_worker, guard, reader, decoding] {
        for (;;) {
            GreyFrame frame;
            {
                std::lock_guard lock(worker->mutex);
                if (!worker->pending) {
                    worker->scanning = false;
                    return;
                }
                frame = std::move(*worker->pending);
                worker->pending.reset();
                ++worker->scanned;
            }
            std::vector<QByteArray> symbols = worker->scanner.scan(frame, QRCodeReader::cameraCode(*decoding));
            if (symbols.empty())
                continue;
            DispatchQueue::main()->async(guard, [reader, decoding, symbols = std::move(symbols)] {
                if (const auto details = QRCodeReader::detailsFromSymbols(symbols, *decoding))
                    emit reader->wifiDetailsScanned(*details);
            });
        }
    });
}

} // namespace vornakel
