#pragma once

#include "model/Photo.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;

namespace vornakel {

class PreviewImageView;
class PreviewSpinner;

// The large preview of one photo, laid over the grid: a bar with Back and the photo's name, the image, a
// loading panel while it comes, and a line of shooting data once the file's data are read.
//
// The preview comes from the photo's cache folder, or else from the camera (the file that gives the best
// preview), and is decoded scaled and upright on a worker thread; camera data arrive on the camera's delivery
// queue and only the "still wanted" flag is read there. A preview that cannot be had shows "PreviewUnavailable".
// Space, Esc and Back ask for dismissal exactly once.
class ImagePreviewViewController : public QWidget {
    Q_OBJECT
public:
    ImagePreviewViewController(PhotoPtr photo, QWidget* parent = nullptr);
    ~ImagePreviewViewController() override;

    const PhotoPtr& photo() const { return m_photo; }
    QString title() const;
    // Starts getting the preview (done once; presenting calls it).
    void loadPreview();

    // The rectangle (in this widget) an image of that size takes when shown: the zoom ends there.
    QRect destinationImageRect(const QSize& imageSize) const;
    // Offered the zoom's snapshot when the zoom ends: kept (under the loading panel, until the preview fades
    // in over it) when the preview is not there yet, else refused.
    bool takeResponsibilityFor(QWidget* snapshot);
    // The presentation ended: keyboard focus goes to the preview.
    void presentationEnded();
    // Ends the fades inside the preview at their end state, before the preview itself is faded.
    void finishFades();

    // Asks for dismissal, once; later calls do nothing.
    void goBack();
    bool isBeingDismissed() const { return m_isBeingDismissed; }

    // State, for the zoom back and for tests.
    QImage image() const;
    bool isLoading() const;
    bool showsUnavailable() const;
    std::optional<QString> shootingData() const;
    bool hasSnapshot() const { return !m_incomingSnapshot.isNull(); }
    void setImageHidden(bool hidden);
    void setFadeDuration(int milliseconds) { m_fadeMilliseconds = milliseconds; }

signals:
    void dismissRequested();
    void previewShown();
    void shootingDataShown();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void decodeOffMainThread(bool afterFetch);
    void fetchFromCamera();
    void showPreview(const QImage& image, const QString& path);
    void showShootingData(std::optional<QString> line);
    void showUnavailable();
    void hideLoading();
    void layoutOverlays();

    PhotoPtr m_photo;
    std::shared_ptr<std::atomic<bool>> m_wanted = std::make_shared<std::atomic<bool>>(true);
    bool m_loadStarted = false;
    bool m_loaded = false;
    bool m_isBeingDismissed = false;
    int m_fadeMilliseconds = 330;

    QWidget* m_bar = nullptr;
    QPushButton* m_backButton = nullptr;
    QLabel* m_titleLabel = nullptr;
    PreviewImageView* m_imageView = nullptr;
    QWidget* m_loadingContainer = nullptr;
    PreviewSpinner* m_spinner = nullptr;
    QLabel* m_metadataLabel = nullptr;
    QLabel* m_unavailableLabel = nullptr;
    QPointer<QWidget> m_incomingSnapshot;
    std::optional<QString> m_shootingData;
};

} // namespace vornakel
