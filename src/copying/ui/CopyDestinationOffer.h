#pragma once

#include "copying/CopyDestination.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace vornakel {

// One destination as the copy configuration sheet offers it: the destination and the settings pane the sheet
// embeds while it is chosen.
struct CopyDestinationOffer {
    CopyDestinationPtr destination;
    std::function<std::unique_ptr<QWidget>(const CopyDestinationPtr& destination)> makePane;
};

// The destinations that exist on this computer, in the sheet's order: the folder, then the photo library, then
// the photo editor (each only where it exists). Asked for each time a configuration sheet opens.
using CopyDestinationOffers = std::function<std::vector<CopyDestinationOffer>()>;

} // namespace vornakel
