#include "copying/ui/FilenameConflictViewController.h"
#include "copying/ui/SheetText.h"

#include "model/ImageMetadataHelper.h"
#include "model/Photo.h"
#include "platform/core/DispatchQueue.h"
#include "platform/core/Strings.h"
#include "platform/services/Workspace.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <utility>

namespace vornakel {

namespace {
constexpr int kThumbnailSide = 160;

// A file name has no blanks to wrap at, so a long one would be cut to what fits. Break opportunities (zero-width
// spaces) after its separators, and within long runs, let the caption wrap it whole; short names stay as they are.
QString breakableFileName(const QString& name)
{
    constexpr int kShortName = 24;
    constexpr int kLongestRun = 16;
    if (name.size() <= kShortName)
        return name;
    QString shown;
    int run = 0;
    for (QChar c : name) {
        shown += c;
        ++run;
        if (c == u'_' || c == u'-' || c == u'.' || c == u' ' || (run >= kLongestRun && !c.isHighSurrogate())) {
            shown += QChar(0x200B);
            run = 0;
        }
    }
    return shown;
}


} // namespace

FilenameConflictViewController::FilenameConflictViewController(PhotoVariantPtr variant, QString conflictingLocalPath,
                                                               Deferred<Resolution> resolution, Deferred<bool> remember,
                                                               Workspace& workspace, QWidget* parent)
    : QDialog(parent), m_variant(std::move(variant)), m_localPath(std::move(conflictingLocalPath)),
      m_resolution(std::move(resolution)), m_rememberAnswer(std::move(remember)), m_workspace(workspace),
      m_titleLabel(plainLabel(this, "titleLabel")), m_subTitleLabel(plainLabel(this, "subTitleLabel")),
      m_cameraThumbnail(plainLabel(this, "onCameraThumbnailView")), m_cameraSpinner(new QProgressBar(this)),
      m_cameraName(plainLabel(this, "onCameraImageName")), m_localThumbnail(plainLabel(this, "onMacThumbnailView")),
      m_localSpinner(new QProgressBar(this)), m_localName(plainLabel(this, "onMacImageName")),
      m_remember(new QCheckBox(ui("CopyConflictRememberChoiceTitle"), this)),
      m_skipButton(new QPushButton(ui("CopyConflictSkipButtonTitle"), this)),
      m_overwriteButton(new QPushButton(ui("CopyConflictOverwriteButtonTitle"), this)),
      m_uniqueNameButton(new QPushButton(ui("CopyConflictKeepBothButtonTitle"), this)),
      m_revealButton(new QPushButton(ui("CopyConflictRevealButtonTitle"), this))
{
    setObjectName(QStringLiteral("FilenameConflict"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(ui("CopyConflictWindowTitle"));
    m_remember->setObjectName(QStringLiteral("rememberChoiceCheckbox"));

    const QString cameraFileName = m_variant ? m_variant->fileName() : QString();
    // The file that exists is the one in question; with a sorting preset its name differs from the camera's.
    const QString localFileName = QFileInfo(m_localPath).fileName();
    m_titleLabel->setText(GeneralUI::format(QStringLiteral("CopyConflictTitle"), {localFileName}));
    QFont titleFont = m_titleLabel->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.15);
    m_titleLabel->setFont(titleFont);
    m_titleLabel->setWordWrap(true);
    m_subTitleLabel->setText(ui("CopyConflictDescription"));
    m_subTitleLabel->setWordWrap(true);
    for (auto [label, name] : {std::pair{m_cameraName, cameraFileName}, std::pair{m_localName, localFileName}}) {
        label->setText(breakableFileName(name));
        label->setToolTip(name);
        label->setAccessibleName(name);
    }

    auto* sides = new QGridLayout;
    sides->setHorizontalSpacing(24);
    const struct {
        const char* heading;
        QLabel* thumbnail;
        QProgressBar* spinner;
        QLabel* name;
    } columns[] = {{"CopyConflictOnCameraTitle", m_cameraThumbnail, m_cameraSpinner, m_cameraName},
                   {"CopyConflictOnComputerTitle", m_localThumbnail, m_localSpinner, m_localName}};
    int column = 0;
    for (const auto& side : columns) {
        auto* heading = new QLabel(ui(side.heading), this);
        heading->setAlignment(Qt::AlignHCenter);
        QFont headingFont = heading->font();
        headingFont.setBold(true);
        heading->setFont(headingFont);
        side.thumbnail->setFixedSize(kThumbnailSide, kThumbnailSide);
        side.thumbnail->setAlignment(Qt::AlignCenter);
        side.thumbnail->hide();
        // An indeterminate bar spins while the thumbnail loads.
        side.spinner->setRange(0, 0);
        side.spinner->setTextVisible(false);
        side.spinner->setFixedWidth(kThumbnailSide / 2);
        side.name->setAlignment(Qt::AlignHCenter);
        // A fixed width, so that the height the layout gives the caption is the height its wrapped lines need.
        side.name->setFixedWidth(kThumbnailSide + 60);
        side.name->setWordWrap(true);
        auto* box = new QWidget(this);
        box->setFixedSize(kThumbnailSide, kThumbnailSide);
        auto* boxLayout = new QVBoxLayout(box);
        boxLayout->setContentsMargins(0, 0, 0, 0);
        boxLayout->addWidget(side.spinner, 0, Qt::AlignCenter);
        side.thumbnail->setParent(box);
        boxLayout->addWidget(side.thumbnail, 0, Qt::AlignCenter);
        sides->addWidget(heading, 0, column, Qt::AlignHCenter);
        sides->addWidget(box, 1, column, Qt::AlignHCenter);
        sides->addWidget(side.name, 2, column, Qt::AlignHCenter);
        ++column;
    }

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_revealButton);
    buttons->addStretch(1);
    buttons->addWidget(m_skipButton);
    buttons->addWidget(m_overwriteButton);
    buttons->addWidget(m_uniqueNameButton);
    m_uniqueNameButton->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);
    layout->addWidget(m_titleLabel);
    layout->addWidget(m_subTitleLabel);
    layout->addLayout(sides);
    layout->addWidget(m_remember);
    layout->addLayout(buttons);
    setMinimumWidth(520);

    connect(m_skipButton, &QPushButton::clicked, this, &FilenameConflictViewController::skip);
    connect(m_overwriteButton, &QPushButton::clicked, this, &FilenameConflictViewController::overwriteExisting);
    connect(m_uniqueNameButton, &QPushButton::clicked, this, &FilenameConflictViewController::useUniqueName);
    connect(m_revealButton, &QPushButton::clicked, this, &FilenameConflictViewController::revealLocalUrlInFinder);
    loadThumbnails();
}

FilenameConflictViewController::~FilenameConflictViewController()
{
    // A sheet that goes without an answer must not leave the copy waiting.
    m_rememberAnswer.fill(false);
    m_resolution.fill(Resolution::skip);
}

void FilenameConflictViewController::revealLocalUrlInFinder()
{
    if (m_localPath.isEmpty())
        return;
    m_workspace.revealFile(m_localPath);
}

void FilenameConflictViewController::resolve(Resolution resolution)
{
    answer(resolution, m_remember->isChecked());
}

void FilenameConflictViewController::answer(Resolution resolution, bool remember)
{
    // The copy waits for both; the remembering comes first so it holds when the choice arrives.
    m_rememberAnswer.fill(remember);
    m_resolution.fill(resolution);
    if (m_closing)
        return;
    m_closing = true;
    done(resolution == Resolution::skip ? QDialog::Rejected : QDialog::Accepted);
}

void FilenameConflictViewController::reject()
{
    if (m_closing) {
        QDialog::reject();
        return;
    }
    resolve(Resolution::skip);
}

void FilenameConflictViewController::closeEvent(QCloseEvent* event)
{
    if (!m_closing)
        resolve(Resolution::skip);
    QDialog::closeEvent(event);
}

QImage FilenameConflictViewController::placeholder() const
{
    return style()->standardIcon(QStyle::SP_FileIcon).pixmap(64, 64).toImage();
}

void FilenameConflictViewController::showThumbnail(QLabel* view, QProgressBar* spinner, const QImage& image)
{
    spinner->hide();
    const QImage shown = image.isNull() ? placeholder() : image;
    view->setPixmap(QPixmap::fromImage(
        shown.scaled(QSize(kThumbnailSide, kThumbnailSide).boundedTo(shown.size().expandedTo(QSize(1, 1))),
                     Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    view->show();
    if (view == m_cameraThumbnail)
        m_cameraThumbnailLoaded = true;
    else
        m_localThumbnailLoaded = true;
    if (m_cameraThumbnailLoaded && m_localThumbnailLoaded)
        emit thumbnailsShown();
}

void FilenameConflictViewController::loadThumbnails()
{
    QPointer<FilenameConflictViewController> self(this);
    if (PhotoPtr photo = m_variant ? m_variant->photo() : nullptr) {
        // The camera answers on its delivery queue; the thumbnail is decoded there and shown on the main thread.
        photo->loadThumbnail([](const std::shared_ptr<Photo>&) { return true; },
                             [guard = DispatchQueue::Context(this), self](const std::shared_ptr<Photo>& loaded) {
                                 QImage image;
                                 if (loaded && loaded->thumbnailIsAvailable())
                                     if (auto reference = loaded->thumbnail())
                                         image = reference->image();
                                 DispatchQueue::main()->async(guard, [self, image] {
                                     if (!self->m_cameraThumbnailLoaded)
                                         self->showThumbnail(self->m_cameraThumbnail, self->m_cameraSpinner, image);
                                 });
                             });
    } else {
        showThumbnail(m_cameraThumbnail, m_cameraSpinner, QImage());
    }
    ImageMetadataHelper::loadThumbnailFromImage(m_localPath, [self](std::optional<QImage> image) {
        if (self)
            self->showThumbnail(self->m_localThumbnail, self->m_localSpinner, image.value_or(QImage()));
    });
}

} // namespace vornakel
