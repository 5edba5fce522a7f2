#pragma once

#include "mainwindow/PhotoBrowser.h"
#include "mainwindow/grid/PhotoGridModel.h"
#include "mainwindow/grid/QuickSelectRanges.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QUndoStack;

namespace vornakel {

class ImageGridView;
class ImagePreviewTransitioning;
class ImagePreviewViewController;
class ThumbnailCache;

struct ImageGridOptions {
    GridCalendar calendar = GridCalendar::system();
    // The system beep by default; sounds when Preview finds nothing usable selected.
    std::function<void()> beep;
    // "Copy to Folder…": the photos to copy and the folder the user chose. The same entry a drop would use.
    std::function<void(const std::vector<PhotoPtr>& photos, const QString& folder)> copyToFolder;
    // Asks the user for a folder and answers with it (or an empty text); a folder dialog on the grid's window
    // by default.
    std::function<void(QWidget* window, std::function<void(const QString&)> chosen)> chooseFolder;
    // Multiplies the preview's animation durations; 0 finishes them at once.
    double animationSpeed = 1.0;
    // The byte bound of decoded thumbnails.
    qint64 thumbnailByteLimit = 64ll * 1024 * 1024;
};

// The photo grid of a connected camera: day sections, selection with undo, quick selection, thumbnails, the
// preview on Space or double-click, and the browsing actions for the window's menus.
class ImageGridViewController : public QObject, public PhotoBrowser {
    Q_OBJECT
public:
    explicit ImageGridViewController(ImageGridOptions options = {}, QObject* parent = nullptr);
    ~ImageGridViewController() override;

    // ---- PhotoBrowser ----------------------------------------------------------------------------------------
    QWidget* widget() override;
    void setCamera(const std::shared_ptr<VKLCamera>& camera) override;
    void applyGroupingUpdate(const PhotoGrouping::Update& update) override;
    std::vector<PhotoPtr> photosForCopying() const override;
    std::vector<PhotoPtr> shownPhotos() const override;
    // The seven quick selections, a separator, Preview (Space), a separator, Undo and Redo of the selection
    // (Ctrl+Z, Ctrl+Shift+Z), a separator and "Copy to Folder…". The actions are not attached to the grid
    // widget: the window puts them in its menus and toolbar, where their shortcuts then work.
    QList<QAction*> browsingActions() const override;

    // ---- The grid ----------------------------------------------------------------------------------------------
    PhotoGridModel& model() { return *m_model; }
    ImageGridView& view() { return *m_view; }
    ThumbnailCache& thumbnails() { return *m_thumbnails; }
    QUndoStack* undoStack() const;
    QAction* action(QuickSelection selection) const;
    QAction* previewAction() const { return m_previewAction; }
    QAction* undoAction() const { return m_undoAction; }
    QAction* redoAction() const { return m_redoAction; }
    QAction* copyToFolderAction() const { return m_copyToFolderAction; }

    // Shows the preview of the first selected photo; beeps when nothing is selected.
    void presentPreviewForSelectedPhoto();
    void presentPreviewFor(const PhotoPtr& photo);
    // Dismisses the preview that shows, if any (once, however often it is asked).
    void dismissPreview();
    ImagePreviewViewController* preview() const;
    ImagePreviewTransitioning& transitioning() { return *m_transitioning; }
    // Asks for a folder, then hands the photos for copying to the copy entry.
    void copyToFolder();

signals:
    void previewPresented();
    void previewDismissed();

private:
    void updateActions();
    QAction* makeSeparator();
    QAction* makeAction(const QString& key, const QKeySequence& shortcut, std::function<void()> triggered);

    ImageGridOptions m_options;
    QPointer<QWidget> m_container;
    std::unique_ptr<PhotoGridModel> m_model;
    ThumbnailCache* m_thumbnails = nullptr;
    ImageGridView* m_view = nullptr;
    ImagePreviewTransitioning* m_transitioning = nullptr;
    QPointer<ImagePreviewViewController> m_preview;
    std::shared_ptr<VKLCamera> m_camera;
    std::vector<std::pair<QuickSelection, QAction*>> m_quickSelectActions;
    QAction* m_previewAction = nullptr;
    QAction* m_undoAction = nullptr;
    QAction* m_redoAction = nullptr;
    QAction* m_copyToFolderAction = nullptr;
    QList<QAction*> m_actions;
};

// The grid for the connected-camera view, behind the browser interface.
std::unique_ptr<PhotoBrowser> makeImageGrid(ImageGridOptions options = {});

} // namespace vornakel
