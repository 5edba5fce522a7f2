#pragma once

#include "model/CameraFileScanning.h"

#include <QList>

#include <memory>
#include <vector>

class QAction;
class QWidget;

namespace vornakel {

class VKLCamera;

// What the connected-camera view needs of the photo grid it embeds. The view feeds every metadata chunk through
// one PhotoGrouping for the whole load and hands each update over as it comes; the browser applies it in place.
class PhotoBrowser {
public:
    virtual ~PhotoBrowser() = default;

    // The widget to embed; owned by the browser's Qt parent once embedded. It draws from the browser, so a
    // browser destroyed first deletes it too.
    virtual QWidget* widget() = 0;
    // The camera whose previews and thumbnails the browser shows (none once it is gone).
    virtual void setCamera(const std::shared_ptr<VKLCamera>& camera) = 0;
    // Inserts `update.added` and drops `update.removed`; a selected photo replaced by its RAW+JPEG pair stays
    // selected as the pair.
    virtual void applyGroupingUpdate(const PhotoGrouping::Update& update) = 0;
    // The selection newest first, or every photo in grid order when nothing is selected.
    virtual std::vector<PhotoPtr> photosForCopying() const = 0;
    // Every photo shown, in grid order.
    virtual std::vector<PhotoPtr> shownPhotos() const = 0;
    // The Select menu's quick selections and Preview, for the window's menus and toolbar.
    virtual QList<QAction*> browsingActions() const = 0;
};

} // namespace vornakel
