#pragma once

#include "copying/CopyDestination.h"
#include "ui/LineViews.h"

#include <QWidget>

class QToolButton;

namespace vornakel {

// One large button of the copy sheet's destination list: the destination's icon and name. The sheet's pointing
// line aims at the icon's strip at the top.
class CopyDestinationStackViewItem : public QWidget, public PointLineViewDestination {
    Q_OBJECT
public:
    static constexpr int kImageSize = 48;

    explicit CopyDestinationStackViewItem(CopyDestinationPtr destination, QWidget* parent = nullptr);

    const CopyDestinationPtr& destination() const { return m_destination; }
    QToolButton* button() const { return m_button; }
    void setChosen(bool chosen);

    // The top strip of the item, as high as the icon.
    QRectF subFrameToPointTo() const override;

signals:
    void clicked(vornakel::CopyDestinationStackViewItem* item);

private:
    void updateButton();

    CopyDestinationPtr m_destination;
    QToolButton* m_button;
};

} // namespace vornakel
