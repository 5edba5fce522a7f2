#pragma once

#include "copying/ui/CopyDestinationOffer.h"
#include "copying/ui/CopySheetEnvironment.h"
#include "model/Photo.h"

#include <QDialog>
#include <QPointer>

#include <map>
#include <optional>

class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace vornakel {

class CopyDestinationStackViewItem;
class CopyProgressViewController;
class HelpAnchorButton;
class PointingLineView;
class VKLCamera;

// The first step of a copy: the destinations this computer offers as a list of large buttons, a line pointing
// from the chosen one to its settings pane, Help for the chosen destination, Cancel and Copy. The choice is
// remembered under "LastCopyDestinationIdentifier". Copy builds the queue from the chosen destination's options
// and hands the copy to a progress sheet that takes this sheet's place (same top edge and centre).
class CopyConfigurationViewController : public QDialog {
    Q_OBJECT
public:
    static QString chosenCopyDestinationUserDefaultsKey(); // "LastCopyDestinationIdentifier"
    // The strip the pointing line is drawn in; its notch is as deep as the strip is wide.
    static constexpr int kLineWidth = 14;

    // `window` is the main window the sheet and the progress sheet after it hang on.
    CopyConfigurationViewController(std::vector<CopyDestinationOffer> offers, CopySheetEnvironment environment,
                                    QWidget* window);
    ~CopyConfigurationViewController() override;

    void setSourcePhotos(std::vector<PhotoPtr> photos) { m_sourcePhotos = std::move(photos); }
    void setCamera(std::shared_ptr<VKLCamera> camera) { m_camera = std::move(camera); }
    const std::optional<std::vector<PhotoPtr>>& sourcePhotos() const { return m_sourcePhotos; }

    std::vector<CopyDestinationPtr> availableDestinations() const;
    const CopyDestinationPtr& currentDestination() const { return m_current; }
    // The chosen destination's settings pane.
    QWidget* currentPane() const;
    const std::vector<CopyDestinationStackViewItem*>& stackItems() const { return m_items; }
    PointingLineView* lineView() const { return m_lineView; }
    QPushButton* copyButton() const { return m_copyButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }
    HelpAnchorButton* helpButton() const { return m_helpButton; }

    void destinationButtonClicked(CopyDestinationStackViewItem* item);
    // Every destination is told it will not be used, and the sheet closes.
    void cancelCopy();
    // The others are told they will not be used; the chosen one goes on into the copy.
    void beginCopy();
    // Esc and a disconnect cancel.
    void reject() override;

signals:
    // Copy opened the progress sheet that carries the copy on.
    void progressSheetOpened(vornakel::CopyProgressViewController* sheet);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setCurrentDestination(const CopyDestinationPtr& destination);
    void updateCopyButton();
    CopyDestinationStackViewItem* itemFor(const CopyDestinationPtr& destination) const;
    void beep();

    std::vector<CopyDestinationOffer> m_offers;
    CopySheetEnvironment m_environment;
    QPointer<QWidget> m_window;
    std::optional<std::vector<PhotoPtr>> m_sourcePhotos;
    std::shared_ptr<VKLCamera> m_camera;
    CopyDestinationPtr m_current;
    QMetaObject::Connection m_allowsCopyConnection;
    std::map<const CopyDestination*, QWidget*> m_panes; // made on first choice, kept while the sheet lives
    std::vector<CopyDestinationStackViewItem*> m_items;
    QVBoxLayout* m_stackLayout;
    PointingLineView* m_lineView;
    QWidget* m_panel;
    QStackedWidget* m_paneContainer;
    HelpAnchorButton* m_helpButton;
    QPushButton* m_cancelButton;
    QPushButton* m_copyButton;
    bool m_ended = false;
};

} // namespace vornakel
