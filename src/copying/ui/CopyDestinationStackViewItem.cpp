#include "copying/ui/CopyDestinationStackViewItem.h"

#include "platform/core/Strings.h"

#include <QIcon>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace vornakel {

CopyDestinationStackViewItem::CopyDestinationStackViewItem(CopyDestinationPtr destination, QWidget* parent)
    : QWidget(parent), m_destination(std::move(destination)), m_button(new QToolButton(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_button);
    m_button->setObjectName(QStringLiteral("destinationButton"));
    m_button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_button->setIconSize(QSize(kImageSize, kImageSize));
    m_button->setCheckable(true);
    m_button->setAutoRaise(true);
    m_button->setMinimumWidth(120);
    m_button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_button, &QToolButton::clicked, this, [this] {
        // The chosen state follows the sheet's choice, not the click.
        m_button->setChecked(!m_button->isChecked());
        emit clicked(this);
    });
    updateButton();
}

void CopyDestinationStackViewItem::setChosen(bool chosen)
{
    m_button->setChecked(chosen);
}

QRectF CopyDestinationStackViewItem::subFrameToPointTo() const
{
    // The icon sits at the top of the button, below the button's own margin.
    const qreal top = m_button->geometry().top() + 4;
    return QRectF(0, top, width(), kImageSize);
}

void CopyDestinationStackViewItem::updateButton()
{
    if (!m_destination)
        return;
    // Without an icon theme, the style's large folder and document icons stand in.
    const QIcon fallback = style()->standardIcon(m_destination->iconName().startsWith(QStringLiteral("folder"))
                                                     ? QStyle::SP_DirIcon
                                                     : QStyle::SP_FileIcon);
    m_button->setIcon(QIcon::fromTheme(m_destination->iconName(), fallback));
    m_button->setText(m_destination->name());
    // The tool tip is also what a screen reader gives as the button's description.
    m_button->setToolTip(GeneralUI::format(QStringLiteral("CopyDestinationButtonToolTip"), {m_destination->name()}));
}

} // namespace vornakel
