#pragma once

#include <QColor>
#include <QWidget>

namespace vornakel {

// A view that only paints a solid colour; clear at first, so whatever is behind it shows.
class BackgroundColorView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor backgroundColor READ backgroundColor WRITE setBackgroundColor)
public:
    explicit BackgroundColorView(QWidget* parent = nullptr);

    QColor backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_backgroundColor = Qt::transparent;
};

} // namespace vornakel
