#include "copying/destinations/ui/PhotosDestinationPane.h"

#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "sorting/PhotoSortingModel.h"
#include "sorting/editor/PhotoSortingMenuBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPalette>
#include <QPushButton>

namespace vornakel {

namespace {

QString text(const char* key) { return GeneralUI::text(QString::fromLatin1(key)); }

std::optional<QUrl> droppedUrl(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1)
        return std::nullopt;
    return mime->urls().front();
}

} // namespace

PhotosDestinationPane::PhotosDestinationPane(PhotosCopyDestination::Ptr destination, UserDefaults& defaults,
                                             PhotoSortingModel& presets, QWidget* parent)
    : QWidget(parent), m_destination(destination), m_defaults(defaults)
{
    setObjectName(QStringLiteral("PhotosDestinationPane"));
    setAcceptDrops(true);
    auto* form = new QFormLayout(this);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    m_libraryLabel = new QLabel(this);
    m_libraryLabel->setTextFormat(Qt::PlainText);
    m_libraryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_libraryLabel->setText(destination->library().location());
    form->addRow(text("PhotosLibraryLocationLabel"), m_libraryLabel);

    m_albumCheckBox = new QCheckBox(
        GeneralUI::format(QStringLiteral("PhotosAddToAlbumCheckboxTitle"), {text("PhotosImportAlbumName")}), this);
    m_albumCheckBox->setChecked(destination->addToImportedFromVornakelAlbum());
    connect(m_albumCheckBox, &QCheckBox::toggled, this, [this](bool checked) {
        if (auto target = m_destination.lock())
            target->setAddToImportedFromVornakelAlbum(checked);
    });
    form->addRow(QString(), m_albumCheckBox);

    m_modeLabel = new QLabel(this);
    m_modeLabel->setWordWrap(true);
    form->addRow(QString(), m_modeLabel);

    auto* folderRow = new QHBoxLayout;
    m_folderLabel = new QLabel(this);
    m_folderLabel->setTextFormat(Qt::PlainText);
    m_folderLabel->setMinimumWidth(200);
    m_chooseButton = new QPushButton(text("ChooseFolderButtonTitle"), this);
    connect(m_chooseButton, &QPushButton::clicked, this, &PhotosDestinationPane::chooseReferencedImportDestination);
    folderRow->addWidget(m_folderLabel, 1);
    folderRow->addWidget(m_chooseButton);
    form->addRow(text("PhotosReferencedFolderLabel"), folderRow);

    m_presetPopUp = new QComboBox(this);
    m_menuBuilder = new PhotoSortingMenuBuilder(presets, this);
    m_menuBuilder->setPhotoSortingPresetMenu(m_presetPopUp);
    m_menuBuilder->setSelectedPreset(destination->referencedImportSorting());
    connect(m_menuBuilder, &PhotoSortingMenuBuilder::selectedPresetChanged, this,
            [this](const PhotoSortingModel::PresetPtr& preset) {
        if (!preset)
            return;
        if (auto target = m_destination.lock())
            target->setReferencedImportSorting(preset);
        m_defaults.setValue(PhotosCopyDestination::photosSortingUserDefaultsKey(), preset->presetId());
    });
    form->addRow(text("PhotoSortingPresetLabel"), m_presetPopUp);

    connect(destination.get(), &PhotosCopyDestination::photosUsesReferencedImportChanged, this,
            &PhotosDestinationPane::updateFromDestination);
    connect(destination.get(), &PhotosCopyDestination::referencedImportCopyDestinationChanged, this,
            &PhotosDestinationPane::updateFromDestination);
    // The library's setting may have changed while the user was in another program.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive || !isVisible())
            return;
        if (auto target = m_destination.lock())
            target->refreshReferencedImportSetting();
    });
    updateFromDestination();
}

PhotosDestinationPane::~PhotosDestinationPane() = default;

void PhotosDestinationPane::updateFromDestination()
{
    auto destination = m_destination.lock();
    if (!destination)
        return;
    const bool referenced = destination->photosUsesReferencedImport();
    m_modeLabel->setText(referenced ? text("PhotosReferencedImportExplanation") : text("PhotosCopiedImportExplanation"));
    const auto& folder = destination->referencedImportCopyDestination();
    QPalette palette = m_folderLabel->palette();
    if (folder && folder->isLocalFile()) {
        m_folderLabel->setText(QDir::toNativeSeparators(folder->toLocalFile()));
        palette.setColor(QPalette::WindowText, this->palette().color(QPalette::Active, QPalette::WindowText));
    } else {
        m_folderLabel->setText(text("NoDestinationPlaceholder"));
        palette.setColor(QPalette::WindowText, this->palette().color(QPalette::Disabled, QPalette::WindowText));
    }
    m_folderLabel->setPalette(palette);
    m_folderLabel->setEnabled(referenced);
    m_chooseButton->setEnabled(referenced);
    m_presetPopUp->setEnabled(referenced);
}

bool PhotosDestinationPane::isAcceptableFolder(const QUrl& url)
{
    if (!url.isLocalFile())
        return false;
    const QFileInfo info(url.toLocalFile());
    if (!info.isAbsolute() || !info.isDir())
        return false;
    // Folders that stand for one thing (an application, a plug-in, a library bundle) are not places to copy to.
    static const QStringList packageSuffixes{QStringLiteral("app"), QStringLiteral("lrplugin"),
                                             QStringLiteral("bundle"), QStringLiteral("photoslibrary")};
    return !packageSuffixes.contains(info.suffix(), Qt::CaseInsensitive);
}

void PhotosDestinationPane::useReferencedImportFolder(const QUrl& folder)
{
    if (auto destination = m_destination.lock())
        destination->setReferencedImportCopyDestination(folder);
    m_defaults.setURL(PhotosCopyDestination::destinationUserDefaultsKey(), folder);
}

void PhotosDestinationPane::chooseReferencedImportDestination()
{
    auto* dialog = new QFileDialog(window(), text("ChooseFolderMessage"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("ChooseReferencedImportFolderDialog"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, text("ChooseFolderPrompt"));
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QFileDialog::urlsSelected, this, [this](const QList<QUrl>& urls) {
        if (urls.size() == 1 && isAcceptableFolder(urls.front()))
            useReferencedImportFolder(urls.front());
    });
    dialog->open();
}

bool PhotosDestinationPane::canDrop(const QMimeData* mime) const
{
    const auto url = droppedUrl(mime);
    return url && isAcceptableFolder(*url) && m_chooseButton->isEnabled();
}

bool PhotosDestinationPane::drop(const QMimeData* mime)
{
    if (!canDrop(mime))
        return false;
    useReferencedImportFolder(*droppedUrl(mime));
    return true;
}

void PhotosDestinationPane::dragEnterEvent(QDragEnterEvent* event)
{
    if (canDrop(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void PhotosDestinationPane::dropEvent(QDropEvent* event)
{
    if (drop(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

} // namespace vornakel
