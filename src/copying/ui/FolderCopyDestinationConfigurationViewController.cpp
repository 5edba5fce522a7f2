#include "copying/ui/FolderCopyDestinationConfigurationViewController.h"
#include "copying/ui/SheetText.h"

#include "copying/FolderCopyDestination.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "sorting/editor/PhotoSortingMenuBuilder.h"

#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>

namespace vornakel {

FolderPathField::FolderPathField(QWidget* parent) : QLineEdit(parent)
{
    setAcceptDrops(true);
    setPlaceholderText(ui("NoDestinationPlaceholder"));
    addAction(style()->standardIcon(QStyle::SP_DirIcon), QLineEdit::LeadingPosition);
    // A typed path counts once the user is done with it (Return, or leaving the field), and only when it changed.
    connect(this, &QLineEdit::editingFinished, this, [this] {
        if (text() != m_shownFolder)
            emit folderTyped(text());
    });
}

QUrl FolderPathField::typedUrl(const QString& text)
{
    QString path = text.trimmed();
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    if (!QDir::isAbsolutePath(path))
        return {};
    return QUrl::fromLocalFile(QDir::cleanPath(QDir::fromNativeSeparators(path)));
}

bool FolderPathField::isAcceptableFolder(const QUrl& url)
{
    if (!url.isValid() || !url.isLocalFile())
        return false;
    const QFileInfo info(url.toLocalFile());
    // A bundle is a folder that stands for one thing (an application); files do not go into it.
    return info.exists() && info.isDir() && !info.isBundle();
}

QUrl FolderPathField::droppedUrl(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return {};
    return data->urls().constFirst();
}

void FolderPathField::setFolder(const QString& path)
{
    m_shownFolder = QDir::toNativeSeparators(path);
    setText(m_shownFolder);
    setToolTip(text());
    setCursorPosition(0);
}

void FolderPathField::dragEnterEvent(QDragEnterEvent* event)
{
    if (isAcceptableFolder(droppedUrl(event->mimeData())))
        event->acceptProposedAction();
    else
        event->ignore();
}

void FolderPathField::dragMoveEvent(QDragMoveEvent* event)
{
    if (isAcceptableFolder(droppedUrl(event->mimeData())))
        event->acceptProposedAction();
    else
        event->ignore();
}

void FolderPathField::dropEvent(QDropEvent* event)
{
    const QUrl url = droppedUrl(event->mimeData());
    if (!isAcceptableFolder(url)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit folderDropped(url);
}

FolderCopyDestinationConfigurationViewController::FolderCopyDestinationConfigurationViewController(
    std::weak_ptr<FolderCopyDestination> destination, UserDefaults& defaults, PhotoSortingModel& presets,
    QWidget* parent)
    : QWidget(parent), m_destination(std::move(destination)), m_defaults(defaults),
      m_pathField(new FolderPathField(this)), m_chooseButton(new QPushButton(ui("ChooseFolderButtonTitle"), this)),
      m_presetMenu(new QComboBox(this)), m_warningLabel(new QLabel(this)),
      m_menuBuilder(std::make_unique<PhotoSortingMenuBuilder>(presets)),
      m_isWritable([](const QString& folder) { return QFileInfo(folder).isWritable(); })
{
    setObjectName(QStringLiteral("folderDestinationPane"));
    m_pathField->setObjectName(QStringLiteral("destinationPathControl"));
    m_chooseButton->setObjectName(QStringLiteral("chooseFolderButton"));
    m_presetMenu->setObjectName(QStringLiteral("photoSortingPresetMenu"));
    m_warningLabel->setObjectName(QStringLiteral("folderWarningLabel"));
    m_warningLabel->setTextFormat(Qt::PlainText);
    m_warningLabel->setWordWrap(true);
    m_warningLabel->setStyleSheet(QStringLiteral("color: #b3261e;"));
    m_warningLabel->hide();

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_pathField, 1);
    folderRow->addWidget(m_chooseButton);
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->addRow(ui("CopyConfigurationFolderTitle"), folderRow);
    form->addRow(QString(), m_warningLabel);
    form->addRow(ui("CopyConfigurationSortingTitle"), m_presetMenu);

    // The menu starts on the destination's preset; only the user's later choices are written.
    m_menuBuilder->setPhotoSortingPresetMenu(m_presetMenu);
    if (auto folder = m_destination.lock(); folder && folder->sorting())
        m_menuBuilder->setSelectedPresetId(folder->sorting()->presetId());
    connect(m_menuBuilder.get(), &PhotoSortingMenuBuilder::selectedPresetChanged, this,
            &FolderCopyDestinationConfigurationViewController::presetChosen);
    connect(m_chooseButton, &QPushButton::clicked, this, &FolderCopyDestinationConfigurationViewController::chooseFolder);
    connect(m_pathField, &FolderPathField::folderDropped, this, &FolderCopyDestinationConfigurationViewController::useFolder);
    connect(m_pathField, &FolderPathField::folderTyped, this, &FolderCopyDestinationConfigurationViewController::useTypedFolder);
    refreshFromDestination();
}

FolderCopyDestinationConfigurationViewController::~FolderCopyDestinationConfigurationViewController() = default;

void FolderCopyDestinationConfigurationViewController::presetChosen()
{
    const auto& preset = m_menuBuilder->selectedPreset();
    if (!preset)
        return;
    if (auto folder = m_destination.lock())
        folder->setSorting(preset);
    m_defaults.setValue(FolderCopyDestination::photoSortingUserDefaultsKey(), preset->presetId());
}

void FolderCopyDestinationConfigurationViewController::chooseFolder()
{
    if (m_dialog)
        return;
    auto* dialog = new QFileDialog(window(), ui("ChooseFolderMessage"));
    m_dialog = dialog;
    dialog->setObjectName(QStringLiteral("chooseFolderDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, ui("ChooseFolderPrompt"));
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setDirectory(folderDialogStart());
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (!folder.isEmpty())
            useFolder(QUrl::fromLocalFile(folder));
    });
    dialog->open();
    emit folderDialogOpened(dialog);
}

QString FolderCopyDestinationConfigurationViewController::folderDialogStart() const
{
    // Never the process's working folder (often "/" or the build folder when started from a launcher).
    if (auto folder = m_destination.lock(); folder && folder->destination() && folder->destination()->isLocalFile()) {
        const QString current = folder->destination()->toLocalFile();
        if (QFileInfo(current).isDir())
            return current;
    }
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

void FolderCopyDestinationConfigurationViewController::useTypedFolder(const QString& text)
{
    if (text.trimmed().isEmpty()) {
        refreshFromDestination();
        return;
    }
    // A typed path is held to what a dropped folder must be.
    const QUrl url = FolderPathField::typedUrl(text);
    if (!FolderPathField::isAcceptableFolder(url)) {
        m_warningLabel->setText(GeneralUI::format(QStringLiteral("FolderPathNotAFolderWarning"), {text.trimmed()}));
        m_warningLabel->show();
        return;
    }
    useFolder(url);
}

void FolderCopyDestinationConfigurationViewController::useFolder(const QUrl& folder)
{
    if (auto destination = m_destination.lock())
        destination->setDestination(folder);
    m_defaults.setURL(FolderCopyDestination::destinationUserDefaultsKey(), folder);
    refreshFromDestination();
}

void FolderCopyDestinationConfigurationViewController::refreshFromDestination()
{
    auto destination = m_destination.lock();
    const std::optional<QUrl> folder = destination ? destination->destination() : std::nullopt;
    if (!folder || !folder->isLocalFile()) {
        m_pathField->clear();
        m_warningLabel->hide();
        return;
    }
    const QString path = folder->toLocalFile();
    m_pathField->setFolder(path);
    const bool writable = m_isWritable(path);
    m_warningLabel->setText(writable ? QString() : ui("FolderNotWritableWarning"));
    m_warningLabel->setVisible(!writable);
}

void FolderCopyDestinationConfigurationViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refreshFromDestination();
}

} // namespace vornakel
