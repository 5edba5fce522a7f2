#include "TestVariants.h"
#include "support/TestSupport.h"

#include "platform/core/KeyedArchive.h"
#include "platform/core/UserDefaults.h"
#include "sorting/PhotoSortingModel.h"

#include "platform/core/PropertyList.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

using T = PhotoSortingToken;
using PresetPtr = PhotoSortingModel::PresetPtr;

const QString kKey = QStringLiteral("UserDefinedPresets");

// A store over its own settings file, reopened as the next launch would see it.
class PhotoSortingModelTest : public testing::Test {
protected:
    QString settingsPath() const { return m_dir.filePath(QStringLiteral("UserDefaults.plist")); }

    std::unique_ptr<UserDefaults> openDefaults() { return std::make_unique<UserDefaults>(settingsPath()); }
    std::unique_ptr<PhotoSortingModel> openModel(UserDefaults& defaults)
    {
        return std::make_unique<PhotoSortingModel>(defaults, [] { return test::utc(2026, 12, 9, 21, 30); });
    }
    // What the settings file holds, read without the store.
    QVariantMap stored() const
    {
        auto read = PropertyList::readFile(settingsPath());
        return read.hasValue() ? read.value().toMap() : QVariantMap();
    }
    // Writes a value as an earlier launch left it.
    void store(const QVariant& value)
    {
        auto defaults = openDefaults();
        defaults->setValue(kKey, value);
    }
    static QByteArray archived(const QVariant& root)
    {
        auto data = KeyedArchive::archive(root);
        EXPECT_TRUE(data.hasValue());
        return data.hasValue() ? data.value() : QByteArray();
    }

    QTemporaryDir m_dir;
};

TEST_F(PhotoSortingModelTest, FirstLaunchHasTheBuiltInPresetsAndWritesNothing)
{
    auto defaults = openDefaults();
    auto model = openModel(*defaults);
    ASSERT_EQ(model->builtIn().size(), 2u);
    EXPECT_EQ(model->builtIn()[0], UserDefinedPhotoSorting::byPaddedNumericDate());
    EXPECT_EQ(model->builtIn()[1], UserDefinedPhotoSorting::flat());
    EXPECT_TRUE(model->userDefined().empty());
    EXPECT_FALSE(defaults->hasStoredValue(kKey));
    EXPECT_EQ(PhotoSortingModel::userDefinedPresetsUserDefaultsKey(), kKey);
}

TEST_F(PhotoSortingModelTest, LooksPresetsUpByExactIdentifierBuiltInFirst)
{
    auto defaults = openDefaults();
    auto model = openModel(*defaults);
    const PresetPtr mine = model->createUserPreset(*UserDefinedPhotoSorting::flat());
    EXPECT_EQ(model->preset(UserDefinedPhotoSorting::flatIdentifier()), UserDefinedPhotoSorting::flat());
    EXPECT_EQ(model->preset(UserDefinedPhotoSorting::byPaddedNumericDateIdentifier()),
              UserDefinedPhotoSorting::byPaddedNumericDate());
    EXPECT_EQ(model->preset(mine->presetId()), mine);
    EXPECT_EQ(model->preset(QString()), nullptr);
    EXPECT_EQ(model->preset(QStringLiteral("unknown")), nullptr);
    EXPECT_EQ(model->preset(mine->presetId().toLower()), nullptr);
}

TEST_F(PhotoSortingModelTest, CreatingAndRemovingNotifyOnceAndStoreTheWholeList)
{
    auto defaults = openDefaults();
    auto model = openModel(*defaults);
    int changed = 0;
    QObject::connect(model.get(), &PhotoSortingModel::userDefinedChanged, [&] { ++changed; });

    const PresetPtr first = model->createUserPreset(*UserDefinedPhotoSorting::byPaddedNumericDate());
    const PresetPtr second = model->createUserPreset(*first);
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(model->userDefined(), (std::vector<PresetPtr>{first, second}));
    auto stored = PhotoSortingModel::decodePresets(defaults->dataForKey(kKey));
    ASSERT_TRUE(stored.hasValue());
    EXPECT_EQ(stored.value().size(), 2u);

    // A built-in preset, or a preset the store does not hold, is not removed and nothing is written.
    defaults->removeObject(kKey);
    model->removeUserPreset(UserDefinedPhotoSorting::flat());
    model->removeUserPreset(UserDefinedPhotoSorting::duplicateOf(*first));
    EXPECT_EQ(changed, 2);
    EXPECT_FALSE(defaults->hasStoredValue(kKey));

    model->removeUserPreset(first);
    model->removeUserPreset(second);
    EXPECT_EQ(changed, 4);
    EXPECT_TRUE(model->userDefined().empty());
    // Removing the last preset stores an empty list rather than removing the key.
    stored = PhotoSortingModel::decodePresets(defaults->dataForKey(kKey));
    ASSERT_TRUE(stored.hasValue());
    EXPECT_TRUE(stored.value().empty());
}

TEST_F(PhotoSortingModelTest, AStoreReopenedFromDiskHasEqualPresets)
{
    QString identifier;
    {
        auto defaults = openDefaults();
        auto model = openModel(*defaults);
        const PresetPtr preset = model->createUserPreset(*UserDefinedPhotoSorting::byPaddedNumericDate());
        preset->setName(QStringLiteral("Trips"));
        preset->addStep(preset->typedFolderSteps()[0])->setTokenFieldRepresentedObjects(
            {QStringLiteral("Trip "), QVariant(tokenObject(T::namedMonth))});
        preset->typedFileNameStep()->setTokenFieldRepresentedObjects(
            {QVariant(tokenObject(T::originalDisplayName)), QStringLiteral("."), QVariant(tokenObject(T::originalFileExtension))});
        model->createUserPreset(*UserDefinedPhotoSorting::flat());
        identifier = preset->presetId();
        model->applicationWillTerminate(); // the edits above reach the disk only with the quit commit
    }
    EXPECT_EQ(stored().value(kKey).typeId(), QMetaType::QByteArray);

    auto defaults = openDefaults();
    auto model = openModel(*defaults);
    ASSERT_EQ(model->userDefined().size(), 2u);
    const PresetPtr reopened = model->preset(identifier);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened, model->userDefined()[0]);
    EXPECT_EQ(reopened->name(), QStringLiteral("Trips"));
    const auto variant = test::makeVariant(QStringLiteral("IMG_0001.JPG"), test::utc(2018, 3, 7));
    const SortingContext context(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc());
    EXPECT_EQ(reopened->destinationFor(*variant, QStringLiteral("/B"), context),
              QStringLiteral("/B/2018/Trip March/03/07/IMG_0001.JPG"));
    EXPECT_EQ(model->userDefined()[1]->destinationFor(*variant, QStringLiteral("/B"), context),
              QStringLiteral("/B/IMG_0001.JPG"));
}

TEST_F(PhotoSortingModelTest, AnEmptyStoredListOrEmptyDataStartsEmptyWithNothingKeptAside)
{
    for (const QVariant& value : {QVariant(archived(QVariantList{})), QVariant(QByteArray())}) {
        QFile::remove(settingsPath());
        store(value);
        auto defaults = openDefaults();
        auto model = openModel(*defaults);
        EXPECT_TRUE(model->userDefined().empty());
        EXPECT_EQ(stored().keys(), QStringList{kKey});
    }
}

TEST_F(PhotoSortingModelTest, UnreadableStoredPresetsAreKeptAsideNotOverwritten)
{
    ArchivedObject foreign = *UserDefinedPhotoSorting::flat()->encode();
    foreign.classes = {QStringLiteral("Other_App.UserDefinedPhotoSorting"), QStringLiteral("NSObject")};
    const QVariant unreadable[] = {
        QByteArray("not an archive at all"),
        archived(QVariantList{QVariant::fromValue(std::make_shared<ArchivedObject>(foreign))}),
        archived(QVariant::fromValue(UserDefinedPhotoSorting::flat()->encode())), // one preset, not a list
        QStringLiteral("a string"),
    };
    for (const QVariant& value : unreadable) {
        SCOPED_TRACE(value.typeName());
        QFile::remove(settingsPath());
        store(value);
        {
            auto defaults = openDefaults();
            auto model = openModel(*defaults);
            EXPECT_TRUE(model->userDefined().empty());
            model->createUserPreset(*UserDefinedPhotoSorting::flat());
        }
        EXPECT_EQ(stored().value(QStringLiteral("UserDefinedPresets.unreadable-20261209T213000000Z")), value);
        auto defaults = openDefaults();
        auto model = openModel(*defaults);
        EXPECT_EQ(model->userDefined().size(), 1u);
    }
}

TEST_F(PhotoSortingModelTest, APresetStoredWithoutIdentifierKeepsOneAcrossLoads)
{
    ArchivedObject withoutId = *UserDefinedPhotoSorting::duplicateOf(*UserDefinedPhotoSorting::flat())->encode();
    withoutId.fields.remove(QStringLiteral("id"));
    const auto object = QVariant::fromValue(std::make_shared<ArchivedObject>(withoutId));
    store(archived(QVariantList{object, QVariant::fromValue(std::make_shared<ArchivedObject>(withoutId))}));

    QString first, second;
    {
        auto defaults = openDefaults();
        auto model = openModel(*defaults);
        ASSERT_EQ(model->userDefined().size(), 2u);
        first = model->userDefined()[0]->presetId();
        second = model->userDefined()[1]->presetId();
        EXPECT_NE(first, second);
    }
    {
        auto defaults = openDefaults();
        auto model = openModel(*defaults);
        EXPECT_EQ(model->userDefined()[0]->presetId(), first);
        EXPECT_EQ(model->commitUserDefinedPresets(false), std::nullopt); // from here on the identifier is stored
    }
    auto defaults = openDefaults();
    auto model = openModel(*defaults);
    EXPECT_EQ(model->preset(first), model->userDefined()[0]);
    EXPECT_EQ(model->preset(second), model->userDefined()[1]);
}

// Archives whose parts are referenced twice from each of up to 40 levels: decoding, checking the classes, deriving an
// identifier and storing the presets again must each visit a shared part once, not 2^40 times.
TEST_F(PhotoSortingModelTest, DeeplySharedArchivesDecodeAndStoreAgainAtOnce)
{
    for (const char* name : {"shared-arrays", "shared-dictionaries", "shared-objects"}) {
        SCOPED_TRACE(name);
        QFile file(QStringLiteral(VKL_PRESET_SEEDS_DIR "/%1.archive").arg(QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        auto decoded = PhotoSortingModel::decodePresets(file.readAll());
        ASSERT_TRUE(decoded.hasValue());
        const auto& presets = decoded.value();
        ASSERT_EQ(presets.size(), 1u);
        EXPECT_EQ(presets[0]->name(), QStringLiteral("Shared"));
        EXPECT_FALSE(presets[0]->presetId().isEmpty());

        auto encoded = PhotoSortingModel::encodePresets(presets);
        ASSERT_TRUE(encoded.hasValue());
        // Stored again, the archive stays as small as it came.
        EXPECT_LT(encoded.value().size(), 4 * file.size());
        auto again = PhotoSortingModel::decodePresets(encoded.value());
        ASSERT_TRUE(again.hasValue());
        EXPECT_EQ(again.value()[0]->presetId(), presets[0]->presetId());
    }
}

} // namespace
} // namespace vornakel
