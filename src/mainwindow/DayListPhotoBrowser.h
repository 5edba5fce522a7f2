#pragma once

#include "mainwindow/PhotoBrowser.h"

#include <QDate>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

namespace vornakel {

// The order photos are shown in: newest day first, newest first within a day, undated photos last; equal
// dates fall back to the name and then to the photo's identity, so that any two photos compare one way.
bool photoShowsBefore(const PhotoPtr& a, const PhotoPtr& b);

// A plain list of the camera's photos in one section per day: the stand-in browser until the thumbnail grid
// is embedded. Updates go into its sections at once; the list on screen follows at once for the first one and
// then at most every 50 ms, since every change of a long list makes the view lay out all its rows again.
// Selection is kept by photo identity.
class DayListPhotoBrowser : public PhotoBrowser {
public:
    static constexpr std::chrono::milliseconds kRefreshInterval{50};

    explicit DayListPhotoBrowser(QWidget* parent = nullptr);
    ~DayListPhotoBrowser() override;

    QWidget* widget() override;
    void setCamera(const std::shared_ptr<VKLCamera>& camera) override { m_camera = camera; }
    void applyGroupingUpdate(const PhotoGrouping::Update& update) override;
    std::vector<PhotoPtr> photosForCopying() const override;
    std::vector<PhotoPtr> shownPhotos() const override;
    QList<QAction*> browsingActions() const override { return {}; }

    // The section titles in order, each with its photos.
    std::vector<std::pair<QString, std::vector<PhotoPtr>>> sections() const;
    // Brings the list on screen up to date now.
    void refresh();

private:
    struct Day {
        std::optional<QDate> date;
        QTreeWidgetItem* item = nullptr; // none until the list shows the day
        std::vector<PhotoPtr> photos;    // in show order
        bool changed = true;
    };
    static std::optional<QDate> dayOf(const PhotoPtr& photo);
    static QString titleOf(const Day& day);
    Day& dayFor(const std::optional<QDate>& date);
    void insert(const PhotoPtr& photo);
    void remove(const PhotoPtr& photo);
    void readSelection();

    // The list is the browser's until it is put into a window, which then owns it.
    QPointer<QTreeWidget> m_list;
    QMetaObject::Connection m_selectionConnection;
    std::weak_ptr<VKLCamera> m_camera;
    std::vector<std::unique_ptr<Day>> m_days; // newest first, the undated day last
    std::unordered_map<const Photo*, Day*> m_dayOfPhoto;
    std::unordered_set<const Photo*> m_selected;
    QTimer m_refreshTimer;
    bool m_refreshPending = false;
    bool m_refreshing = false;
};

} // namespace vornakel
