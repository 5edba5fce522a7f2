#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class QMimeData;
class QFileDialog;
class QLabel;
class QPushButton;

namespace vornakel {

class FolderCopyDestination;
class PhotoSortingMenuBuilder;
class PhotoSortingModel;
class UserDefaults;

// Shows a chosen folder and takes a folder dropped on it; refuses anything else. The greyed placeholder shows
// while no folder is set.
class FolderPathField : public QLineEdit {
    Q_OBJECT
public:
    explicit FolderPathField(QWidget* parent = nullptr);

    // A local folder (not a file, not a bundle), as a drop must be.
    static bool isAcceptableFolder(const QUrl& url);
    // The first URL of a drag, when there is one.
    static QUrl droppedUrl(const QMimeData* data);

    // The folder a typed path names: an absolute path, or one starting with "~/"; nothing for anything else.
    static QUrl typedUrl(const QString& text);

    void setFolder(const QString& path);

signals:
    void folderDropped(const QUrl& folder);
    // The user typed a path and left the field (or pressed Return); not checked yet.
    void folderTyped(const QString& text);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QString m_shownFolder;
};

// The folder destination's settings in the copy sheet: the folder copies go to (typed or dropped in the path
// field, or chosen in a folder dialog) and the sorting preset. Every change goes at once to the destination and to the
// user defaults, so the next sheet starts with the same choices.
class FolderCopyDestinationConfigurationViewController : public QWidget {
    Q_OBJECT
public:
    using WritableCheck = std::function<bool(const QString& folder)>;

    FolderCopyDestinationConfigurationViewController(std::weak_ptr<FolderCopyDestination> destination,
                                                     UserDefaults& defaults, PhotoSortingModel& presets,
                                                     QWidget* parent = nullptr);
    ~FolderCopyDestinationConfigurationViewController() override;

    FolderPathField* destinationPathControl() const { return m_pathField; }
    QPushButton* chooseFolderButton() const { return m_chooseButton; }
    QComboBox* photoSortingPresetMenu() const { return m_presetMenu; }
    PhotoSortingMenuBuilder* photoSortingMenu() const { return m_menuBuilder.get(); }
    QLabel* warningLabel() const { return m_warningLabel; }

    // Opens the folder dialog as a sheet on the pane's window.
    void chooseFolder();
    // Uses the folder: to the destination and to "FolderDestination".
    void useFolder(const QUrl& folder);
    // A path typed in the field: used when it names a folder a drop could name, else a warning says why not.
    void useTypedFolder(const QString& text);
    // Where the folder dialog opens: the current folder, else the Pictures folder, else the home folder.
    QString folderDialogStart() const;
    // Shows the destination's folder now (also done whenever the pane shows).
    void refreshFromDestination();
    // How a folder is checked for writing (tests; the default asks the file system).
    void setWritableCheck(WritableCheck check) { m_isWritable = std::move(check); }

signals:
    // The folder dialog was opened (tests and screenshots).
    void folderDialogOpened(QFileDialog* dialog);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void presetChosen();

    std::weak_ptr<FolderCopyDestination> m_destination;
    UserDefaults& m_defaults;
    FolderPathField* m_pathField;
    QPushButton* m_chooseButton;
    QComboBox* m_presetMenu;
    QLabel* m_warningLabel;
    std::unique_ptr<PhotoSortingMenuBuilder> m_menuBuilder;
    WritableCheck m_isWritable;
    QPointer<QFileDialog> m_dialog;
};

} // namespace vornakel
