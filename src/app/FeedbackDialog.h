#pragma once

#include "platform/services/FeedbackReport.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vornakel {

class Workspace;

// The feedback dialog of the app menu: the user writes a message, and it is saved as a text file (shown in the
// file manager) that the user can send us.
class FeedbackDialog : public QDialog {
    Q_OBJECT
public:
    // The saved report is shown through `workspace`, which must outlive the dialog.
    FeedbackDialog(QString appVersion, Workspace& workspace, QWidget* parent = nullptr,
                   QString folder = Feedback::defaultFolder());

    QPlainTextEdit* messageEdit() const { return m_message; }
    QLineEdit* emailEdit() const { return m_email; }
    QLabel* statusLabel() const { return m_status; }
    QPushButton* saveButton() const { return m_save; }

    // Writes the report; on success shows where it went, reveals the file and leaves only the Done button.
    FeedbackWriteResult saveReport();

private:
    QString m_appVersion;
    Workspace& m_workspace;
    QString m_folder;
    QPlainTextEdit* m_message;
    QLineEdit* m_email;
    QLabel* m_status;
    QPushButton* m_save;
    QPushButton* m_cancel;
};

} // namespace vornakel
