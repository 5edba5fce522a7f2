#include "app/FeedbackDialog.h"

#include "platform/core/Strings.h"
#include "platform/services/Workspace.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vornakel {

FeedbackDialog::FeedbackDialog(QString appVersion, Workspace& workspace, QWidget* parent, QString folder)
    : QDialog(parent), m_appVersion(std::move(appVersion)), m_workspace(workspace), m_folder(std::move(folder)),
      m_message(new QPlainTextEdit(this)), m_email(new QLineEdit(this)), m_status(new QLabel(this)),
      m_save(new QPushButton(GeneralUI::text(QStringLiteral("FeedbackSaveButton")), this))
{
    setObjectName(QStringLiteral("FeedbackDialog"));
    setWindowTitle(GeneralUI::text(QStringLiteral("FeedbackWindowTitle")));
    auto* prompt = new QLabel(GeneralUI::text(QStringLiteral("FeedbackPrompt")), this);
    prompt->setWordWrap(true);
    m_email->setPlaceholderText(GeneralUI::text(QStringLiteral("FeedbackEmailPlaceholder")));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->hide();

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(m_save, QDialogButtonBox::AcceptRole);
    m_cancel = buttons->addButton(GeneralUI::text(QStringLiteral("FeedbackCancelButton")), QDialogButtonBox::RejectRole);
    m_save->setEnabled(false);
    connect(m_message, &QPlainTextEdit::textChanged, this,
            [this] { m_save->setEnabled(!m_message->isReadOnly() && !m_message->toPlainText().trimmed().isEmpty()); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { saveReport(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(m_message, 1);
    layout->addWidget(m_email);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
    resize(460, 340);
}

FeedbackWriteResult FeedbackDialog::saveReport()
{
    const FeedbackReport report{m_message->toPlainText(), m_email->text(), QDateTime::currentDateTimeUtc(), m_appVersion};
    FeedbackWriteResult result = Feedback::writeReport(report, m_folder);
    if (result.error) {
        m_status->setText(GeneralUI::text(QStringLiteral("FeedbackFailedTitle")) + QStringLiteral(": ")
                          + result.error->description());
        m_status->show();
        return result;
    }
    // The dialog stays open to say where the report went; the file manager shows it.
    m_workspace.revealFile(*result.path);
    m_status->setText(GeneralUI::format(QStringLiteral("FeedbackSavedMessage"), {QFileInfo(*result.path).fileName()}));
    m_status->show();
    m_message->setReadOnly(true);
    m_email->setReadOnly(true);
    m_save->setEnabled(false);
    m_cancel->setText(GeneralUI::text(QStringLiteral("FeedbackDoneButton")));
    return result;
}

} // namespace vornakel
