#include "mainwindow/preview/ImagePreviewViewController.h"

#include "mainwindow/grid/BackgroundWork.h"
#include "mainwindow/grid/ImageGridItem.h"
#include "mainwindow/preview/ShootingData.h"
#include "model/ImageMetadataHelper.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/Strings.h"

#include <QBasicTimer>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTimerEvent>
#include <QVBoxLayout>

namespace vornakel {
namespace {

constexpr int kBarHeight = 44;
// Previews are decoded no larger than this on their longer side.
constexpr int kPreviewDecodeSide = 2560;

const QString kFadeName = QStringLiteral("fade");

bool ancestorHasEffect(const QWidget* widget)
{
    for (const QWidget* ancestor = widget->parentWidget(); ancestor; ancestor = ancestor->parentWidget())
        if (ancestor->graphicsEffect())
            return true;
    return false;
}

// Fades a widget from one opacity to another through an opacity effect, which goes again at the end: Qt cannot
// draw an effect while drawing another one's source ("QPainter::begin: A paint device can only be painted by
// one painter at a time", and the widget is left out), and the zoom fades the whole preview. So a fade of no
// duration, or one inside a fading ancestor, takes its end state at once, without an effect.
void fade(QWidget* widget, qreal from, qreal to, int milliseconds, std::function<void()> done = {})
{
    for (QPropertyAnimation* running : widget->findChildren<QPropertyAnimation*>(kFadeName, Qt::FindDirectChildrenOnly))
        running->stop();
    widget->setGraphicsEffect(nullptr);
    if (milliseconds <= 0 || ancestorHasEffect(widget)) {
        if (done)
            done();
        return;
    }
    auto* effect = new QGraphicsOpacityEffect(widget);
    effect->setOpacity(from);
    widget->setGraphicsEffect(effect);
    auto* animation = new QPropertyAnimation(effect, "opacity", widget);
    animation->setObjectName(kFadeName);
    animation->setDuration(milliseconds);
    animation->setEndValue(to);
    QObject::connect(animation, &QPropertyAnimation::finished, widget, [widget, done = std::move(done)] {
        widget->setGraphicsEffect(nullptr);
        if (done)
            done();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace

// The preview image, drawn at its aspect ratio in the middle of the area.
class PreviewImageView : public QWidget {
public:
    using QWidget::QWidget;
    void setImage(QImage image)
    {
        m_image = std::move(image);
        update();
    }
    const QImage& image() const { return m_image; }
    void setHidden(bool hidden)
    {
        m_hidden = hidden;
        update();
    }
    QRect fittedRect(const QSize& size) const
    {
        const QRect area = rect().adjusted(16, 16, -16, -16);
        if (size.isEmpty() || area.isEmpty())
            return area;
        const QSize fitted = size.scaled(area.size(), Qt::KeepAspectRatio);
        return QRect(area.x() + (area.width() - fitted.width()) / 2, area.y() + (area.height() - fitted.height()) / 2,
                     fitted.width(), fitted.height());
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (m_image.isNull() || m_hidden)
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(fittedRect(m_image.size()), m_image);
    }

private:
    QImage m_image;
    bool m_hidden = false;
};

// A turning busy indicator.
class PreviewSpinner : public QWidget {
public:
    explicit PreviewSpinner(QWidget* parent) : QWidget(parent) { setFixedSize(44, 44); }
    void start()
    {
        if (!m_timer.isActive())
            m_timer.start(80, this);
    }
    void stop() { m_timer.stop(); }
    bool isSpinning() const { return m_timer.isActive(); }

protected:
    void timerEvent(QTimerEvent* event) override
    {
        if (event->timerId() != m_timer.timerId())
            return;
        m_step = (m_step + 1) % 12;
        update();
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        ImageGridItem::paintSpinner(painter, QRectF(rect()).center(), 18, m_step, QColor(60, 60, 60));
    }

private:
    QBasicTimer m_timer;
    int m_step = 0;
};

ImagePreviewViewController::ImagePreviewViewController(PhotoPtr photo, QWidget* parent)
    : QWidget(parent), m_photo(std::move(photo))
{
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);

    m_bar = new QWidget(this);
    m_bar->setAutoFillBackground(true);
    QPalette barPalette = m_bar->palette();
    barPalette.setColor(QPalette::Window, QColor(236, 236, 236));
    m_bar->setPalette(barPalette);
    auto* barLayout = new QHBoxLayout(m_bar);
    barLayout->setContentsMargins(10, 6, 10, 6);
    m_backButton = new QPushButton(QStringLiteral("\u2039 ") + GeneralUI::text(QStringLiteral("PreviewBackButton")), m_bar);
    m_backButton->setFocusPolicy(Qt::NoFocus);
    connect(m_backButton, &QPushButton::clicked, this, &ImagePreviewViewController::goBack);
    m_titleLabel = new QLabel(m_bar);
    m_titleLabel->setTextFormat(Qt::PlainText);
    m_titleLabel->setAlignment(Qt::AlignCenter);
    QFont titleFont = m_titleLabel->font();
    titleFont.setBold(true);
    m_titleLabel->setFont(titleFont);
    m_titleLabel->setText(title());
    barLayout->addWidget(m_backButton);
    barLayout->addWidget(m_titleLabel, 1);
    // Balances the Back button so that the title sits in the middle.
    barLayout->addSpacing(m_backButton->sizeHint().width());

    m_imageView = new PreviewImageView(this);

    m_unavailableLabel = new QLabel(GeneralUI::text(QStringLiteral("PreviewUnavailable")), this);
    m_unavailableLabel->setTextFormat(Qt::PlainText);
    m_unavailableLabel->setAlignment(Qt::AlignCenter);
    QFont unavailableFont = m_unavailableLabel->font();
    unavailableFont.setPixelSize(17);
    m_unavailableLabel->setFont(unavailableFont);
    m_unavailableLabel->setStyleSheet(QStringLiteral("color: #777;"));
    m_unavailableLabel->hide();

    m_loadingContainer = new QWidget(this);
    m_loadingContainer->setFixedSize(88, 88);
    m_loadingContainer->setStyleSheet(QStringLiteral("background: rgba(235,235,235,220); border-radius: 20px;"));
    m_spinner = new PreviewSpinner(m_loadingContainer);
    m_spinner->move(22, 22);
    m_loadingContainer->hide();

    m_metadataLabel = new QLabel(this);
    m_metadataLabel->setTextFormat(Qt::PlainText);
    m_metadataLabel->setAlignment(Qt::AlignCenter);
    m_metadataLabel->setStyleSheet(
        QStringLiteral("background: rgba(40,40,40,200); color: white; border-radius: 6px; padding: 5px 14px;"));
    m_metadataLabel->hide();
    layoutOverlays();
}

ImagePreviewViewController::~ImagePreviewViewController()
{
    *m_wanted = false;
}

QString ImagePreviewViewController::title() const
{
    return GeneralUI::format(QStringLiteral("PreviewWithName"), {m_photo->primaryVariant()->displayName()});
}

void ImagePreviewViewController::layoutOverlays()
{
    m_bar->setGeometry(0, 0, width(), kBarHeight);
    m_imageView->setGeometry(0, kBarHeight, width(), std::max(0, height() - kBarHeight));
    const QRect area = m_imageView->geometry();
    m_unavailableLabel->setGeometry(area);
    m_loadingContainer->move(area.center() - QPoint(m_loadingContainer->width() / 2, m_loadingContainer->height() / 2));
    if (m_metadataLabel->isVisible() || !m_metadataLabel->text().isEmpty()) {
        m_metadataLabel->adjustSize();
        m_metadataLabel->move((width() - m_metadataLabel->width()) / 2, height() - m_metadataLabel->height() - 18);
    }
}

void ImagePreviewViewController::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutOverlays();
}

QRect ImagePreviewViewController::destinationImageRect(const QSize& imageSize) const
{
    return m_imageView->fittedRect(imageSize).translated(m_imageView->pos());
}

QImage ImagePreviewViewController::image() const { return m_imageView->image(); }
bool ImagePreviewViewController::isLoading() const { return m_spinner->isSpinning(); }
bool ImagePreviewViewController::showsUnavailable() const { return !m_unavailableLabel->isHidden(); }
std::optional<QString> ImagePreviewViewController::shootingData() const { return m_shootingData; }
void ImagePreviewViewController::setImageHidden(bool hidden) { m_imageView->setHidden(hidden); }

// ---- Loading ------------------------------------------------------------------------------------------------

void ImagePreviewViewController::loadPreview()
{
    if (m_loadStarted)
        return;
    m_loadStarted = true;
    decodeOffMainThread(false);
}

void ImagePreviewViewController::decodeOffMainThread(bool afterFetch)
{
    const PhotoPtr photo = m_photo;
    const DispatchQueue::Context guard(this);
    const std::shared_ptr<std::atomic<bool>> wanted = m_wanted;
    ImagePreviewViewController* self = this;
    DispatchQueue::global(DispatchQueue::QoS::UserInteractive)->async([photo, guard, wanted, self, afterFetch,
                                                                        token = BackgroundWork::Token()] {
        if (!*wanted)
            return;
        const Photo::Location location = photo->cachedPreviewImageLocation();
        // Read through the cache, which follows no link put in the file's place.
        const std::optional<QByteArray> data = photo->cachedPreviewData();
        const bool cached = data.has_value();
        QImage image;
        if (cached) {
            // Seen again: keeps the photo's cache folder from the purge of folders not seen for 30 days.
            photo->updateLastSeen(true);
            image = ImageMetadataHelper::decodeUpright(*data, QSize(kPreviewDecodeSide, kPreviewDecodeSide),
                                                       photo->previewOrientation());
        }
        const bool fetch = !cached && !afterFetch;
        DispatchQueue::main()->async(guard, [self, image, fetch, path = location.value_or(QString())] {
            if (fetch)
                self->fetchFromCamera();
            else if (image.isNull())
                self->showUnavailable();
            else
                self->showPreview(image, path);
        });
    });
}

void ImagePreviewViewController::fetchFromCamera()
{
    const PhotoVariantPtr variant = m_photo->bestVariantForRemotePreview();
    const std::shared_ptr<VKLFileSystemItem> item = variant ? variant->remoteItem() : nullptr;
    if (!item) {
        showUnavailable();
        return;
    }
    m_loadingContainer->show();
    m_loadingContainer->raise();
    m_spinner->start();
    const std::weak_ptr<Photo> weakPhoto = m_photo;
    const DispatchQueue::Context guard(this);
    const std::shared_ptr<std::atomic<bool>> wanted = m_wanted;
    ImagePreviewViewController* self = this;
    item->fetchPreview(
        // Asked on the camera's queue: reads the flag and nothing else.
        [wanted](const VKLFileSystemItem::ItemPtr&) { return wanted->load(); },
        // On the camera's delivery queue: store the data, then decode off the main thread.
        [weakPhoto, guard, self](const VKLFileSystemItem::ItemPtr&, std::optional<Error> error,
                                 std::optional<QByteArray> data) {
            const PhotoPtr photo = weakPhoto.lock();
            if (!photo)
                return;
            photo->storePreviewData(error, data, [guard, self](const PhotoPtr&) {
                DispatchQueue::main()->async(guard, [self] { self->decodeOffMainThread(true); });
            });
        });
}

void ImagePreviewViewController::showPreview(const QImage& image, const QString& path)
{
    m_loaded = true;
    m_imageView->setImage(image);
    hideLoading();
    emit previewShown();
    // The camera's own reading of the shot's files comes first: a cached preview may be re-encoded or a RAW
    // file's embedded preview, either without EXIF. The preview's EXIF is asked only when the camera said nothing.
    if (const std::optional<VKLShootingData> data = m_photo->shootingData()) {
        showShootingData(shootingDataLine(*data));
        return;
    }
    // Delivered on the main queue, where the controller is destroyed.
    const QPointer<ImagePreviewViewController> self(this);
    ImageMetadataHelper::loadMetadataFromImage(path, [self, token = BackgroundWork::Token()](
                                                         std::optional<QVariantMap> properties) {
        if (self)
            self->showShootingData(shootingDataLine(properties));
    });
}

void ImagePreviewViewController::showShootingData(std::optional<QString> line)
{
    m_shootingData = std::move(line);
    if (m_shootingData) {
        m_metadataLabel->setText(*m_shootingData);
        m_metadataLabel->show();
        m_metadataLabel->raise();
        layoutOverlays();
        fade(m_metadataLabel, 0.0, 1.0, m_fadeMilliseconds);
    }
    emit shootingDataShown();
}

void ImagePreviewViewController::showUnavailable()
{
    m_loaded = true;
    hideLoading();
    m_unavailableLabel->show();
    m_unavailableLabel->raise();
    emit previewShown();
}

void ImagePreviewViewController::hideLoading()
{
    m_spinner->stop();
    QPointer<QWidget> snapshot = m_incomingSnapshot;
    m_incomingSnapshot = nullptr;
    fade(m_loadingContainer, 1.0, 0.0, m_loadingContainer->isVisible() ? m_fadeMilliseconds : 0,
         [container = QPointer<QWidget>(m_loadingContainer)] {
             if (container)
                 container->hide();
         });
    if (snapshot)
        fade(snapshot, 1.0, 0.0, m_fadeMilliseconds, [snapshot] {
            if (snapshot)
                snapshot->deleteLater();
        });
}

bool ImagePreviewViewController::takeResponsibilityFor(QWidget* snapshot)
{
    if (m_loaded || !snapshot)
        return false;
    const QRect frame = snapshot->geometry();
    snapshot->setParent(this);
    snapshot->setGeometry(frame);
    snapshot->show();
    m_incomingSnapshot = snapshot;
    m_loadingContainer->show();
    m_loadingContainer->raise();
    m_spinner->start();
    fade(m_loadingContainer, 0.0, 1.0, m_fadeMilliseconds);
    return true;
}

void ImagePreviewViewController::presentationEnded() { setFocus(Qt::OtherFocusReason); }

void ImagePreviewViewController::finishFades()
{
    // Jumping to the end runs each fade's ending (hiding or deleting what faded out) and removes its effect.
    for (QPropertyAnimation* running : findChildren<QPropertyAnimation*>(kFadeName))
        running->setCurrentTime(running->duration());
}

// ---- Keys and dismissal -------------------------------------------------------------------------------------

bool ImagePreviewViewController::event(QEvent* event)
{
    // Space and Esc belong to the preview while it shows, even where the window has shortcuts on them.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space || key->key() == Qt::Key_Escape) {
            event->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void ImagePreviewViewController::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Escape || event->key() == Qt::Key_Back) {
        goBack();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ImagePreviewViewController::goBack()
{
    if (m_isBeingDismissed)
        return;
    m_isBeingDismissed = true;
    *m_wanted = false;
    emit dismissRequested();
}

} // namespace vornakel
