#pragma once

#include "copying/CopyTypes.h"
#include "model/PhotoVariant.h"
#include "platform/core/Deferred.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace vornakel {

class Workspace;

// Asks what to do with a camera file whose target already exists: shows both files with thumbnails and names,
// and answers the two values the waiting copy needs (the choice, and whether it holds for the rest of the
// copy). However the sheet closes, the copy gets an answer: closing it without choosing skips the file.
class FilenameConflictViewController : public QDialog {
    Q_OBJECT
public:
    using Resolution = FileNameConflictResolution;

    FilenameConflictViewController(PhotoVariantPtr variant, QString conflictingLocalPath,
                                   Deferred<Resolution> resolution, Deferred<bool> remember, Workspace& workspace,
                                   QWidget* parent);
    ~FilenameConflictViewController() override;

    const PhotoVariantPtr& currentVariant() const { return m_variant; }
    const QString& conflictingLocalPath() const { return m_localPath; }

    QLabel* titleLabel() const { return m_titleLabel; }
    QLabel* subTitleLabel() const { return m_subTitleLabel; }
    QLabel* onCameraImageName() const { return m_cameraName; }
    QLabel* onMacImageName() const { return m_localName; }
    QLabel* onCameraThumbnailView() const { return m_cameraThumbnail; }
    QLabel* onMacThumbnailView() const { return m_localThumbnail; }
    QCheckBox* rememberChoiceCheckbox() const { return m_remember; }
    QPushButton* skipButton() const { return m_skipButton; }
    QPushButton* overwriteButton() const { return m_overwriteButton; }
    QPushButton* uniqueNameButton() const { return m_uniqueNameButton; }
    QPushButton* revealButton() const { return m_revealButton; }
    bool cameraThumbnailLoaded() const { return m_cameraThumbnailLoaded; }
    bool localThumbnailLoaded() const { return m_localThumbnailLoaded; }

    void skip() { resolve(Resolution::skip); }
    void overwriteExisting() { resolve(Resolution::overwrite); }
    void useUniqueName() { resolve(Resolution::useUniqueName); }
    void revealLocalUrlInFinder();
    // Answers with the remember checkbox's state, then closes.
    void resolve(Resolution resolution);
    // Answers without asking (a cancelled copy) and closes.
    void answer(Resolution resolution, bool remember);

    // Esc and the window's close button skip the file.
    void reject() override;

signals:
    // Both thumbnails are shown (loaded or the placeholder).
    void thumbnailsShown();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void loadThumbnails();
    void showThumbnail(QLabel* view, QProgressBar* spinner, const QImage& image);
    QImage placeholder() const;

    PhotoVariantPtr m_variant;
    QString m_localPath;
    Deferred<Resolution> m_resolution;
    Deferred<bool> m_rememberAnswer;
    Workspace& m_workspace;
    QLabel* m_titleLabel;
    QLabel* m_subTitleLabel;
    QLabel* m_cameraThumbnail;
    QProgressBar* m_cameraSpinner;
    QLabel* m_cameraName;
    QLabel* m_localThumbnail;
    QProgressBar* m_localSpinner;
    QLabel* m_localName;
    QCheckBox* m_remember;
    QPushButton* m_skipButton;
    QPushButton* m_overwriteButton;
    QPushButton* m_uniqueNameButton;
    QPushButton* m_revealButton;
    bool m_cameraThumbnailLoaded = false;
    bool m_localThumbnailLoaded = false;
    bool m_closing = false;
};

} // namespace vornakel
