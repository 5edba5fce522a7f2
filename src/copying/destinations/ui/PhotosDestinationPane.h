#pragma once

#include "copying/destinations/PhotosCopyDestination.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QMimeData;
class QComboBox;
class QLabel;
class QPushButton;

namespace vornakel {

class PhotoSortingMenuBuilder;
class PhotoSortingModel;
class UserDefaults;

// The photo library's settings in the copy sheet: where the library is, whether imports go into the program's
// album, and the folder and preset used when the library imports by reference (dimmed otherwise). Every change
// goes at once to the destination and to the user defaults.
class PhotosDestinationPane : public QWidget {
    Q_OBJECT
public:
    PhotosDestinationPane(PhotosCopyDestination::Ptr destination, UserDefaults& defaults, PhotoSortingModel& presets,
                          QWidget* parent = nullptr);
    ~PhotosDestinationPane() override;

    // A local folder that exists and is not a bundle-like package ("*.app", "*.lrplugin" and the like).
    static bool isAcceptableFolder(const QUrl& url);
    // As a chosen or dropped folder does: to the destination and under "PhotosDestination".
    void useReferencedImportFolder(const QUrl& folder);
    void chooseReferencedImportDestination();
    // What a drag over the pane and a drop on it do: a single acceptable folder, while the folder can be chosen.
    bool canDrop(const QMimeData* mime) const;
    bool drop(const QMimeData* mime);

    QLabel* libraryLabel() const { return m_libraryLabel; }
    QLabel* modeLabel() const { return m_modeLabel; }
    QLabel* folderLabel() const { return m_folderLabel; }
    QPushButton* chooseButton() const { return m_chooseButton; }
    QCheckBox* albumCheckBox() const { return m_albumCheckBox; }
    QComboBox* presetPopUp() const { return m_presetPopUp; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void updateFromDestination();

    std::weak_ptr<PhotosCopyDestination> m_destination;
    UserDefaults& m_defaults;
    QLabel* m_libraryLabel = nullptr;
    QLabel* m_modeLabel = nullptr;
    QLabel* m_folderLabel = nullptr;
    QPushButton* m_chooseButton = nullptr;
    QCheckBox* m_albumCheckBox = nullptr;
    QComboBox* m_presetPopUp = nullptr;
    PhotoSortingMenuBuilder* m_menuBuilder = nullptr;
};

} // namespace vornakel
