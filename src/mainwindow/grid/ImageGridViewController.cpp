#include "mainwindow/grid/ImageGridViewController.h"

#include "mainwindow/grid/ImageGridView.h"
#include "mainwindow/grid/ThumbnailCache.h"
#include "mainwindow/preview/ImagePreviewTransitioning.h"
#include "mainwindow/preview/ImagePreviewViewController.h"
#include "platform/core/Strings.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QUndoStack>

namespace vornakel {
namespace {

// Holds the grid and, while it shows, the preview laid over it; both fill it.
class GridContainer : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        for (QObject* child : children())
            if (auto* widget = qobject_cast<QWidget*>(child); widget && widget->isWindow() == false &&
                                                              widget->property("fillsGrid").toBool())
                widget->setGeometry(rect());
    }
};

void chooseFolderWithDialog(QWidget* window, std::function<void(const QString&)> chosen)
{
    auto* dialog = new QFileDialog(window, GeneralUI::text(QStringLiteral("BrowseCopyToFolderDialogTitle")));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [chosen](const QString& folder) { chosen(folder); });
    dialog->open();
}

} // namespace

ImageGridViewController::ImageGridViewController(ImageGridOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_model(std::make_unique<PhotoGridModel>(m_options.calendar))
{
    if (!m_options.beep)
        m_options.beep = [] { QApplication::beep(); };
    if (!m_options.chooseFolder)
        m_options.chooseFolder = chooseFolderWithDialog;

    m_container = new GridContainer();
    m_container->setMinimumSize(ImageGridItem::kCellWidth + 40, ImageGridItem::kCellHeight + 60);
    m_thumbnails = new ThumbnailCache(QSize(ImageGridItem::kBoxWidth, ImageGridItem::kBoxHeight) *
                                          std::max<qreal>(1.0, m_container->devicePixelRatioF()),
                                      m_options.thumbnailByteLimit, this);
    m_view = new ImageGridView(*m_model, *m_thumbnails, m_container);
    m_view->setProperty("fillsGrid", true);
    m_transitioning = new ImagePreviewTransitioning(this);
    m_transitioning->setSpeed(m_options.animationSpeed);

    connect(m_view, &ImageGridView::previewRequested, this, &ImageGridViewController::presentPreviewForSelectedPhoto);
    connect(m_view, &ImageGridView::photoDoubleClicked, this, &ImageGridViewController::presentPreviewFor);
    connect(m_model.get(), &PhotoGridModel::selectionChanged, this, &ImageGridViewController::updateActions);
    connect(m_model.get(), &PhotoGridModel::photosChanged, this, &ImageGridViewController::updateActions);

    const std::pair<QuickSelection, const char*> quickSelections[] = {
        {QuickSelection::all, "QuickSelectAll"},
        {QuickSelection::none, "QuickSelectNone"},
        {QuickSelection::today, "QuickSelectToday"},
        {QuickSelection::yesterday, "QuickSelectYesterday"},
        {QuickSelection::thisWeek, "QuickSelectThisWeek"},
        {QuickSelection::thisMonth, "QuickSelectThisMonth"},
        {QuickSelection::thisYear, "QuickSelectThisYear"},
    };
    for (const auto& [selection, key] : quickSelections) {
        QKeySequence shortcut;
        if (selection == QuickSelection::all)
            shortcut = QKeySequence(Qt::CTRL | Qt::Key_A);
        else if (selection == QuickSelection::none)
            shortcut = QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A);
        const QuickSelection chosen = selection;
        QAction* action = makeAction(QString::fromLatin1(key), shortcut, [this, chosen] { m_model->quickSelect(chosen); });
        m_quickSelectActions.emplace_back(selection, action);
    }
    m_actions << makeSeparator();
    m_previewAction = makeAction(QStringLiteral("BrowsePreview"), QKeySequence(Qt::Key_Space), [this] {
        if (m_preview)
            dismissPreview();
        else
            presentPreviewForSelectedPhoto();
    });
    m_actions << makeSeparator();
    m_undoAction = m_model->undoStack()->createUndoAction(this, GeneralUI::text(QStringLiteral("BrowseUndoSelection")));
    m_undoAction->setShortcut(QKeySequence::Undo);
    m_undoAction->setObjectName(QStringLiteral("BrowseUndoSelection"));
    m_redoAction = m_model->undoStack()->createRedoAction(this, GeneralUI::text(QStringLiteral("BrowseRedoSelection")));
    m_redoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    m_redoAction->setObjectName(QStringLiteral("BrowseRedoSelection"));
    m_actions << m_undoAction << m_redoAction;
    m_copyToFolderAction = makeAction(QStringLiteral("BrowseCopyToFolder"), {}, [this] { copyToFolder(); });
    // Copying has its own place in the window; the browsing actions are the Select menu's.
    m_actions.removeOne(m_copyToFolderAction);
    updateActions();
}

ImageGridViewController::~ImageGridViewController()
{
    // The widget draws from this controller's model and thumbnails, so it goes with the controller, embedded
    // or not (a parent that went first has already deleted it).
    delete m_container;
}

QAction* ImageGridViewController::makeAction(const QString& key, const QKeySequence& shortcut,
                                             std::function<void()> triggered)
{
    auto* action = new QAction(GeneralUI::text(key), this);
    action->setObjectName(key);
    action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, [triggered = std::move(triggered)] { triggered(); });
    m_actions << action;
    return action;
}

QAction* ImageGridViewController::makeSeparator()
{
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    return separator;
}

void ImageGridViewController::updateActions()
{
    m_previewAction->setEnabled(!m_model->selectedPhotos().empty());
    m_copyToFolderAction->setEnabled(m_model->photoCount() != 0);
}

// ---- PhotoBrowser -------------------------------------------------------------------------------------------

QWidget* ImageGridViewController::widget() { return m_container; }

void ImageGridViewController::setCamera(const std::shared_ptr<VKLCamera>& camera) { m_camera = camera; }

void ImageGridViewController::applyGroupingUpdate(const PhotoGrouping::Update& update)
{
    m_model->apply(update);
    for (const PhotoPtr& photo : update.removed)
        if (photo && !m_model->contains(photo.get()))
            m_thumbnails->forget(photo.get());
}

std::vector<PhotoPtr> ImageGridViewController::photosForCopying() const { return m_model->photosForCopying(); }
std::vector<PhotoPtr> ImageGridViewController::shownPhotos() const { return m_model->shownPhotos(); }
QList<QAction*> ImageGridViewController::browsingActions() const { return m_actions; }
QUndoStack* ImageGridViewController::undoStack() const { return m_model->undoStack(); }

QAction* ImageGridViewController::action(QuickSelection selection) const
{
    for (const auto& [kind, action] : m_quickSelectActions)
        if (kind == selection)
            return action;
    return nullptr;
}

// ---- Preview ------------------------------------------------------------------------------------------------

void ImageGridViewController::presentPreviewForSelectedPhoto()
{
    const std::vector<PhotoPtr>& selected = m_model->selectedPhotos();
    if (selected.empty()) {
        m_options.beep();
        return;
    }
    presentPreviewFor(selected.front());
}

void ImageGridViewController::presentPreviewFor(const PhotoPtr& photo)
{
    if (!photo || m_preview)
        return;
    auto* preview = new ImagePreviewViewController(photo, m_container);
    preview->setProperty("fillsGrid", true);
    m_preview = preview;
    connect(preview, &ImagePreviewViewController::dismissRequested, this, [this, preview] {
        std::optional<QRect> target;
        if (const std::optional<QRect> image = m_view->visibleImageRect(*preview->photo()))
            target = QRect(m_view->viewport()->mapTo(m_container, image->topLeft()), image->size());
        m_transitioning->dismiss(preview, m_container, target, [this] {
            m_preview = nullptr;
            m_view->setFocus(Qt::OtherFocusReason);
            emit previewDismissed();
        });
    });
    std::optional<QRect> source;
    if (const std::optional<QRect> image = m_view->visibleImageRect(*photo))
        source = QRect(m_view->viewport()->mapTo(m_container, image->topLeft()), image->size());
    m_transitioning->present(preview, m_container, m_view->imageOf(*photo), source, [] {});
    emit previewPresented();
}

ImagePreviewViewController* ImageGridViewController::preview() const { return m_preview; }

void ImageGridViewController::dismissPreview()
{
    if (m_preview)
        m_preview->goBack();
}

// ---- Copy ---------------------------------------------------------------------------------------------------

void ImageGridViewController::copyToFolder()
{
    std::vector<PhotoPtr> photos = m_model->photosForCopying();
    if (photos.empty() || !m_options.copyToFolder) {
        m_options.beep();
        return;
    }
    auto copy = m_options.copyToFolder;
    m_options.chooseFolder(m_container ? m_container->window() : nullptr,
                           [photos = std::move(photos), copy](const QString& folder) {
                               if (!folder.isEmpty())
                                   copy(photos, folder);
                           });
}

std::unique_ptr<PhotoBrowser> makeImageGrid(ImageGridOptions options)
{
    return std::make_unique<ImageGridViewController>(std::move(options));
}

} // namespace vornakel
