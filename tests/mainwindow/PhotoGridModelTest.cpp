#include "PhotoFeed.h"

#include "mainwindow/grid/PhotoGridModel.h"
#include "mainwindow/grid/QuickSelectRanges.h"

#include <QUndoStack>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace vornakel {
namespace {

using test::at;
using test::namesOf;

GridCalendar fixedCalendar(QDateTime now, QTimeZone zone = QTimeZone::utc(), Qt::DayOfWeek firstDay = Qt::Monday)
{
    GridCalendar calendar;
    calendar.clock = [now] { return now; };
    calendar.timeZone = zone;
    calendar.firstDayOfWeek = firstDay;
    return calendar;
}

QStringList sectionDays(const PhotoGridModel& model)
{
    QStringList days;
    for (const PhotoGridModel::Section& section : model.sections())
        days << (section.day.isValid() ? section.day.toString(Qt::ISODate) : QStringLiteral("undated"));
    return days;
}

// A day with a burst (three shots in one second), shots around midnight, a RAW+JPEG pair whose files come in
// different chunks, and undated files: whatever order the chunks come in, the grid is the same.
TEST(PhotoGridModelTest, OrderIsTheSameWhateverOrderChunksArriveIn)
{
    const QStringList expectedDays{"2026-06-02", "2026-06-01", "2026-05-31", "undated"};
    const QStringList expectedOrder{
        "IMG_0030.JPG", "IMG_0031.JPG", "IMG_0020.CR2+IMG_0020.JPG", "IMG_0012.JPG", "IMG_0011.JPG", "IMG_0010.JPG",
        "IMG_0003.JPG", "IMG_0001.JPG", "IMG_0002.JPG", "MISC_B.JPG", "MISC_A.JPG"};
    std::mt19937 random(7);
    for (int round = 0; round < 6; ++round) {
        test::PhotoFeed feed;
        feed.add("IMG_0001.JPG", at(2026, 5, 31, 10, 0));
        feed.add("IMG_0002.JPG", at(2026, 5, 31, 9, 0));
        feed.add("IMG_0003.JPG", at(2026, 5, 31, 23, 59, 59));
        for (const char* burst : {"IMG_0010.JPG", "IMG_0011.JPG", "IMG_0012.JPG"})
            feed.add(burst, at(2026, 6, 1, 0, 0, 1));
        feed.add("IMG_0020.JPG", at(2026, 6, 1, 12, 0));
        feed.add("IMG_0020.CR2", at(2026, 6, 1, 12, 0));
        feed.add("IMG_0031.JPG", at(2026, 6, 2, 8, 0));
        feed.add("IMG_0030.JPG", at(2026, 6, 2, 8, 30));
        feed.add("MISC_A.JPG", std::nullopt);
        feed.add("MISC_B.JPG", std::nullopt);
        // Filler files in between, so the pair's halves come in different chunks.
        for (int i = 0; i < 12; ++i)
            feed.add(QStringLiteral("OLD_%1.JPG").arg(i, 2, 10, QLatin1Char('0')), at(2020, 1, 1, 12, i));
        std::vector<std::shared_ptr<InProcessFile>> order = feed.files();
        if (round > 0)
            std::shuffle(order.begin(), order.end(), random);
        PhotoGridModel model(fixedCalendar(at(2026, 6, 2, 12, 0)));
        feed.deliver([&](const PhotoGrouping::Update& update) { model.apply(update); }, order);

        QStringList days = sectionDays(model);
        ASSERT_EQ(days.size(), 5) << round;
        EXPECT_EQ(days.takeAt(3), "2020-01-01") << round;
        EXPECT_EQ(days, expectedDays) << round;
        QStringList names = namesOf(model.shownPhotos());
        names.erase(std::remove_if(names.begin(), names.end(), [](const QString& n) { return n.startsWith("OLD_"); }),
                    names.end());
        EXPECT_EQ(names, expectedOrder) << round;
        EXPECT_EQ(model.photoCount(), 23u) << round;
        // Every photo is found where it is shown.
        for (size_t s = 0; s < model.sections().size(); ++s)
            for (size_t i = 0; i < model.sections()[s].entries.size(); ++i) {
                const PhotoPtr photo = model.sections()[s].entries[i].photo;
                EXPECT_EQ(model.indexOf(*photo), (GridIndex{int(s), int(i)}));
                EXPECT_EQ(model.photoAt(GridIndex{int(s), int(i)}), photo);
            }
    }
}

TEST(PhotoGridModelTest, DaysFollowTheCalendarsTimeZone)
{
    test::PhotoFeed feed;
    // 22:30 UTC on 31 May is already 1 June in Berlin.
    feed.add("LATE.JPG", at(2026, 5, 31, 22, 30));
    feed.add("EARLY.JPG", at(2026, 5, 31, 21, 30));
    PhotoGridModel berlin(fixedCalendar(at(2026, 6, 1, 12, 0), QTimeZone("Europe/Berlin")));
    PhotoGridModel utc(fixedCalendar(at(2026, 6, 1, 12, 0)));
    feed.deliver([&](const PhotoGrouping::Update& update) {
        berlin.apply(update);
        utc.apply(update);
    });
    EXPECT_EQ(sectionDays(berlin), (QStringList{"2026-06-01", "2026-05-31"}));
    EXPECT_EQ(sectionDays(utc), (QStringList{"2026-05-31"}));
}

TEST(PhotoGridModelTest, UndatedPhotosAreShownLastAndCopiedWithEverythingElse)
{
    test::PhotoFeed feed;
    feed.add("UNDATED.JPG", std::nullopt);
    feed.add("DATED.JPG", at(2026, 1, 5, 9, 0));
    PhotoGridModel model(fixedCalendar(at(2026, 1, 5, 12, 0)));
    feed.deliver([&](const PhotoGrouping::Update& update) { model.apply(update); });
    EXPECT_EQ(sectionDays(model), (QStringList{"2026-01-05", "undated"}));
    EXPECT_EQ(namesOf(model.photosForCopying()), (QStringList{"DATED.JPG", "UNDATED.JPG"}));
    model.quickSelect(QuickSelection::all);
    EXPECT_EQ(model.selectedPhotos().size(), 2u);
    model.quickSelect(QuickSelection::today);
    EXPECT_EQ(namesOf(model.selectedPhotos()), (QStringList{"DATED.JPG"}));
}

// The selection survives newer photos arriving in front of it, and a selected JPEG whose RAW arrives later
// stays selected as the pair; undo steps that named the lone JPEG then restore the pair.
TEST(PhotoGridModelTest, SelectionIsKeptAcrossNewerChunksAndPairing)
{
    test::PhotoFeed feed;
    feed.add("IMG_0500.JPG", at(2026, 3, 1, 10, 0));
    feed.add("IMG_0501.JPG", at(2026, 3, 1, 10, 1));
    PhotoGridModel model(fixedCalendar(at(2026, 3, 20, 12, 0)));
    const auto apply = [&](const PhotoGrouping::Update& update) { model.apply(update); };
    feed.deliver(apply);
    const PhotoPtr jpeg = model.photoAt(GridIndex{0, 1});
    ASSERT_EQ(jpeg->primaryVariant()->fileName(), "IMG_0500.JPG");
    model.changeSelection({jpeg});

    std::vector<std::shared_ptr<InProcessFile>> newer;
    for (int i = 0; i < 100; ++i)
        newer.push_back(feed.add(QStringLiteral("IMG_%1.JPG").arg(600 + i), at(2026, 3, 2 + i / 10, 9, i)));
    feed.deliver(apply, newer);
    ASSERT_EQ(model.photoCount(), 102u);
    EXPECT_EQ(namesOf(model.selectedPhotos()), (QStringList{"IMG_0500.JPG"}));

    feed.deliver(apply, {feed.add("IMG_0500.CR2", at(2026, 3, 1, 10, 0))});
    EXPECT_EQ(namesOf(model.selectedPhotos()), (QStringList{"IMG_0500.CR2+IMG_0500.JPG"}));
    EXPECT_EQ(model.photoCount(), 102u);

    model.changeSelection({});
    model.undoStack()->undo();
    EXPECT_EQ(namesOf(model.selectedPhotos()), (QStringList{"IMG_0500.CR2+IMG_0500.JPG"}));
    model.undoStack()->undo(); // back to before the JPEG was selected
    EXPECT_TRUE(model.selectedPhotos().empty());
    model.undoStack()->redo();
    EXPECT_EQ(namesOf(model.selectedPhotos()), (QStringList{"IMG_0500.CR2+IMG_0500.JPG"}));
}

TEST(PhotoGridModelTest, UndoNamesFollowTheCountOfChangedPhotos)
{
    test::PhotoFeed feed;
    for (int i = 0; i < 5; ++i)
        feed.add(QStringLiteral("IMG_%1.JPG").arg(i), at(2026, 3, 1, 10, i));
    PhotoGridModel model(fixedCalendar(at(2026, 3, 1, 12, 0)));
    feed.deliver([&](const PhotoGrouping::Update& update) { model.apply(update); });
    const std::vector<PhotoPtr> all = model.shownPhotos();
    QUndoStack& undo = *model.undoStack();

    struct Step {
        std::vector<PhotoPtr> selection;
        QString name;
    };
    const std::vector<Step> steps = {
        {{all[0]}, "Select Photo"},
        {{all[0], all[1], all[2], all[3]}, "Select Photos"},
        {{all[0], all[1]}, "Deselect Photos"},
        {{all[0]}, "Deselect Photo"},
        {{all[4]}, "Select Photo"}, // a click on another photo: named after what it selected
    };
    for (const Step& step : steps) {
        model.changeSelection(step.selection);
        EXPECT_EQ(undo.undoText(), step.name);
    }
    model.quickSelect(QuickSelection::none);
    EXPECT_EQ(undo.undoText(), "Quick Select");
    EXPECT_EQ(undo.count(), int(steps.size()) + 1);
    // Re-selecting the same photos is no step at all.
    model.changeSelection({});
    EXPECT_EQ(undo.count(), int(steps.size()) + 1);

    for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        undo.undo();
        EXPECT_EQ(model.selectedPhotos(), step->selection);
    }
    undo.redo();
    undo.redo();
    EXPECT_EQ(model.selectedPhotos(), steps[2].selection);
}

TEST(PhotoGridModelTest, CopyingTakesTheSelectionNewestFirstWhateverTheOrderOfSelecting)
{
    test::PhotoFeed feed;
    feed.add("A.JPG", at(2026, 3, 1, 10, 0));
    feed.add("B.JPG", at(2026, 3, 2, 10, 0));
    feed.add("C.JPG", at(2026, 3, 3, 10, 0));
    PhotoGridModel model(fixedCalendar(at(2026, 3, 3, 12, 0)));
    feed.deliver([&](const PhotoGrouping::Update& update) { model.apply(update); });
    const std::vector<PhotoPtr> all = model.shownPhotos();
    EXPECT_EQ(namesOf(model.photosForCopying()), (QStringList{"C.JPG", "B.JPG", "A.JPG"}));
    model.changeSelection({all[2], all[0]});
    EXPECT_EQ(namesOf(model.photosForCopying()), (QStringList{"C.JPG", "A.JPG"}));
}

// ---- Quick selection ----------------------------------------------------------------------------------------

TEST(QuickSelectRangesTest, RangesAreCalendarDaysInTheCalendarsZone)
{
    struct Case {
        const char* title;
        QDateTime now;
        const char* zone;
        Qt::DayOfWeek firstDay;
        QuickSelection selection;
        QDate first;
        QDate last;
    };
    const QDateTime berlinSpringNight = at(2026, 3, 29, 22, 30); // 00:30 CEST on 30 March, after a 23-hour day
    const QDateTime berlinAutumnNight = at(2026, 10, 25, 23, 30); // 00:30 CET on 26 October, after a 25-hour day
    const std::vector<Case> cases = {
        {"yesterday after spring forward", berlinSpringNight, "Europe/Berlin", Qt::Monday, QuickSelection::yesterday,
         QDate(2026, 3, 29), QDate(2026, 3, 29)},
        {"today after spring forward", berlinSpringNight, "Europe/Berlin", Qt::Monday, QuickSelection::today,
         QDate(2026, 3, 30), QDate(2026, 3, 30)},
        {"week starting on the change day", berlinSpringNight, "Europe/Berlin", Qt::Monday, QuickSelection::thisWeek,
         QDate(2026, 3, 30), QDate(2026, 4, 5)},
        {"week with a Sunday start", berlinSpringNight, "Europe/Berlin", Qt::Sunday, QuickSelection::thisWeek,
         QDate(2026, 3, 29), QDate(2026, 4, 4)},
        {"yesterday after fall back", berlinAutumnNight, "Europe/Berlin", Qt::Monday, QuickSelection::yesterday,
         QDate(2026, 10, 25), QDate(2026, 10, 25)},
        {"week over fall back", berlinAutumnNight, "Europe/Berlin", Qt::Monday, QuickSelection::thisWeek,
         QDate(2026, 10, 26), QDate(2026, 11, 1)},
        {"same moment, still Sunday in New York", berlinSpringNight, "America/New_York", Qt::Sunday,
         QuickSelection::today, QDate(2026, 3, 29), QDate(2026, 3, 29)},
        {"today at midnight", at(2026, 7, 4, 0, 0), "UTC", Qt::Monday, QuickSelection::today, QDate(2026, 7, 4),
         QDate(2026, 7, 4)},
        {"leap February", at(2020, 2, 10, 12, 0), "UTC", Qt::Monday, QuickSelection::thisMonth, QDate(2020, 2, 1),
         QDate(2020, 2, 29)},
        {"year in Auckland already", at(2026, 12, 31, 12, 0), "Pacific/Auckland", Qt::Monday,
         QuickSelection::thisYear, QDate(2027, 1, 1), QDate(2027, 12, 31)},
        {"yesterday across a year", at(2027, 1, 1, 8, 0), "UTC", Qt::Monday, QuickSelection::yesterday,
         QDate(2026, 12, 31), QDate(2026, 12, 31)},
    };
    for (const Case& c : cases) {
        const GridCalendar calendar = fixedCalendar(c.now, QTimeZone(c.zone), c.firstDay);
        const std::optional<DayRange> range = quickSelectionRange(c.selection, calendar.today(), c.firstDay);
        ASSERT_TRUE(range) << c.title;
        EXPECT_EQ(range->first, c.first) << c.title;
        EXPECT_EQ(range->last, c.last) << c.title;
    }
    EXPECT_FALSE(quickSelectionRange(QuickSelection::all, QDate(2026, 1, 1), Qt::Monday));
    EXPECT_FALSE(quickSelectionRange(QuickSelection::none, QDate(2026, 1, 1), Qt::Monday));
}

// Photos of the day before a 23-hour day: "Yesterday" at 00:30 must pick 29 March, not 28 March.
TEST(QuickSelectRangesTest, GridSelectsYesterdaysSectionAcrossDaylightSaving)
{
    test::PhotoFeed feed;
    feed.add("SAT.JPG", at(2026, 3, 28, 12, 0));
    feed.add("SUN.JPG", at(2026, 3, 29, 12, 0));
    feed.add("MON.JPG", at(2026, 3, 29, 22, 15)); // 00:15 CEST on Monday
    PhotoGridModel model(fixedCalendar(at(2026, 3, 29, 22, 30), QTimeZone("Europe/Berlin")));
    feed.deliver([&](const PhotoGrouping::Update& update) { model.apply(update); });
    const std::pair<QuickSelection, QStringList> cases[] = {
        {QuickSelection::yesterday, {"SUN.JPG"}},
        {QuickSelection::today, {"MON.JPG"}},
        {QuickSelection::thisWeek, {"MON.JPG"}},
        {QuickSelection::thisMonth, {"MON.JPG", "SUN.JPG", "SAT.JPG"}},
        {QuickSelection::none, {}},
        {QuickSelection::all, {"MON.JPG", "SUN.JPG", "SAT.JPG"}},
    };
    for (const auto& [selection, names] : cases) {
        model.quickSelect(selection);
        EXPECT_EQ(namesOf(model.selectedPhotos()), names) << int(selection);
    }
}

} // namespace
} // namespace vornakel
