#include "sorting/editor/PhotoSortingRowViewController.h"

#include "platform/core/Strings.h"
#include "sorting/editor/PhotoSortingTokenField.h"

#include <QFileIconProvider>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeDatabase>
#include <QStyle>
#include <QToolButton>

namespace vornakel {
namespace {

constexpr int kIconSize = 20;

QIcon folderIcon(const QWidget* widget)
{
    const QIcon icon = QFileIconProvider().icon(QFileIconProvider::Folder);
    return icon.isNull() ? widget->style()->standardIcon(QStyle::SP_DirIcon) : icon;
}

QIcon jpegFileIcon(const QWidget* widget)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(QStringLiteral("photo.jpg"), QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    return icon.isNull() ? widget->style()->standardIcon(QStyle::SP_FileIcon) : icon;
}

QToolButton* makeButton(const QString& text, const QString& toolTipKey, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setToolTip(GeneralUI::text(toolTipKey));
    button->setAutoRaise(false);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(24, 24);
    return button;
}

} // namespace

PhotoSortingRowViewController::PhotoSortingRowViewController(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PhotoSortingRow"));
    m_layout = new QHBoxLayout(this);
    m_layout->setContentsMargins(0, 2, 0, 2);
    m_layout->setSpacing(6);

    m_iconView = new QLabel(this);
    m_iconView->setFixedSize(kIconSize, kIconSize);
    m_tokenField = new PhotoSortingTokenField(this);
    m_noFoldersLabel = new QLabel(GeneralUI::text(QStringLiteral("NoFoldersRowLabel")), this);
    m_noFoldersLabel->setTextFormat(Qt::PlainText);
    // Muted, but readable: it explains the row rather than being a disabled control.
    QFont italic = m_noFoldersLabel->font();
    italic.setItalic(true);
    m_noFoldersLabel->setFont(italic);
    QPalette muted = m_noFoldersLabel->palette();
    muted.setColor(QPalette::WindowText, muted.color(QPalette::PlaceholderText));
    m_noFoldersLabel->setPalette(muted);
    m_noFoldersLabel->setMinimumHeight(m_tokenField->sizeHint().height());
    m_noFoldersLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_noFoldersLabel->hide();
    m_removeButton = makeButton(QStringLiteral("−"), QStringLiteral("RemoveFolderLevelToolTip"), this);
    m_addButton = makeButton(QStringLiteral("+"), QStringLiteral("AddFolderLevelToolTip"), this);

    m_layout->addWidget(m_iconView);
    m_layout->addWidget(m_tokenField, 1);
    m_layout->addWidget(m_noFoldersLabel, 1);
    m_layout->addWidget(m_removeButton);
    m_layout->addWidget(m_addButton);

    connect(m_addButton, &QToolButton::clicked, this, &PhotoSortingRowViewController::addRow);
    connect(m_removeButton, &QToolButton::clicked, this, &PhotoSortingRowViewController::removeRow);
    connect(m_tokenField, &PhotoSortingTokenField::textDidChange, this,
            &PhotoSortingRowViewController::controlTextDidChange);
    updateForMode();
}

void PhotoSortingRowViewController::setAllowsAdd(bool allows)
{
    m_allowsAdd = allows;
    m_addButton->setEnabled(allows);
}

void PhotoSortingRowViewController::setAllowsRemove(bool allows)
{
    m_allowsRemove = allows;
    m_removeButton->setEnabled(allows);
}

void PhotoSortingRowViewController::setShowAddRemoveButtons(bool show)
{
    m_showAddRemoveButtons = show;
    // The buttons keep their room when hidden, so that the fields of all rows end at the same edge.
    for (QToolButton* button : {m_addButton, m_removeButton}) {
        QSizePolicy policy = button->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        button->setSizePolicy(policy);
        button->setVisible(show);
    }
}

void PhotoSortingRowViewController::setAllowsEditing(bool allows)
{
    m_allowsEditing = allows;
    m_tokenField->setEditable(allows);
    m_tokenField->setSelectable(allows);
}

void PhotoSortingRowViewController::setInsetLevel(int level)
{
    m_insetLevel = level;
    const QMargins margins = m_layout->contentsMargins();
    m_layout->setContentsMargins(int(insetConstant()), margins.top(), margins.right(), margins.bottom());
}

void PhotoSortingRowViewController::updateForMode()
{
    const QIcon icon = m_mode == Mode::file ? jpegFileIcon(this) : folderIcon(this);
    m_iconView->setPixmap(icon.pixmap(kIconSize, kIconSize));
    m_noFoldersLabel->setVisible(m_mode == Mode::noFolders);
    m_tokenField->setVisible(m_mode != Mode::noFolders);
}

void PhotoSortingRowViewController::setStep(UserDefinedSortingStepPtr step)
{
    m_step = std::move(step);
    updateTokenField();
}

void PhotoSortingRowViewController::updateTokenField()
{
    m_tokenField->setObjectValue(m_step ? m_step->tokenFieldRepresentedObjects() : QVariantList());
}

void PhotoSortingRowViewController::addRow()
{
    emit addRowRequested(this);
}

void PhotoSortingRowViewController::removeRow()
{
    emit deleteRowRequested(this);
}

void PhotoSortingRowViewController::controlTextDidChange()
{
    if (!m_allowsEditing || !m_step)
        return;
    m_step->setTokenFieldRepresentedObjects(m_tokenField->objectValue());
    emit valueChanged(this, m_step);
}

} // namespace vornakel
