#include "ui/LayoutHelpers.h"

#include <QDialog>
#include <QEvent>
#include <QWidget>

namespace vornakel {
namespace {

// Follows the parent's resizes; lives as a child of the pinned view so it goes away with it.
class EdgePin : public QObject {
public:
    EdgePin(QWidget* view, const EdgeInsets& insets) : QObject(view), m_view(view), m_insets(insets)
    {
        view->parentWidget()->installEventFilter(this);
        apply();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_view->parentWidget() && event->type() == QEvent::Resize)
            apply();
        return false;
    }

private:
    void apply() { m_view->setGeometry(frameFillingParent(m_view->parentWidget()->rect(), m_insets)); }

    QWidget* m_view;
    EdgeInsets m_insets;
};

} // namespace

QRect frameFillingParent(const QRect& parentRect, const EdgeInsets& insets)
{
    return QRect(parentRect.x() + insets.left, parentRect.y() + insets.top,
                 parentRect.width() - insets.left - insets.right, parentRect.height() - insets.top - insets.bottom);
}

QObject* pinToParentEdges(QWidget* view, const EdgeInsets& insets)
{
    if (!view || !view->parentWidget())
        return nullptr;
    return new EdgePin(view, insets);
}

bool closeContainingSheet(QWidget* content)
{
    if (!content)
        return false;
    auto* dialog = qobject_cast<QDialog*>(content->window());
    if (!dialog || !dialog->parentWidget() || dialog->windowModality() != Qt::WindowModal)
        return false;
    dialog->done(QDialog::Rejected);
    return true;
}

} // namespace vornakel
