#include "ui/HelpAnchorButton.h"

#include "platform/core/Strings.h"
#include "platform/services/HelpBook.h"

namespace vornakel {

HelpAnchorButton::HelpAnchorButton(QWidget* parent) : QPushButton(parent)
{
    setText(QStringLiteral("?"));
    setToolTip(GeneralUI::text(QStringLiteral("HelpButtonToolTip")));
    setup();
}

QString HelpAnchorButton::helpBookName()
{
    return HelpBook::helpBookName();
}

void HelpAnchorButton::setup()
{
    connect(this, &QPushButton::clicked, this, &HelpAnchorButton::buttonClicked, Qt::UniqueConnection);
}

void HelpAnchorButton::buttonClicked()
{
    HelpBook::shared().openHelpAnchor(m_anchorName, helpBookName());
}

} // namespace vornakel
