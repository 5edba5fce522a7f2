#pragma once

#include <QPushButton>

namespace vornakel {

// A button that opens the application's help at a named anchor ("Help_CopyFolder", ...).
class HelpAnchorButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString anchorName READ anchorName WRITE setAnchorName)
public:
    explicit HelpAnchorButton(QWidget* parent = nullptr);

    // The help book every help button opens: the app identifier prefix followed by ".zediriri-zir.help".
    static QString helpBookName();

    QString anchorName() const { return m_anchorName; }
    void setAnchorName(const QString& anchorName) { m_anchorName = anchorName; }

    // Connects the click to `buttonClicked`; safe to call again.
    void setup();

public slots:
    void buttonClicked();

private:
    QString m_anchorName;
};

} // namespace vornakel
