// The Olympus image list as a camera, or something posing as one, may send it.
#include "platform/camera/olympus/OlympusImageList.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace vornakel::olympus {
namespace {

const QString kFolder = QStringLiteral("/DCIM/100OLYMP");

QStringList names(const ImageList& list)
{
    QStringList result;
    for (const auto& entry : list.entries)
        result << entry.name;
    return result;
}

TEST(OlympusImageList, ReadsFoldersFilesSizesAndFatDates)
{
    const QByteArray body = "VER_100\r\n"
                            "/DCIM/100OLYMP,P1010001.JPG,5242880,0,19027,31281\r\n"
                            "/DCIM/100OLYMP,P1010001.ORF,15728640,32,19027,31281\r\n"
                            "/DCIM/100OLYMP,SUB,0,16,19027,0\n";
    const auto parsed = parseImageList(body, kFolder);
    ASSERT_TRUE(std::holds_alternative<ImageList>(parsed));
    const auto& list = std::get<ImageList>(parsed);
    ASSERT_EQ(list.entries.size(), 3u);
    EXPECT_EQ(list.skipped, 0);
    EXPECT_EQ(list.entries[0].size, 5242880u);
    EXPECT_FALSE(list.entries[0].isFolder());
    EXPECT_EQ(list.entries[1].size, 15728640u) << "the archive bit is no folder";
    EXPECT_TRUE(list.entries[2].isFolder());
    // 19027: 2017-02-19; 31281: 15:17:34.
    ASSERT_TRUE(list.entries[0].date);
    EXPECT_EQ(*list.entries[0].date, QDateTime(QDate(2017, 2, 19), QTime(15, 17, 34), Qt::LocalTime));
}

TEST(OlympusImageList, HostileLinesAreLeftOutAndHostileBodiesFail)
{
    struct Case {
        const char* what;
        QByteArray body;
        QStringList kept; // empty with `fails`
        bool fails = false;
    };
    const QByteArray header = "VER_100\r\n";
    const QByteArray good = "/DCIM/100OLYMP,GOOD.JPG,10,0,19027,31281\r\n";
    const Case cases[] = {
        {"a name leading out of the folder", header + "/DCIM/100OLYMP,../../etc/passwd,10,0,1,1\r\n" + good, {"GOOD.JPG"}},
        {"a name that is ..", header + "/DCIM/100OLYMP,..,0,16,1,1\r\n" + good, {"GOOD.JPG"}},
        {"a name with a slash", header + "/DCIM/100OLYMP,A/B.JPG,10,0,1,1\r\n" + good, {"GOOD.JPG"}},
        {"a name with a control character", header + "/DCIM/100OLYMP,A\x01" "B.JPG,10,0,1,1\r\n" + good, {"GOOD.JPG"}},
        {"a name that is not UTF-8", header + "/DCIM/100OLYMP,A\xff.JPG,10,0,1,1\r\n" + good, {"GOOD.JPG"}},
        {"an empty name", header + "/DCIM/100OLYMP,,10,0,1,1\r\n" + good, {"GOOD.JPG"}},
        {"another folder than the one asked for", header + "/DCIM/999XXXXX,X.JPG,10,0,1,1\r\n" + good, {"GOOD.JPG"}},
        {"a size that is no number", header + "/DCIM/100OLYMP,X.JPG,-10,0,1,1\r\n" + good, {"GOOD.JPG"}},
        {"a size of two terabytes", header + "/DCIM/100OLYMP,X.JPG,2199023255552,0,1,1\r\n" + good, {"GOOD.JPG"}},
        {"a size past 64 bits", header + "/DCIM/100OLYMP,X.JPG,99999999999999999999999,0,1,1\r\n" + good, {"GOOD.JPG"}},
        {"too few fields", header + "/DCIM/100OLYMP,X.JPG,10\r\n" + good, {"GOOD.JPG"}},
        {"a comma too many", header + "/DCIM/100OLYMP,X,Y.JPG,10,0,1,1\r\n" + good, {"GOOD.JPG"}},
        {"a volume label", header + "/DCIM/100OLYMP,LABEL,0,8,1,1\r\n" + good, {"GOOD.JPG"}},
        {"a name twice", header + good + good, {"GOOD.JPG"}},
        {"a line of 100 KB", header + "/DCIM/100OLYMP," + QByteArray(100000, 'A') + ",10,0,1,1\r\n" + good, {"GOOD.JPG"}},
        {"markup in a name stays text", header + "/DCIM/100OLYMP,<b>X.JPG,10,0,1,1\r\n", {"<b>X.JPG"}},
        {"no header", good, {}, true},
        {"an HTML error page", "<html><body>busy</body></html>", {}, true},
        {"100 MB without an end", header + QByteArray(100 * 1024 * 1024, 'x'), {}, true},
        {"more lines than any DCF folder holds", header + good.repeated(30000), {}, true},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        const auto parsed = parseImageList(each.body, kFolder);
        if (each.fails) {
            ASSERT_TRUE(std::holds_alternative<QString>(parsed));
            EXPECT_FALSE(std::get<QString>(parsed).isEmpty());
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<ImageList>(parsed)) << std::get<QString>(parsed).toStdString();
        EXPECT_EQ(names(std::get<ImageList>(parsed)), each.kept);
    }
}

TEST(OlympusImageList, DatesThatAreNoTimeAreNone)
{
    struct Case {
        uint64_t date;
        uint64_t time;
        bool valid;
    };
    const Case cases[] = {
        {19027, 31281, true},
        {0, 0, false},                // month 0
        {(37 << 9) | (13 << 5) | 1, 0, false}, // month 13
        {(37 << 9) | (2 << 5) | 30, 0, false}, // 30 February
        {19027, (24 << 11), false},   // hour 24
        {19027, (10 << 11) | (60 << 5), false},
        {19027, 30, false},           // 60 seconds
        {70000, 0, false},            // wider than the field
    };
    for (const Case& each : cases)
        EXPECT_EQ(dateFromFat(each.date, each.time).has_value(), each.valid) << each.date << " " << each.time;
}

} // namespace
} // namespace vornakel::olympus
