#include "app/AboutWindow.h"

#include "app/AppIcons.h"
#include "platform/core/Strings.h"
#include "ui/WindowDragging.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace vornakel {

QString appVersionText(const BundleVersionInfo& info)
{
    return QStringLiteral("%1 (%2)").arg(info.shortVersion.value_or(QString()), info.bundleVersion.value_or(QString()));
}

QString coreVersionText(const BundleVersionInfo& info)
{
    return QStringLiteral("%1 (%2, %3)")
        .arg(info.shortVersion.value_or(QString()), info.bundleVersion.value_or(QString()),
             info.verboseVersion.value_or(QString()));
}

LicensesViewController::LicensesViewController(QWidget* parent) : QWidget(parent), m_textView(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("Licenses"));
    setWindowTitle(GeneralUI::text(QStringLiteral("AcknowledgementsWindowTitle")));
    m_textView->setOpenExternalLinks(true);
    QFile file(resourcePath());
    // Without the file the panel stays empty; it is compiled in, so that only happens in a broken build.
    if (file.open(QIODevice::ReadOnly))
        m_textView->setHtml(QString::fromUtf8(file.readAll()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_textView);
    resize(520, 480);
}

AboutViewController::AboutViewController(const VersionInfoProvider& versions, QWidget* parent)
    : QWidget(parent), m_appVersionLabel(new QLabel(this)), m_coreVersionLabel(new QLabel(this))
{
    setObjectName(QStringLiteral("About"));
    auto* icon = new QLabel(this);
    icon->setPixmap(appIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignCenter);

    auto* name = new QLabel(GeneralUI::text(QStringLiteral("AppName")), this);
    QFont nameFont = name->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.5);
    nameFont.setBold(true);
    name->setFont(nameFont);
    name->setAlignment(Qt::AlignCenter);

    m_appVersionLabel->setObjectName(QStringLiteral("appVersionLabel"));
    m_coreVersionLabel->setObjectName(QStringLiteral("coreVersionLabel"));
    m_appVersionLabel->setText(appVersionText(versions.applicationInfo()));
    m_coreVersionLabel->setText(coreVersionText(versions.cameraLibraryInfo()));
    for (QLabel* label : {m_appVersionLabel, m_coreVersionLabel}) {
        label->setAlignment(Qt::AlignCenter);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setWordWrap(true);
    }
    auto* versionTitle = new QLabel(GeneralUI::text(QStringLiteral("AboutVersionTitle")), this);
    auto* coreTitle = new QLabel(GeneralUI::text(QStringLiteral("AboutCameraLibraryTitle")), this);
    for (QLabel* title : {versionTitle, coreTitle}) {
        title->setAlignment(Qt::AlignCenter);
        title->setEnabled(false);
    }

    auto* copyright = new QLabel(GeneralUI::text(QStringLiteral("AboutCopyright")), this);
    copyright->setAlignment(Qt::AlignCenter);
    copyright->setEnabled(false);

    auto* licenses = new QPushButton(GeneralUI::text(QStringLiteral("AboutAcknowledgementsButton")), this);
    licenses->setObjectName(QStringLiteral("acknowledgementsButton"));
    connect(licenses, &QPushButton::clicked, this, &AboutViewController::showLicenses);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(4);
    layout->addWidget(icon);
    layout->addSpacing(6);
    layout->addWidget(name);
    layout->addSpacing(10);
    layout->addWidget(versionTitle);
    layout->addWidget(m_appVersionLabel);
    layout->addSpacing(6);
    layout->addWidget(coreTitle);
    layout->addWidget(m_coreVersionLabel);
    layout->addSpacing(12);
    layout->addWidget(licenses, 0, Qt::AlignCenter);
    layout->addSpacing(6);
    layout->addWidget(copyright);
    setFixedWidth(320);
}

void AboutViewController::configureWindow(QWidget* window)
{
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window->setWindowTitle(QString());
    makeMovableByBackground(window);
}

void AboutViewController::showLicenses()
{
    if (!m_licensesWindow) {
        auto* licenses = new LicensesViewController(this);
        licenses->setWindowFlags(Qt::Window);
        licenses->setAttribute(Qt::WA_DeleteOnClose);
        m_licensesWindow = licenses;
    }
    m_licensesWindow->show();
    m_licensesWindow->raise();
}

} // namespace vornakel
