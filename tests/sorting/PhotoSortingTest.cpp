#include "TestVariants.h"
#include "support/TestSupport.h"

#include "platform/core/Strings.h"
#include "platform/core/SafePathComponent.h"
#include "sorting/UserDefinedPhotoSorting.h"

#include <QUuid>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vornakel {
namespace {

using test::makeVariant;
using test::utc;
using T = PhotoSortingToken;
using StepPtr = UserDefinedSortingStepPtr;

QVariant token(T value) { return QVariant(tokenObject(value)); }
StepPtr step(QVariantList pattern) { return UserDefinedSortingStep::create(std::move(pattern)); }
const SortingContext& utcEnglish() { static const SortingContext c(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc()); return c; }

TEST(PhotoSortingTest, BuiltInPresetsHaveTheirIdentifiersAndBuildTheirPaths)
{
    const auto& numeric = UserDefinedPhotoSorting::byPaddedNumericDate();
    const auto& flat = UserDefinedPhotoSorting::flat();
    EXPECT_EQ(numeric, UserDefinedPhotoSorting::byPaddedNumericDate()); // made once
    EXPECT_EQ(numeric->presetId(), QStringLiteral("com.vornakel.zediriri-zir.preset.padded-numeric-date"));
    EXPECT_EQ(flat->presetId(), QStringLiteral("com.vornakel.zediriri-zir.preset.flat"));
    EXPECT_EQ(numeric->name(), GeneralUI::text(QStringLiteral("PresetNumericByDateName")));
    EXPECT_EQ(flat->name(), GeneralUI::text(QStringLiteral("PresetFlatName")));
    EXPECT_NE(flat->name(), QStringLiteral("PresetFlatName"));

    const auto dated = makeVariant(QStringLiteral("IMG_0001.JPG"), utc(2018, 3, 7));
    const auto undated = makeVariant(QStringLiteral("DSC_0002.ARW"));
    struct Case {
        const UserDefinedPhotoSorting* preset;
        const PhotoVariant* variant;
        QString base;
        QString expected;
    };
    const Case cases[] = {
        {flat.get(), dated.get(), QStringLiteral("/B"), QStringLiteral("/B/IMG_0001.JPG")},
        {flat.get(), dated.get(), QStringLiteral("/B/"), QStringLiteral("/B/IMG_0001.JPG")},
        {flat.get(), dated.get(), QStringLiteral("/"), QStringLiteral("/IMG_0001.JPG")},
        {numeric.get(), dated.get(), QStringLiteral("/B"), QStringLiteral("/B/2018/03/07/IMG_0001.JPG")},
        {numeric.get(), undated.get(), QStringLiteral("/B"), QStringLiteral("/B/Unknown/Unknown/Unknown/DSC_0002.ARW")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        EXPECT_EQ(c.preset->destinationFor(*c.variant, c.base, utcEnglish()), c.expected);
    }
}

TEST(PhotoSortingTest, UserPresetsBuildOneLevelPerStep)
{
    const auto variant = makeVariant(QStringLiteral("IMG_0001.JPG"), utc(2018, 3, 7));
    const auto byMonth = UserDefinedPhotoSorting::create(
        QStringLiteral("Months"), QStringLiteral("id"), step({token(T::originalDisplayName)}),
        {step({token(T::fourDigitYear), QStringLiteral("-"), token(T::twoDigitMonth), QStringLiteral(" "), token(T::namedMonth)}),
         step({token(T::originalFileFormatFamily)})});
    EXPECT_EQ(byMonth->destinationFor(*variant, QStringLiteral("/B"), utcEnglish()),
              QStringLiteral("/B/2018-03 March/JPEG/IMG_0001")); // no extension is added
}

TEST(PhotoSortingTest, NoComponentLeavesTheBaseFolder)
{
    const auto dated = utc(2018, 3, 7);
    struct Case {
        QString cameraName;
        QVariantList folderPattern;
        QString expected;
    };
    const QString slash = QStringLiteral("\u2215");
    const Case cases[] = {
        {QStringLiteral("../../.bashrc"), {QStringLiteral("A")}, QStringLiteral("/B/A/..%1..%1.bashrc").arg(slash)},
        {QStringLiteral("/etc/passwd"), {QStringLiteral("A")}, QStringLiteral("/B/A/%1etc%1passwd").arg(slash)},
        {QStringLiteral(".."), {QStringLiteral("A")}, QStringLiteral("/B/A/_")},
        {QStringLiteral("."), {QStringLiteral("A")}, QStringLiteral("/B/A/_")},
        {QStringLiteral("x.jpg"), {QStringLiteral("..")}, QStringLiteral("/B/_/x.jpg")},
        {QStringLiteral("x.jpg"), {QStringLiteral("."), QStringLiteral(".")}, QStringLiteral("/B/_/x.jpg")},
        {QStringLiteral("x.jpg"), {token(T::fourDigitYear), QStringLiteral("/"), token(T::twoDigitMonth)},
         QStringLiteral("/B/2018") + slash + QStringLiteral("03/x.jpg")},
        {QStringLiteral("x.jpg"), {QStringLiteral("/abs")}, QStringLiteral("/B/%1abs/x.jpg").arg(slash)},
        {QStringLiteral("x.jpg"), {QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b")}, QStringLiteral("/B/a_b/x.jpg")},
        // The display-name token of "...JPG" is "..": it must not climb either.
        {QStringLiteral("...JPG"), {token(T::originalDisplayName)}, QStringLiteral("/B/_/...JPG")},
        // Ordinary names, odd ones included, stay as they are.
        {QStringLiteral("Ünïcödé ~$#:\\ x.JPG"), {QStringLiteral("...")}, QStringLiteral("/B/.../Ünïcödé ~$#:\\ x.JPG")},
        {QStringLiteral(".hidden"), {QStringLiteral(" .. ")}, QStringLiteral("/B/ .. /.hidden")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        const auto variant = makeVariant(c.cameraName, dated);
        ASSERT_TRUE(variant);
        const auto preset = UserDefinedPhotoSorting::create(QStringLiteral("P"), QStringLiteral("id"),
                                                            step({token(T::originalFileName)}), {step(c.folderPattern)});
        const QString destination = preset->destinationFor(*variant, QStringLiteral("/B"), utcEnglish());
        EXPECT_EQ(destination, c.expected);
        EXPECT_EQ(destination.count(QLatin1Char('/')), 3);
    }
    // An empty camera name, possible from a camera, must not name the folder itself.
    EXPECT_EQ(safePathComponent(QString()), QStringLiteral("_"));
}

TEST(PhotoSortingTest, DuplicatesAreIndependentCopiesWithNewIdentifiers)
{
    const auto source = UserDefinedPhotoSorting::byPaddedNumericDate();
    const auto first = UserDefinedPhotoSorting::duplicateOf(*source);
    const auto second = UserDefinedPhotoSorting::duplicateOf(*source);
    const QString expectedName = GeneralUI::format(QStringLiteral("NewUserDefinedSortingName"), {source->name()});
    EXPECT_EQ(first->name(), expectedName);
    EXPECT_EQ(second->name(), expectedName);
    EXPECT_TRUE(expectedName.contains(source->name()));
    EXPECT_NE(first->presetId(), second->presetId());
    EXPECT_NE(first->presetId(), source->presetId());
    EXPECT_FALSE(QUuid::fromString(first->presetId()).isNull());

    ASSERT_EQ(first->typedFolderSteps().size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NE(first->typedFolderSteps()[i], source->typedFolderSteps()[i]);
        EXPECT_EQ(first->typedFolderSteps()[i]->tokenFieldRepresentedObjects(),
                  source->typedFolderSteps()[i]->tokenFieldRepresentedObjects());
    }
    EXPECT_NE(first->typedFileNameStep(), source->typedFileNameStep());

    first->typedFolderSteps()[0]->setTokenFieldRepresentedObjects({QStringLiteral("Edited")});
    first->typedFileNameStep()->setTokenFieldRepresentedObjects({QStringLiteral("Edited")});
    const auto variant = makeVariant(QStringLiteral("IMG_0001.JPG"), utc(2018, 3, 7));
    EXPECT_EQ(source->destinationFor(*variant, QStringLiteral("/B"), utcEnglish()),
              QStringLiteral("/B/2018/03/07/IMG_0001.JPG"));
}

TEST(PhotoSortingTest, FolderStepsAreAddedAndRemovedByIdentity)
{
    const auto a = step({QStringLiteral("a")});
    const auto b = step({QStringLiteral("b")});
    const auto c = step({QStringLiteral("c")});
    const auto lookalike = step({QStringLiteral("a")}); // equal pattern, another object
    auto preset = [&] { return UserDefinedPhotoSorting::create(QStringLiteral("P"), QStringLiteral("id"), step({}), {a, b, c}); };

    struct Case {
        const char* what;
        StepPtr after;
        size_t newIndex;
    };
    for (const Case& k : {Case{"after first", a, 1}, Case{"after last", c, 3}, Case{"none", nullptr, 3},
                          Case{"of another preset", lookalike, 3}}) {
        SCOPED_TRACE(k.what);
        const auto p = preset();
        int changed = 0;
        QObject::connect(p.get(), &UserDefinedPhotoSorting::folderStepsChanged, [&] { ++changed; });
        const StepPtr added = p->addStep(k.after);
        ASSERT_EQ(p->typedFolderSteps().size(), 4u);
        EXPECT_EQ(p->typedFolderSteps()[k.newIndex], added);
        EXPECT_TRUE(added->tokenFieldRepresentedObjects().isEmpty());
        EXPECT_EQ(changed, 1);
    }

    const auto p = preset();
    p->remove(lookalike);
    EXPECT_EQ(p->typedFolderSteps(), (std::vector<StepPtr>{a, b, c}));
    p->remove(b);
    EXPECT_EQ(p->typedFolderSteps(), (std::vector<StepPtr>{a, c}));
    p->remove(a);
    p->remove(c);
    EXPECT_TRUE(p->typedFolderSteps().empty()); // no folders is valid: files go straight into the base

    const auto variant = makeVariant(QStringLiteral("IMG_0001.JPG"));
    EXPECT_EQ(p->destinationFor(*variant, QStringLiteral("/B")), QStringLiteral("/B/Unknown"));
}

TEST(PhotoSortingTest, ACopyCanNameFilesWhileThePresetIsEdited)
{
    const auto preset = UserDefinedPhotoSorting::duplicateOf(*UserDefinedPhotoSorting::byPaddedNumericDate());
    const auto variant = makeVariant(QStringLiteral("IMG_0001.JPG"), utc(2018, 3, 7));
    std::atomic<bool> editing{true};
    std::atomic<int> named{0}, malformed{0};
    std::thread copy([&] {
        while (editing.load() || named.load() == 0) {
            const QString path = preset->destinationFor(*variant, QStringLiteral("/B"), utcEnglish());
            if (!path.startsWith(QLatin1String("/B/")) || path.contains(QLatin1String("//")))
                ++malformed;
            ++named;
        }
    });
    for (int i = 0; i < 2000; ++i) {
        const auto steps = preset->typedFolderSteps();
        const auto added = preset->addStep(steps.empty() ? nullptr : steps.front());
        added->setTokenFieldRepresentedObjects({QStringLiteral("Level "), token(T::twoDigitDay)});
        preset->typedFileNameStep()->setTokenFieldRepresentedObjects(
            {i % 2 ? token(T::originalFileName) : token(T::originalDisplayName)});
        preset->remove(added);
    }
    editing = false;
    copy.join();
    EXPECT_GT(named.load(), 0);
    EXPECT_EQ(malformed.load(), 0);
    EXPECT_EQ(preset->typedFolderSteps().size(), 3u);
}

TEST(PhotoSortingTest, RenamingNotifiesOnlyOnChange)
{
    const auto p = UserDefinedPhotoSorting::duplicateOf(*UserDefinedPhotoSorting::flat());
    int renamed = 0;
    QObject::connect(p.get(), &UserDefinedPhotoSorting::nameChanged, [&] { ++renamed; });
    p->setName(QStringLiteral("Mine"));
    p->setName(QStringLiteral("Mine"));
    EXPECT_EQ(p->name(), QStringLiteral("Mine"));
    EXPECT_EQ(renamed, 1);
}

TEST(PhotoSortingArchiveTest, EncodesEveryKeyAndDecodesToAnEqualPreset)
{
    const auto original = UserDefinedPhotoSorting::create(
        QStringLiteral("Trips"), QStringLiteral("1D0B5A62-0000-4000-8000-000000000001"),
        step({token(T::originalDisplayName), QStringLiteral("_"), token(T::originalFileExtension)}),
        {step({token(T::fourDigitYear)}), step({QStringLiteral("Trip "), token(T::namedMonth)})});
    const ArchivedObjectPtr archived = original->encode();
    EXPECT_EQ(archived->classes, (QStringList{QStringLiteral("Vornakel_Transfer.UserDefinedPhotoSorting"),
                                              QStringLiteral("Vornakel_Transfer.PhotoSorting"),
                                              QStringLiteral("NSObject")}));
    EXPECT_EQ(archived->fields.value(QStringLiteral("name")), QVariant(QStringLiteral("Trips")));
    EXPECT_EQ(archived->fields.value(QStringLiteral("id")), QVariant(original->presetId()));
    EXPECT_EQ(archived->fields.value(QStringLiteral("folders")).toList().size(), 2);
    EXPECT_TRUE(archived->fields.value(QStringLiteral("fileName")).canConvert<ArchivedObjectPtr>());

    const auto decoded = UserDefinedPhotoSorting::decode(*archived);
    EXPECT_EQ(decoded->name(), original->name());
    EXPECT_EQ(decoded->presetId(), original->presetId());
    ASSERT_EQ(decoded->typedFolderSteps().size(), 2u);
    EXPECT_EQ(decoded->typedFolderSteps()[1]->tokenFieldRepresentedObjects(),
              original->typedFolderSteps()[1]->tokenFieldRepresentedObjects());
    EXPECT_EQ(decoded->typedFileNameStep()->tokenFieldRepresentedObjects(),
              original->typedFileNameStep()->tokenFieldRepresentedObjects());
}

TEST(PhotoSortingArchiveTest, EachKeyFallsBackOnItsOwn)
{
    const ArchivedObjectPtr complete = UserDefinedPhotoSorting::byPaddedNumericDate()->encode();
    const auto undated = makeVariant(QStringLiteral("IMG_0001.JPG"));
    struct Case {
        QString key;
        QVariant replacement; // invalid: the key is missing
    };
    const Case cases[] = {
        {QStringLiteral("name"), {}}, {QStringLiteral("name"), 5},
        {QStringLiteral("id"), {}}, {QStringLiteral("id"), QVariantList{}},
        {QStringLiteral("folders"), {}}, {QStringLiteral("folders"), QStringLiteral("x")},
        {QStringLiteral("folders"), QVariantList{QStringLiteral("not a step")}},
        {QStringLiteral("fileName"), {}}, {QStringLiteral("fileName"), QVariantList{}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.key.toStdString() << " as " << c.replacement.typeName());
        ArchivedObject archived = *complete;
        if (c.replacement.isValid())
            archived.fields.insert(c.key, c.replacement);
        else
            archived.fields.remove(c.key);
        const auto decoded = UserDefinedPhotoSorting::decode(archived);
        const bool isName = c.key == QLatin1String("name"), isId = c.key == QLatin1String("id");
        const bool isFolders = c.key == QLatin1String("folders"), isFile = c.key == QLatin1String("fileName");
        EXPECT_EQ(decoded->name(), isName ? QStringLiteral("Unknown") : complete->fields.value(QStringLiteral("name")).toString());
        if (isId)
            EXPECT_FALSE(QUuid::fromString(decoded->presetId()).isNull());
        else
            EXPECT_EQ(decoded->presetId(), UserDefinedPhotoSorting::byPaddedNumericDateIdentifier());
        EXPECT_EQ(decoded->typedFolderSteps().size(), isFolders ? 0u : 3u);
        EXPECT_EQ(decoded->destinationFor(*undated, QStringLiteral("/B")).section(QLatin1Char('/'), -1),
                  isFile ? QStringLiteral("Unknown") : QStringLiteral("IMG_0001.JPG"));
    }
}

TEST(PhotoSortingArchiveTest, AMissingIdentifierIsTheSameOnEveryDecoding)
{
    ArchivedObject first = *UserDefinedPhotoSorting::duplicateOf(*UserDefinedPhotoSorting::flat())->encode();
    first.fields.remove(QStringLiteral("id"));
    ArchivedObject renamed = first;
    renamed.fields.insert(QStringLiteral("name"), QStringLiteral("Other"));

    const QString id = UserDefinedPhotoSorting::decode(first, 0)->presetId();
    EXPECT_EQ(UserDefinedPhotoSorting::decode(first, 0)->presetId(), id);
    // Two presets stored without an identifier must still be told apart.
    EXPECT_NE(UserDefinedPhotoSorting::decode(first, 1)->presetId(), id);
    EXPECT_NE(UserDefinedPhotoSorting::decode(renamed, 0)->presetId(), id);
}

} // namespace
} // namespace vornakel
