#pragma once

#include <QWidget>

namespace vornakel {

// A plain view that swallows mouse presses, so they reach neither its parent nor anything behind it.
class NoClickThroughView : public QWidget {
    Q_OBJECT
public:
    explicit NoClickThroughView(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

} // namespace vornakel
