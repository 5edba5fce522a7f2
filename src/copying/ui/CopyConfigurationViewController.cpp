#include "copying/ui/CopyConfigurationViewController.h"
#include "copying/ui/SheetText.h"

#include "copying/PhotoCopyQueue.h"
#include "copying/ui/CopyDestinationStackViewItem.h"
#include "copying/ui/CopyProgressViewController.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"
#include "ui/HelpAnchorButton.h"
#include "ui/LineViews.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace vornakel {

QString CopyConfigurationViewController::chosenCopyDestinationUserDefaultsKey()
{
    return QStringLiteral("LastCopyDestinationIdentifier");
}

CopyConfigurationViewController::CopyConfigurationViewController(std::vector<CopyDestinationOffer> offers,
                                                                 CopySheetEnvironment environment, QWidget* window)
    : QDialog(window), m_offers(std::move(offers)), m_environment(std::move(environment)), m_window(window),
      m_stackLayout(new QVBoxLayout), m_lineView(new PointingLineView(this)), m_panel(new QWidget(this)),
      m_paneContainer(new QStackedWidget(m_panel)), m_helpButton(new HelpAnchorButton(m_panel)),
      m_cancelButton(new QPushButton(ui("CancelButtonTitle"), m_panel)),
      m_copyButton(new QPushButton(ui("CopySheetCopyButtonTitle"), m_panel))
{
    setObjectName(QStringLiteral("CopyConfigurationSheet"));
    setWindowModality(Qt::WindowModal);
    // The destination list sits on white; the settings panel right of the line has the window colour.
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, white.color(QPalette::Base));
    setPalette(white);
    // The line is a narrow strip whose notch points left at the chosen button; the panel right of it holds the
    // pane and the buttons.
    m_lineView->setPalette(QApplication::palette());
    m_lineView->setObjectName(QStringLiteral("lineView"));
    m_lineView->setFixedWidth(kLineWidth);
    m_panel->setPalette(QApplication::palette());
    m_panel->setAutoFillBackground(true);
    m_helpButton->setFixedWidth(m_helpButton->sizeHint().height());
    m_paneContainer->setObjectName(QStringLiteral("destinationConfigurationViewContainer"));
    m_copyButton->setObjectName(QStringLiteral("copyButton"));
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_helpButton->setObjectName(QStringLiteral("helpButton"));
    m_copyButton->setDefault(true);
    m_copyButton->setEnabled(false);

    // The folder is always offered; the list is never empty in practice, but an empty one stays harmless.
    std::erase_if(m_offers, [](const CopyDestinationOffer& offer) { return !offer.destination; });

    auto* list = new QWidget(this);
    list->setObjectName(QStringLiteral("destinationStack"));
    list->setLayout(m_stackLayout);
    m_stackLayout->setContentsMargins(12, 16, 12, 16);
    m_stackLayout->setSpacing(8);
    for (const CopyDestinationOffer& offer : m_offers) {
        auto* item = new CopyDestinationStackViewItem(offer.destination, list);
        connect(item, &CopyDestinationStackViewItem::clicked, this,
                &CopyConfigurationViewController::destinationButtonClicked);
        m_stackLayout->addWidget(item);
        m_items.push_back(item);
    }
    m_stackLayout->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_helpButton);
    buttons->addStretch(1);
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_copyButton);
    auto* panel = new QVBoxLayout(m_panel);
    panel->setContentsMargins(16, 20, 20, 16);
    panel->addWidget(m_paneContainer, 1);
    panel->addLayout(buttons);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(list);
    layout->addWidget(m_lineView);
    layout->addWidget(m_panel, 1);
    resize(660, 300);

    connect(m_cancelButton, &QPushButton::clicked, this, &CopyConfigurationViewController::cancelCopy);
    connect(m_copyButton, &QPushButton::clicked, this, &CopyConfigurationViewController::beginCopy);
    connect(m_helpButton, &QPushButton::clicked, this, [this] {
        if (m_current)
            m_helpButton->setAnchorName(m_current->helpBookAnchor());
    });

    // The last destination chosen, when it is still offered; otherwise the first (the folder). A stale stored
    // value stays until the user chooses.
    CopyDestinationPtr preselected;
    const QString stored = m_environment.defaults
        ? m_environment.defaults->stringForKey(chosenCopyDestinationUserDefaultsKey())
        : QString();
    for (const CopyDestinationOffer& offer : m_offers)
        if (!stored.isEmpty() && offer.destination->identifier() == stored) {
            preselected = offer.destination;
            break;
        }
    if (!preselected && !m_offers.empty())
        preselected = m_offers.front().destination;
    if (preselected)
        setCurrentDestination(preselected);
}

CopyConfigurationViewController::~CopyConfigurationViewController()
{
    disconnect(m_allowsCopyConnection);
}

std::vector<CopyDestinationPtr> CopyConfigurationViewController::availableDestinations() const
{
    std::vector<CopyDestinationPtr> destinations;
    for (const CopyDestinationOffer& offer : m_offers)
        destinations.push_back(offer.destination);
    return destinations;
}

QWidget* CopyConfigurationViewController::currentPane() const
{
    if (!m_current)
        return nullptr;
    const auto found = m_panes.find(m_current.get());
    return found == m_panes.end() ? nullptr : found->second;
}

CopyDestinationStackViewItem* CopyConfigurationViewController::itemFor(const CopyDestinationPtr& destination) const
{
    for (CopyDestinationStackViewItem* item : m_items)
        if (item->destination() == destination)
            return item;
    return m_items.empty() ? nullptr : m_items.front();
}

void CopyConfigurationViewController::setCurrentDestination(const CopyDestinationPtr& destination)
{
    disconnect(m_allowsCopyConnection);
    m_current = destination;
    if (!m_panes.count(destination.get())) {
        QWidget* pane = nullptr;
        for (const CopyDestinationOffer& offer : m_offers)
            if (offer.destination == destination && offer.makePane)
                if (std::unique_ptr<QWidget> made = offer.makePane(destination))
                    pane = made.release();
        if (!pane)
            pane = new QWidget;
        m_paneContainer->addWidget(pane);
        m_panes[destination.get()] = pane;
    }
    m_paneContainer->setCurrentWidget(m_panes[destination.get()]);
    m_helpButton->setAnchorName(destination->helpBookAnchor());
    for (CopyDestinationStackViewItem* item : m_items)
        item->setChosen(item->destination() == destination);
    m_allowsCopyConnection = connect(destination.get(), &CopyDestination::currentConfigurationAllowsCopyToStartChanged,
                                     this, &CopyConfigurationViewController::updateCopyButton);
    updateCopyButton();
}

void CopyConfigurationViewController::updateCopyButton()
{
    m_copyButton->setEnabled(!m_ended && m_current && m_current->currentConfigurationAllowsCopyToStart());
}

void CopyConfigurationViewController::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (layout())
        layout()->activate();
    if (m_current)
        m_lineView->pointAt(itemFor(m_current), false);
    // Aim again once the window has settled, in case showing it changed the layout.
    QPointer<CopyConfigurationViewController> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self && self->m_current)
            self->m_lineView->pointAt(self->itemFor(self->m_current), false);
    });
}

void CopyConfigurationViewController::destinationButtonClicked(CopyDestinationStackViewItem* item)
{
    if (!item || !item->destination() || m_ended)
        return;
    setCurrentDestination(item->destination());
    if (m_environment.defaults)
        m_environment.defaults->setValue(chosenCopyDestinationUserDefaultsKey(), item->destination()->identifier());
    m_lineView->pointAt(item, true);
}

void CopyConfigurationViewController::cancelCopy()
{
    if (m_ended)
        return;
    m_ended = true;
    for (const CopyDestinationOffer& offer : m_offers)
        offer.destination->copyDestinationInstanceWillNotBeUsed();
    QDialog::done(QDialog::Rejected);
}

void CopyConfigurationViewController::reject()
{
    cancelCopy();
}

void CopyConfigurationViewController::beep()
{
    if (m_environment.beep)
        m_environment.beep();
    else
        QApplication::beep();
}

void CopyConfigurationViewController::beginCopy()
{
    if (m_ended || !m_current || !m_current->currentConfigurationAllowsCopyToStart())
        return;
    if (!m_sourcePhotos || !m_camera) {
        beep();
        return;
    }
    m_ended = true;
    for (const CopyDestinationOffer& offer : m_offers)
        if (offer.destination != m_current)
            offer.destination->copyDestinationInstanceWillNotBeUsed();
    PhotoCopyQueuePtr queue = PhotoCopyQueue::create(*m_sourcePhotos, m_current->copyQueueOptions());

    // The progress sheet takes this sheet's place: the same top edge and horizontal centre.
    auto* progress = new CopyProgressViewController(std::move(queue), m_camera, m_environment, m_window);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->adjustSize();
    const QRect frame = geometry();
    const QSize size = progress->size();
    progress->setGeometry(QRect(QPoint(frame.center().x() - size.width() / 2, frame.top()), size));
    QDialog::done(QDialog::Accepted);
    // The copy starts once the progress sheet shows.
    progress->open();
    emit progressSheetOpened(progress);
}

} // namespace vornakel
