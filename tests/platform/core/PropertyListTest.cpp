#include "platform/core/PropertyList.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <limits>

using namespace vornakel;

namespace {

QDateTime utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int msec = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, msec), QTimeZone::utc());
}

QVariant roundTrip(const QVariant& value)
{
    auto encoded = PropertyList::toBinary(value);
    if (!encoded) {
        ADD_FAILURE() << "encoding failed: " << encoded.error().description().toStdString();
        return {};
    }
    EXPECT_TRUE(encoded.value().startsWith("bplist00"));
    auto decoded = PropertyList::fromData(encoded.value());
    if (!decoded) {
        ADD_FAILURE() << "decoding failed: " << decoded.error().description().toStdString();
        return {};
    }
    return decoded.value();
}

std::optional<Error> decodingError(const QByteArray& data)
{
    return PropertyList::fromData(data).failure();
}

// Assembles a binary property list from raw object encodings, so a test can state exactly what is damaged.
struct BinaryPlist {
    QList<QByteArray> objects;
    quint64 top = 0;
    quint8 refSize = 1;

    QByteArray build() const
    {
        QByteArray data("bplist00");
        QList<quint64> offsets;
        for (const QByteArray& object : objects) {
            offsets.append(quint64(data.size()));
            data += object;
        }
        const quint64 tableOffset = quint64(data.size());
        for (quint64 offset : offsets)
            data += char(offset & 0xFF);
        QByteArray trailer(6, '\0');
        trailer += char(1);
        trailer += char(refSize);
        trailer += bigEndian(quint64(objects.size()));
        trailer += bigEndian(top);
        trailer += bigEndian(tableOffset);
        return data + trailer;
    }

    static QByteArray bigEndian(quint64 value)
    {
        QByteArray bytes(8, '\0');
        for (int i = 7; i >= 0; --i, value >>= 8)
            bytes[i] = char(value & 0xFF);
        return bytes;
    }
    static QByteArray ascii(const char* text) { return QByteArray(1, char(0x50 | qstrlen(text))) + text; }
    static QByteArray array(std::initializer_list<int> refs)
    {
        QByteArray object(1, char(0xA0 | int(refs.size())));
        for (int ref : refs)
            object += char(ref);
        return object;
    }
};

} // namespace

TEST(PropertyList, RoundTripsEveryKindOfValue)
{
    const QVariant cases[] = {
        QString(),
        QStringLiteral("IMG_0001.JPG"),
        QStringLiteral("Grüße, 東京, 📷"),
        qint64(0),
        qint64(42),
        qint64(-1),
        qint64(300000),
        std::numeric_limits<qint64>::min(),
        std::numeric_limits<qint64>::max(),
        1.5,
        -273.15,
        true,
        false,
        QByteArray(),
        QByteArray("\x00\x01\xff bytes", 9),
        utc(2018, 3, 7, 12, 34, 56, 789),
        utc(2001, 1, 1),
        utc(1999, 12, 31, 23, 59, 58, 500),
        QVariant::fromValue(PlistUid{7}),
        QVariantList(),
        QVariantMap(),
        QVariantList{QStringLiteral("a"), qint64(1), QVariantList{true, QVariantMap{{QStringLiteral("k"), 2.5}}}},
        QVariantMap{{QStringLiteral("LastSeen"), utc(2020, 2, 29)},
                    {QStringLiteral("nested"), QVariantMap{{QStringLiteral("ünïcode key"), QVariantList{qint64(-5)}}}}},
    };
    for (const QVariant& value : cases) {
        SCOPED_TRACE(value.toString().toStdString());
        const QVariant back = roundTrip(value);
        EXPECT_EQ(back.metaType(), value.metaType());
        EXPECT_EQ(back, value);
    }
}

TEST(PropertyList, DatesKeepEveryMillisecondThroughRepeatedRoundTrips)
{
    for (int msec = 0; msec < 1000; ++msec) {
        const QDateTime after = utc(2018, 3, 7, 12, 34, 56, msec);
        const QDateTime before = utc(1995, 8, 1, 6, 0, 0, msec);
        ASSERT_EQ(roundTrip(roundTrip(after)), QVariant(after)) << msec;
        ASSERT_EQ(roundTrip(roundTrip(before)), QVariant(before)) << msec;
    }
}

TEST(PropertyList, SmallerIntegerTypesComeBackAsQint64)
{
    EXPECT_EQ(roundTrip(int(-7)), QVariant(qint64(-7)));
    EXPECT_EQ(roundTrip(uint(4000000000u)), QVariant(qint64(4000000000LL)));
    EXPECT_EQ(roundTrip(QStringList{QStringLiteral("x")}), QVariant(QVariantList{QStringLiteral("x")}));
}

TEST(PropertyList, RefusesValuesItCannotStoreFaithfully)
{
    const QVariant cases[] = {
        QVariant(),
        QVariant(QPoint(1, 2)),
        QVariant(std::numeric_limits<quint64>::max()),
        QVariant(QStringLiteral("cut") + QChar(0) + QStringLiteral("short")),
        QVariant(QDateTime()),
        QVariant(utc(2100, 1, 1)),
        QVariant(QVariantList{QVariant(QPoint())}),
    };
    for (const QVariant& value : cases) {
        SCOPED_TRACE(value.typeName() ? value.typeName() : "invalid");
        auto encoded = PropertyList::toBinary(value);
        ASSERT_FALSE(encoded.hasValue());
        EXPECT_EQ(encoded.error(), Error(PropertyList::errorDomain(), PropertyList::UnsupportedValue));
    }
}

TEST(PropertyList, ReadsXmlPropertyLists)
{
    const QByteArray xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>LastSeen</key><date>2001-01-01T00:01:40Z</date>
	<key>count</key><integer>-12</integer>
	<key>ratio</key><real>0.25</real>
	<key>name</key><string>Fish &amp; Chips ü</string>
	<key>bytes</key><data>AAEC</data>
	<key>flags</key><array><true/><false/></array>
</dict>
</plist>
)";
    auto decoded = PropertyList::fromData(xml);
    ASSERT_TRUE(decoded.hasValue());
    const QVariantMap map = decoded.value().toMap();
    EXPECT_EQ(map.value(QStringLiteral("LastSeen")), QVariant(utc(2001, 1, 1, 0, 1, 40)));
    EXPECT_EQ(map.value(QStringLiteral("count")), QVariant(qint64(-12)));
    EXPECT_EQ(map.value(QStringLiteral("ratio")), QVariant(0.25));
    EXPECT_EQ(map.value(QStringLiteral("name")), QVariant(QStringLiteral("Fish & Chips ü")));
    EXPECT_EQ(map.value(QStringLiteral("bytes")), QVariant(QByteArray("\x00\x01\x02", 3)));
    EXPECT_EQ(map.value(QStringLiteral("flags")), QVariant(QVariantList{true, false}));
}

// plistutil is libplist's own tool; it shows what another reader of the format makes of our dates.
TEST(PropertyList, DatesCountFromTheFormatsReferenceDateAsOtherReadersSeeThem)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("plistutil"));
    if (tool.isEmpty())
        GTEST_SKIP() << "plistutil is not installed";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Metadata.plist"));
    ASSERT_FALSE(PropertyList::writeBinaryFile(QVariantMap{{QStringLiteral("LastSeen"), utc(2018, 3, 7, 12, 34, 56)},
                                                           {QStringLiteral("Early"), utc(1990, 6, 1)}},
                                               path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray binary = file.readAll();
    // The stored double is seconds since 2001-01-01: 2018-03-07T12:34:56Z is 542118896 seconds later.
    EXPECT_TRUE(binary.contains(QByteArray::fromHex("3341C02809F8000000"))) << binary.toHex().toStdString();

    QProcess process;
    process.start(tool, {QStringLiteral("-i"), path, QStringLiteral("-o"), QStringLiteral("-")});
    ASSERT_TRUE(process.waitForFinished(60000));
    const QByteArray xml = process.readAllStandardOutput();
    EXPECT_TRUE(xml.contains("<date>2018-03-07T12:34:56Z</date>")) << xml.toStdString();
    EXPECT_TRUE(xml.contains("<date>1990-06-01T00:00:00Z</date>")) << xml.toStdString();
}

TEST(PropertyList, RejectsDamagedOrForeignData)
{
    BinaryPlist valid;
    valid.objects = {BinaryPlist::array({1, 2}), BinaryPlist::ascii("a"), BinaryPlist::ascii("b")};
    ASSERT_EQ(PropertyList::fromData(valid.build()).value(),
              QVariant(QVariantList{QStringLiteral("a"), QStringLiteral("b")}));

    BinaryPlist selfContaining;
    selfContaining.objects = {BinaryPlist::array({0})};
    BinaryPlist danglingReference;
    danglingReference.objects = {BinaryPlist::array({5})};
    BinaryPlist numberKey;
    numberKey.objects = {QByteArray::fromHex("D10102"), QByteArray::fromHex("1001"), BinaryPlist::ascii("v")};
    BinaryPlist nulKey;
    nulKey.objects = {QByteArray::fromHex("D10102"), QByteArray::fromHex("610000"), BinaryPlist::ascii("v")};
    BinaryPlist hugeString;
    hugeString.objects = {QByteArray::fromHex("5F13") + BinaryPlist::bigEndian(quint64(1) << 62) + "abc"};
    BinaryPlist hugeArray;
    hugeArray.objects = {QByteArray::fromHex("AF13") + BinaryPlist::bigEndian(~quint64(0)) + QByteArray(4, '\0')};
    BinaryPlist topOutside = valid;
    topOutside.top = 9;
    // Every array holds the next one twice: 40 levels would expand to 2^40 copies.
    BinaryPlist expanding;
    for (int i = 0; i < 40; ++i)
        expanding.objects.append(BinaryPlist::array({i + 1, i + 1}));
    expanding.objects.append(BinaryPlist::ascii("leaf"));
    BinaryPlist deep;
    for (int i = 0; i < 200; ++i)
        deep.objects.append(BinaryPlist::array({i + 1}));
    deep.objects.append(BinaryPlist::ascii("bottom"));
    QByteArray hugeObjectCount = valid.build();
    hugeObjectCount.replace(hugeObjectCount.size() - 24, 8, BinaryPlist::bigEndian(quint64(1) << 60));
    QByteArray tableOutside = valid.build();
    tableOutside.replace(tableOutside.size() - 8, 8, BinaryPlist::bigEndian(~quint64(0) - 4));
    // libplist's own XML reader overflows the stack long before this depth.
    QByteArray deepXml = "<plist>" + QByteArray("<array>").repeated(200000) + QByteArray("</array>").repeated(200000) + "</plist>";
    QByteArray deepXmlAfterStrayClosings = "<plist>" + QByteArray("</dict>").repeated(200000) + QByteArray("<array>").repeated(200000)
        + QByteArray("</array>").repeated(200000) + "</plist>";

    const std::pair<const char*, QByteArray> cases[] = {
        {"empty", QByteArray()},
        {"garbage", QByteArray("\x89PNG\r\n\x1a\n not a plist at all")},
        {"json", QByteArray(R"({"LastSeen": 1})")},
        {"header only", QByteArray("bplist00")},
        {"other version", QByteArray("bplist15") + valid.build().mid(8)},
        {"self-containing array", selfContaining.build()},
        {"dangling reference", danglingReference.build()},
        {"number as dictionary key", numberKey.build()},
        {"dictionary key with a NUL character", nulKey.build()},
        {"string longer than the file", hugeString.build()},
        {"array longer than the file", hugeArray.build()},
        {"top object outside the table", topOutside.build()},
        {"exponential expansion", expanding.build()},
        {"deep binary nesting", deep.build()},
        {"huge object count", hugeObjectCount},
        {"offset table outside the file", tableOutside},
        {"deep xml nesting", deepXml},
        {"deep xml nesting after stray closing tags", deepXmlAfterStrayClosings},
        {"unclosed xml", QByteArray("<plist><dict><key>a</key><string>b</string>")},
    };
    for (const auto& [name, data] : cases) {
        SCOPED_TRACE(name);
        const auto error = decodingError(data);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(*error, Error(PropertyList::errorDomain(), PropertyList::CorruptData));
    }
}

TEST(PropertyList, EveryTruncationOfAValidFileIsRejectedWithoutHarm)
{
    auto encoded = PropertyList::toBinary(QVariantMap{{QStringLiteral("LastSeen"), utc(2024, 1, 2)},
                                                      {QStringLiteral("list"), QVariantList{qint64(1), QStringLiteral("ü")}}});
    const QByteArray data = encoded.value();
    for (qsizetype length = 0; length < data.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_TRUE(decodingError(data.left(length)).has_value());
    }
}

TEST(PropertyList, WritesFilesThroughATemporaryAndReadsThemBack)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Metadata.plist"));
    const QVariantMap first{{QStringLiteral("LastSeen"), utc(2019, 5, 1)}};
    const QVariantMap second{{QStringLiteral("LastSeen"), utc(2020, 6, 2)}};
    ASSERT_FALSE(PropertyList::writeBinaryFile(first, path));
    ASSERT_FALSE(PropertyList::writeBinaryFile(second, path));
    EXPECT_EQ(PropertyList::readFile(path).value(), QVariant(second));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Metadata.plist")});

    // A value that cannot be encoded leaves the existing file as it was.
    EXPECT_EQ(PropertyList::writeBinaryFile(QVariant(QPoint()), path)->code, PropertyList::UnsupportedValue);
    EXPECT_EQ(PropertyList::readFile(path).value(), QVariant(second));

    const auto missingFolder = PropertyList::writeBinaryFile(first, dir.filePath(QStringLiteral("missing/Metadata.plist")));
    ASSERT_TRUE(missingFolder.has_value());
    EXPECT_EQ(missingFolder->code, PropertyList::WriteFailed);
    auto missingFile = PropertyList::readFile(dir.filePath(QStringLiteral("none.plist")));
    ASSERT_FALSE(missingFile.hasValue());
    EXPECT_EQ(missingFile.error().code, PropertyList::CorruptData);
}
