#pragma once

#include <QRect>

class QObject;
class QWidget;

namespace vornakel {

// Distances from a parent's edges, in the order top, left, bottom, right.
struct EdgeInsets {
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;
};

// The frame a child takes when pinned inside `parentRect` with the insets.
QRect frameFillingParent(const QRect& parentRect, const EdgeInsets& insets = {});

// Keeps `view` filling its parent widget, inset by `insets`, through every resize of the parent. The view must
// already have a parent; answers the object that keeps it pinned (a child of the view; deleting it unpins), or
// nullptr when the view has no parent.
QObject* pinToParentEdges(QWidget* view, const EdgeInsets& insets = {});

// Closes the window-modal dialog ("sheet") that shows `content`, finishing it with QDialog::Rejected. Answers
// false and changes nothing when `content` is not in a window-modal dialog that has a parent window.
bool closeContainingSheet(QWidget* content);

} // namespace vornakel
