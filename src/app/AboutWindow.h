#pragma once

#include "app/AppCollaborators.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QTextBrowser;

namespace vornakel {

// "1.2 (345)": the short version, a blank and the build number in parentheses. A missing value reads as empty.
QString appVersionText(const BundleVersionInfo& info);
// "3.0 (812, V)": the short version, then the build number and the long version text in one pair of parentheses.
QString coreVersionText(const BundleVersionInfo& info);

// The acknowledgements panel: the notices of the libraries we ship, from the resource
// ":/acknowledgements/Licenses.html".
class LicensesViewController : public QWidget {
    Q_OBJECT
public:
    static QString resourcePath() { return QStringLiteral(":/acknowledgements/Licenses.html"); }

    explicit LicensesViewController(QWidget* parent = nullptr);
    QTextBrowser* licencesTextView() const { return m_textView; }

private:
    QTextBrowser* m_textView;
};

// The About window's content: icon, name, the application's version and the camera library's version.
class AboutViewController : public QWidget {
    Q_OBJECT
public:
    explicit AboutViewController(const VersionInfoProvider& versions, QWidget* parent = nullptr);

    QLabel* appVersionLabel() const { return m_appVersionLabel; }
    QLabel* coreVersionLabel() const { return m_coreVersionLabel; }
    // The acknowledgements window, once opened.
    QWidget* licensesWindow() const { return m_licensesWindow; }

    // Makes `window` an About window: no title, no minimise or maximise button, movable by its background.
    static void configureWindow(QWidget* window);

public slots:
    void showLicenses();

private:
    QLabel* m_appVersionLabel;
    QLabel* m_coreVersionLabel;
    QPointer<QWidget> m_licensesWindow;
};

} // namespace vornakel
