#pragma once

#include "mainwindow/PhotoBrowser.h"

#include <QDate>

#include <memory>
#include <unordered_map>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

namespace vornakel {

// The order photos are shown in: newest day first, newest first within a day, undated photos last; equal
// dates fall back to the name and then to the photo's identity, so that any two photos compare one way.
bool photoShowsBefore(const PhotoPtr& a, const PhotoPtr& b);

// A plain list of the camera's photos in one section per day: the stand-in browser until the thumbnail grid
// is embedded. It applies grouping updates in place (no rebuild), so a growing list stays cheap.
class DayListPhotoBrowser : public PhotoBrowser {
public:
    explicit DayListPhotoBrowser(QWidget* parent = nullptr);
    ~DayListPhotoBrowser() override;

    QWidget* widget() override;
    void setCamera(const std::shared_ptr<VKLCamera>& camera) override { m_camera = camera; }
    void applyGroupingUpdate(const PhotoGrouping::Update& update) override;
    std::vector<PhotoPtr> photosForCopying() const override;
    std::vector<PhotoPtr> shownPhotos() const override;
    QList<QAction*> browsingActions() const override { return {}; }

    // The section titles in order, each with its photos' names (for tests and screenshots).
    std::vector<std::pair<QString, std::vector<PhotoPtr>>> sections() const;

private:
    struct Day {
        std::optional<QDate> date;
        QTreeWidgetItem* item = nullptr;
        std::vector<PhotoPtr> photos; // in show order
    };
    static std::optional<QDate> dayOf(const PhotoPtr& photo);
    Day& dayFor(const std::optional<QDate>& date);
    void insert(const PhotoPtr& photo);
    void remove(const PhotoPtr& photo);
    void updateDayTitle(Day& day);

    QTreeWidget* m_list;
    std::weak_ptr<VKLCamera> m_camera;
    std::vector<std::unique_ptr<Day>> m_days; // newest first, the undated day last
    std::unordered_map<const Photo*, QTreeWidgetItem*> m_items;
};

} // namespace vornakel
