#include "TestVariants.h"
#include "support/TestSupport.h"

#include "platform/core/KeyedArchive.h"
#include "platform/core/Strings.h"
#include "sorting/PhotoSortingToken.h"
#include "sorting/UserDefinedPhotoSorting.h"
#include "sorting/UserDefinedSortingStep.h"

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using test::makeVariant;
using test::utc;
using T = PhotoSortingToken;

QVariant token(T value) { return QVariant(tokenObject(value)); }

// English in UTC, and German in Tokyo (UTC+9), where the late-evening dates below fall on the next day.
const SortingContext& english() { static const SortingContext c(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc()); return c; }
const SortingContext& german() { static const SortingContext c(QLocale(QLocale::German, QLocale::Germany), QTimeZone("Asia/Tokyo")); return c; }

TEST(SortingTokenTest, EachTokenGivesItsPathForEachVariantInTwoLocalesAndTimeZones)
{
    const auto jpeg = makeVariant(QStringLiteral("IMG_0001.JPG"), utc(2018, 3, 7, 23, 30));
    const auto rawUndated = makeVariant(QStringLiteral("DSC_1234.NEF"));
    const auto noExtension = makeVariant(QStringLiteral("README"), utc(2018, 12, 31, 20, 0));
    const auto lowerJpeg = makeVariant(QStringLiteral("p1000042.jpeg"), utc(2009, 10, 4, 1, 0));
    ASSERT_TRUE(jpeg && rawUndated && noExtension && lowerJpeg);
    ASSERT_TRUE(QTimeZone("Asia/Tokyo").isValid());

    struct Case {
        const PhotoVariant* variant;
        T token;
        const char* english;
        const char* german;
    };
    const Case cases[] = {
        {jpeg.get(), T::originalFileName, "IMG_0001.JPG", "IMG_0001.JPG"},
        {jpeg.get(), T::originalDisplayName, "IMG_0001", "IMG_0001"},
        {jpeg.get(), T::originalFileExtension, "JPG", "JPG"},
        {jpeg.get(), T::originalFileFormatFamily, "JPEG", "JPEG"},
        {jpeg.get(), T::fourDigitYear, "2018", "2018"},
        {jpeg.get(), T::twoDigitYear, "18", "18"},
        {jpeg.get(), T::oneDigitMonth, "3", "3"},
        {jpeg.get(), T::twoDigitMonth, "03", "03"},
        {jpeg.get(), T::namedMonth, "March", "März"},
        {jpeg.get(), T::shortNamedMonth, "Mar", "März"},
        {jpeg.get(), T::oneDigitDay, "7", "8"},
        {jpeg.get(), T::twoDigitDay, "07", "08"},

        {rawUndated.get(), T::originalFileName, "DSC_1234.NEF", "DSC_1234.NEF"},
        {rawUndated.get(), T::originalDisplayName, "DSC_1234", "DSC_1234"},
        {rawUndated.get(), T::originalFileExtension, "NEF", "NEF"},
        {rawUndated.get(), T::originalFileFormatFamily, "RAW", "RAW"},
        {rawUndated.get(), T::fourDigitYear, "Unknown", "Unknown"},
        {rawUndated.get(), T::twoDigitYear, "Unknown", "Unknown"},
        {rawUndated.get(), T::oneDigitMonth, "Unknown", "Unknown"},
        {rawUndated.get(), T::twoDigitMonth, "Unknown", "Unknown"},
        {rawUndated.get(), T::namedMonth, "Unknown", "Unknown"},
        {rawUndated.get(), T::shortNamedMonth, "Unknown", "Unknown"},
        {rawUndated.get(), T::oneDigitDay, "Unknown", "Unknown"},
        {rawUndated.get(), T::twoDigitDay, "Unknown", "Unknown"},

        // New Year's Eve in UTC is already New Year's Day in Tokyo.
        {noExtension.get(), T::originalFileName, "README", "README"},
        {noExtension.get(), T::originalDisplayName, "README", "README"},
        {noExtension.get(), T::originalFileExtension, "Unknown", "Unknown"},
        {noExtension.get(), T::originalFileFormatFamily, "RAW", "RAW"},
        {noExtension.get(), T::fourDigitYear, "2018", "2019"},
        {noExtension.get(), T::twoDigitYear, "18", "19"},
        {noExtension.get(), T::oneDigitMonth, "12", "1"},
        {noExtension.get(), T::twoDigitMonth, "12", "01"},
        {noExtension.get(), T::namedMonth, "December", "Januar"},
        {noExtension.get(), T::shortNamedMonth, "Dec", "Jan."},
        {noExtension.get(), T::oneDigitDay, "31", "1"},
        {noExtension.get(), T::twoDigitDay, "31", "01"},

        {lowerJpeg.get(), T::originalFileExtension, "jpeg", "jpeg"},
        {lowerJpeg.get(), T::originalFileFormatFamily, "JPEG", "JPEG"},
        {lowerJpeg.get(), T::fourDigitYear, "2009", "2009"},
        {lowerJpeg.get(), T::twoDigitYear, "09", "09"},
        {lowerJpeg.get(), T::namedMonth, "October", "Oktober"},
        {lowerJpeg.get(), T::shortNamedMonth, "Oct", "Okt."},
        {lowerJpeg.get(), T::oneDigitDay, "4", "4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.variant->fileName().toStdString() << " token " << rawValue(c.token));
        // The token as a folder level above the camera's file name.
        const auto preset = UserDefinedPhotoSorting::create(
            QStringLiteral("P"), QStringLiteral("id"), UserDefinedSortingStep::create({token(T::originalFileName)}),
            {UserDefinedSortingStep::create({token(c.token)})});
        const QString file = QLatin1Char('/') + c.variant->fileName();
        EXPECT_EQ(preset->destinationFor(*c.variant, QStringLiteral("/B"), english()),
                  QStringLiteral("/B/") + QString::fromUtf8(c.english) + file);
        EXPECT_EQ(preset->destinationFor(*c.variant, QStringLiteral("/B"), german()),
                  QStringLiteral("/B/") + QString::fromUtf8(c.german) + file);
        EXPECT_EQ(sortingStep(c.token).name(*c.variant, german()), QString::fromUtf8(c.german));
    }
}

TEST(SortingTokenTest, DatesUseTheLocalesDigitsAndPadEarlyYears)
{
    const SortingContext arabic(QLocale(QLocale::Arabic, QLocale::Egypt), QTimeZone::utc());
    const auto modern = makeVariant(QStringLiteral("a.jpg"), utc(2018, 3, 7));
    const auto early = makeVariant(QStringLiteral("b.jpg"), utc(987, 6, 5));
    const auto pattern = UserDefinedSortingStep::create(
        {token(T::fourDigitYear), QStringLiteral("-"), token(T::twoDigitMonth), QStringLiteral("-"), token(T::twoDigitDay)});
    EXPECT_EQ(pattern->name(*modern, arabic), QString::fromUtf8("٢٠١٨-٠٣-٠٧"));
    EXPECT_EQ(pattern->name(*early, english()), QStringLiteral("0987-06-05"));
    EXPECT_EQ(UserDefinedSortingStep({token(T::twoDigitYear)}).name(*early, english()), QStringLiteral("87"));
}

TEST(SortingTokenTest, PatternsJoinLiteralsAndTokensAndNeverComeOutEmpty)
{
    const auto dated = makeVariant(QStringLiteral("IMG_0001.JPG"), utc(2018, 3, 7));
    const auto undated = makeVariant(QStringLiteral("IMG_0002.JPG"));
    const QVariant unknownInHundreds = QVariantMap{{QStringLiteral("value"), 102}};
    const QVariant notAToken = QVariantMap{{QStringLiteral("value"), 114}};
    struct Case {
        QVariantList pattern;
        const PhotoVariant* variant;
        QString expected;
    };
    const Case cases[] = {
        {{}, dated.get(), QStringLiteral("Unknown")},
        {{QString(), QString()}, dated.get(), QStringLiteral("Unknown")},
        {{token(T::twoDigitDay), QStringLiteral("."), token(T::twoDigitMonth)}, dated.get(), QStringLiteral("07.03")},
        {{token(T::oneDigitDay), QStringLiteral("."), token(T::oneDigitMonth)}, dated.get(), QStringLiteral("7.3")},
        {{token(T::fourDigitYear), QStringLiteral("-"), token(T::twoDigitMonth)}, undated.get(),
         QStringLiteral("Unknown-Unknown")},
        {{QStringLiteral("Trip "), token(T::fourDigitYear)}, dated.get(), QStringLiteral("Trip 2018")},
        {{unknownInHundreds, notAToken, QVariant(), QVariant(42)}, dated.get(), QStringLiteral("Unknown")},
        {{QStringLiteral("a"), unknownInHundreds, QStringLiteral("b")}, dated.get(), QStringLiteral("ab")},
        // Step texts are not cleaned here; the path builder makes them safe.
        {{QStringLiteral("a/b:c")}, dated.get(), QStringLiteral("a/b:c")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "expecting " << c.expected.toStdString());
        EXPECT_EQ(UserDefinedSortingStep(c.pattern).name(*c.variant, english()), c.expected);
    }
}

TEST(SortingTokenTest, RepresentedObjectsDecodeOnlyAsIntegerDictionariesWithAKnownValue)
{
    const QString value = QStringLiteral("value");
    struct Case {
        QVariant object;
        std::optional<T> expected;
    };
    const Case cases[] = {
        {QVariantMap{{value, qint64(111)}}, T::twoDigitMonth},
        {QVariantMap{{value, 0}}, T::originalFileName},
        {QVariantHash{{value, 121u}}, T::twoDigitDay},
        {QVariantMap{{value, 100.0}}, T::fourDigitYear}, // a number read back as a double is still the integer
        {QVariantMap{{value, 100.5}}, std::nullopt},
        {QVariantMap{{value, 102}}, std::nullopt},
        {QVariantMap{{value, 114}}, std::nullopt},
        {QVariantMap{{value, -1}}, std::nullopt},
        {QVariantMap{{value, QStringLiteral("111")}}, std::nullopt},
        {QVariantMap{{value, 111}, {QStringLiteral("other"), QStringLiteral("x")}}, std::nullopt},
        {QVariantMap{{QStringLiteral("other"), 111}}, std::nullopt},
        {QVariantMap{}, std::nullopt},
        {QVariant(), std::nullopt},
        {QVariant(111), std::nullopt},
        {QStringLiteral("value"), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.object.toString().toStdString() << " of " << c.object.typeName());
        EXPECT_EQ(photoSortingToken(c.object), c.expected);
    }
}

TEST(SortingTokenTest, TokensHaveTheirRawValuesTitlesAndDisplayStrings)
{
    const std::pair<T, int> raw[] = {{T::originalFileName, 0}, {T::originalDisplayName, 1},
                                     {T::originalFileExtension, 2}, {T::originalFileFormatFamily, 3},
                                     {T::fourDigitYear, 100}, {T::twoDigitYear, 101}, {T::oneDigitMonth, 110},
                                     {T::twoDigitMonth, 111}, {T::namedMonth, 112}, {T::shortNamedMonth, 113},
                                     {T::oneDigitDay, 120}, {T::twoDigitDay, 121}};
    QStringList titles;
    for (const auto& [value, number] : raw) {
        EXPECT_EQ(rawValue(value), number);
        EXPECT_EQ(photoSortingTokenFromRawValue(number), value);
        EXPECT_EQ(tokenObject(value), (QVariantMap{{QStringLiteral("value"), number}}));
        // Every title comes from the strings table, not the key echoed back.
        EXPECT_NE(title(value), titleKey(value)) << titleKey(value).toStdString();
        EXPECT_EQ(displayString(token(value)), title(value));
        titles << title(value);
    }
    titles.removeDuplicates();
    EXPECT_EQ(titles.size(), 12);
    EXPECT_EQ(titleKey(T::shortNamedMonth), QStringLiteral("ShortNamedMonthTokenTitle"));
    EXPECT_EQ(displayString(QStringLiteral("literal")), QStringLiteral("literal"));
    EXPECT_EQ(displayString(QVariantMap{{QStringLiteral("value"), 102}}), std::nullopt);
    EXPECT_EQ(displayString(QVariant(3)), std::nullopt);
}

TEST(SortingStepTest, CopiesShareNoStateWithTheirSource)
{
    const auto original = UserDefinedSortingStep::create({QStringLiteral("A"), token(T::twoDigitDay)});
    const auto copy = original->copy();
    ASSERT_NE(copy, original);
    EXPECT_EQ(copy->tokenFieldRepresentedObjects(), original->tokenFieldRepresentedObjects());
    copy->setTokenFieldRepresentedObjects({QStringLiteral("B")});
    const auto variant = makeVariant(QStringLiteral("x.jpg"), utc(2018, 3, 7));
    EXPECT_EQ(original->name(*variant, english()), QStringLiteral("A07"));
    EXPECT_EQ(copy->name(*variant, english()), QStringLiteral("B"));
}

TEST(SortingStepTest, ArchivedFormKeepsTheWholePatternAndFallsBackToEmpty)
{
    const QVariantList pattern{QStringLiteral("x"), token(T::namedMonth), QVariant(QByteArray("kept")), QVariantMap{{QStringLiteral("value"), 999}}};
    const ArchivedObjectPtr archived = UserDefinedSortingStep(pattern).encode();
    EXPECT_EQ(archived->className(), QStringLiteral("Vornakel_Transfer.UserDefinedSortingStep"));
    EXPECT_EQ(archived->fields.value(QStringLiteral("tokenObjects")).toList(), pattern);
    EXPECT_EQ(UserDefinedSortingStep::decode(*archived)->tokenFieldRepresentedObjects(), pattern);

    const auto undated = makeVariant(QStringLiteral("x.jpg"));
    for (const QVariantMap& fields : {QVariantMap{}, QVariantMap{{QStringLiteral("tokenObjects"), QStringLiteral("x")}}}) {
        ArchivedObject broken{{UserDefinedSortingStep::archiveClassName()}, fields};
        const auto decoded = UserDefinedSortingStep::decode(broken);
        EXPECT_TRUE(decoded->tokenFieldRepresentedObjects().isEmpty());
        EXPECT_EQ(decoded->name(*undated), QStringLiteral("Unknown"));
    }
}

TEST(SortingStepTest, PasteboardFormRoundTripsLiteralsAndTokens)
{
    const QVariantList elements{QStringLiteral("Trip "), token(T::fourDigitYear)};
    const auto data = tokenPasteboardData(elements);
    ASSERT_TRUE(data.hasValue()) << data.error().description().toStdString();
    const auto readBack = representedObjectsFromTokenPasteboardData(data.value());
    ASSERT_TRUE(readBack.has_value());
    ASSERT_EQ(readBack->size(), 2);
    EXPECT_EQ(readBack->at(0), QVariant(QStringLiteral("Trip ")));
    EXPECT_EQ(photoSortingToken(readBack->at(1)), T::fourDigitYear);
    EXPECT_EQ(tokenPasteboardType(), QStringLiteral("TokenType"));

    const auto notAnArray = KeyedArchive::archive(QVariant(QStringLiteral("text")));
    if (notAnArray) {
        EXPECT_EQ(representedObjectsFromTokenPasteboardData(*notAnArray), std::nullopt);
    }
    EXPECT_EQ(representedObjectsFromTokenPasteboardData("not an archive"), std::nullopt);
}

TEST(SortingStepTest, PasteboardReadKeepsOnlyLiteralsAndTokens)
{
    // What another program might put under the same type: an object of its own, a number, data, and maps that
    // are no tokens (an unknown raw value, a value given as text).
    auto foreign = std::make_shared<ArchivedObject>();
    foreign->classes = {QStringLiteral("OtherApp.Thing"), QStringLiteral("NSObject")};
    foreign->fields.insert(QStringLiteral("x"), QStringLiteral("y"));
    const QVariantList pasted{QStringLiteral("a"),
                              QVariant::fromValue(foreign),
                              QVariant(qint64(7)),
                              QVariant(QByteArray("raw")),
                              QVariant(QVariantMap{{QStringLiteral("value"), qint64(114)}}),
                              QVariant(QVariantMap{{QStringLiteral("value"), QStringLiteral("111")}}),
                              token(T::fourDigitYear),
                              QStringLiteral("b")};
    const auto data = KeyedArchive::archive(QVariant(pasted));
    ASSERT_TRUE(data.hasValue());

    const auto readBack = representedObjectsFromTokenPasteboardData(data.value());
    ASSERT_TRUE(readBack.has_value());
    const QVariantList expected{QStringLiteral("a"), token(T::fourDigitYear), QStringLiteral("b")};
    EXPECT_EQ(*readBack, expected);
}

} // namespace
} // namespace vornakel
