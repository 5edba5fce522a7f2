#include "platform/core/KeyedArchive.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vornakel;

namespace {

const QString kPresetClass = QStringLiteral("Vornakel_Transfer.UserDefinedPhotoSorting");
const QString kStepClass = QStringLiteral("Vornakel_Transfer.UserDefinedSortingStep");

ArchivedObjectPtr step(const QVariantList& tokens)
{
    auto object = std::make_shared<ArchivedObject>();
    object->classes = {kStepClass, QStringLiteral("NSObject")};
    object->fields.insert(QStringLiteral("tokenObjects"), tokens);
    return object;
}

QVariant token(qint64 raw) { return QVariantMap{{QStringLiteral("value"), raw}}; }

ArchivedObjectPtr preset(const QString& name, const QVariantList& folders, const ArchivedObjectPtr& fileName)
{
    auto object = std::make_shared<ArchivedObject>();
    object->classes = {kPresetClass, QStringLiteral("NSObject")};
    object->fields.insert(QStringLiteral("name"), name);
    object->fields.insert(QStringLiteral("id"), QStringLiteral("com.vornakel.zediriri-zir.preset.") + name);
    object->fields.insert(QStringLiteral("folders"), folders);
    object->fields.insert(QStringLiteral("fileName"), QVariant::fromValue(fileName));
    return object;
}

QVariant asVariant(const ArchivedObjectPtr& object) { return QVariant::fromValue(object); }

// Compares value trees, looking inside archived objects rather than at their addresses.
::testing::AssertionResult sameTree(const QVariant& expected, const QVariant& actual, const QString& path = QStringLiteral("root"))
{
    const auto objectType = QMetaType::fromType<ArchivedObjectPtr>();
    if (expected.metaType() == objectType || actual.metaType() == objectType) {
        if (expected.metaType() != actual.metaType())
            return ::testing::AssertionFailure() << path.toStdString() << ": object expected on one side only";
        const auto a = expected.value<ArchivedObjectPtr>();
        const auto b = actual.value<ArchivedObjectPtr>();
        if (!a || !b || a->classes != b->classes || a->fields.keys() != b->fields.keys())
            return ::testing::AssertionFailure() << path.toStdString() << ": objects differ in class or keys";
        for (const QString& key : a->fields.keys()) {
            if (auto result = sameTree(a->fields.value(key), b->fields.value(key), path + QLatin1Char('.') + key); !result)
                return result;
        }
        return ::testing::AssertionSuccess();
    }
    if (expected.typeId() == QMetaType::QVariantList && actual.typeId() == QMetaType::QVariantList) {
        const QVariantList a = expected.toList();
        const QVariantList b = actual.toList();
        if (a.size() != b.size())
            return ::testing::AssertionFailure() << path.toStdString() << ": list sizes differ";
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (auto result = sameTree(a[i], b[i], path + QStringLiteral("[%1]").arg(i)); !result)
                return result;
        }
        return ::testing::AssertionSuccess();
    }
    if (expected.metaType() != actual.metaType() || expected != actual)
        return ::testing::AssertionFailure() << path.toStdString() << ": expected " << expected.toString().toStdString()
                                             << " (" << (expected.typeName() ? expected.typeName() : "invalid") << "), got "
                                             << actual.toString().toStdString() << " ("
                                             << (actual.typeName() ? actual.typeName() : "invalid") << ")";
    return ::testing::AssertionSuccess();
}

// The value of a result that is expected to succeed; an error fails the test and gives an empty value.
template <typename T>
T valueOrFailure(Result<T> result)
{
    if (!result) {
        ADD_FAILURE() << result.error().description().toStdString();
        return {};
    }
    return std::move(result).value();
}

QVariant unarchived(const QByteArray& data) { return valueOrFailure(KeyedArchive::unarchive(data)); }

QByteArray archived(const QVariant& root) { return valueOrFailure(KeyedArchive::archive(root)); }

QVariant uid(quint64 value) { return QVariant::fromValue(PlistUid{value}); }

QVariantMap classDescription(const QStringList& classes)
{
    return {{QStringLiteral("$classname"), classes.first()}, {QStringLiteral("$classes"), QVariant(classes).toList()}};
}

QByteArray archiveOf(const QVariantList& objects, const QVariant& top = QVariantMap{{QStringLiteral("root"), uid(1)}})
{
    QVariantMap archive{{QStringLiteral("$archiver"), QStringLiteral("NSKeyedArchiver")},
                        {QStringLiteral("$version"), qint64(100000)},
                        {QStringLiteral("$objects"), objects}};
    if (top.isValid())
        archive.insert(QStringLiteral("$top"), top);
    return PropertyList::toBinary(archive).value();
}

} // namespace

TEST(KeyedArchive, PresetsRoundTripWithNestedArraysDictionariesAndObjects)
{
    auto dated = preset(QStringLiteral("By date"),
                        {asVariant(step({token(100)})), asVariant(step({token(111), QStringLiteral("-"), token(121)}))},
                        step({QStringLiteral("Shot "), token(0)}));
    dated->fields.insert(QStringLiteral("version"), qint64(3));
    dated->fields.insert(QStringLiteral("enabled"), true);
    dated->fields.insert(QStringLiteral("weight"), 0.75);
    dated->fields.insert(QStringLiteral("thumbnail"), QByteArray("\x00\xff", 2));
    dated->fields.insert(QStringLiteral("missing"), QVariant());
    dated->fields.insert(QStringLiteral("literal"), QStringLiteral("$null"));
    dated->fields.insert(QStringLiteral("extras"),
                         QVariantMap{{QStringLiteral("ünïcode"), QVariantList{qint64(-1), 2.5, false, QVariant()}}});
    auto flat = preset(QStringLiteral("Flat"), {}, step({token(0)}));
    const QVariant root = QVariantList{asVariant(dated), asVariant(flat)};

    EXPECT_TRUE(sameTree(root, unarchived(archived(root))));
    EXPECT_TRUE(sameTree(QVariant(QStringLiteral("just text")), unarchived(archived(QStringLiteral("just text")))));
    EXPECT_TRUE(sameTree(QVariant(), unarchived(archived(QVariant()))));
}

TEST(KeyedArchive, SharedObjectsAreStoredOnceAndDecodeToOneObject)
{
    auto shared = step({token(101)});
    const QVariant root = QVariantList{asVariant(preset(QStringLiteral("A"), {asVariant(shared)}, shared)),
                                       asVariant(preset(QStringLiteral("B"), {}, shared))};
    const QByteArray data = archived(root);

    const QVariantList objects = PropertyList::fromData(data).value().toMap().value(QStringLiteral("$objects")).toList();
    const auto stepCount = std::count_if(objects.begin(), objects.end(), [](const QVariant& object) {
        return object.toMap().contains(QStringLiteral("tokenObjects"));
    });
    EXPECT_EQ(stepCount, 1);

    const QVariantList presets = unarchived(data).toList();
    ASSERT_EQ(presets.size(), 2);
    const auto a = presets[0].value<ArchivedObjectPtr>();
    const auto b = presets[1].value<ArchivedObjectPtr>();
    ASSERT_TRUE(a && b);
    const auto aFileName = a->fields.value(QStringLiteral("fileName")).value<ArchivedObjectPtr>();
    EXPECT_EQ(aFileName, a->fields.value(QStringLiteral("folders")).toList().value(0).value<ArchivedObjectPtr>());
    EXPECT_EQ(aFileName, b->fields.value(QStringLiteral("fileName")).value<ArchivedObjectPtr>());
}

TEST(KeyedArchive, WritesTheStandardLayout)
{
    const QVariant root = QVariantList{asVariant(preset(QStringLiteral("Flat"), {}, step({token(0)})))};
    const QByteArray data = archived(root);
    const QVariantMap archive = PropertyList::fromData(data).value().toMap();
    EXPECT_EQ(archive.value(QStringLiteral("$archiver")), QVariant(QStringLiteral("NSKeyedArchiver")));
    EXPECT_EQ(archive.value(QStringLiteral("$version")), QVariant(qint64(100000)));
    const QVariantList objects = archive.value(QStringLiteral("$objects")).toList();
    ASSERT_FALSE(objects.isEmpty());
    EXPECT_EQ(objects[0], QVariant(QStringLiteral("$null")));

    const PlistUid rootUid = archive.value(QStringLiteral("$top")).toMap().value(QStringLiteral("root")).value<PlistUid>();
    ASSERT_LT(rootUid.value, quint64(objects.size()));
    const QVariantMap rootArray = objects[qsizetype(rootUid.value)].toMap();
    const auto classOf = [&](const QVariantMap& object) {
        return objects.value(qsizetype(object.value(QStringLiteral("$class")).value<PlistUid>().value)).toMap();
    };
    EXPECT_EQ(classOf(rootArray), classDescription({QStringLiteral("NSArray"), QStringLiteral("NSObject")}));
    const QVariantMap presetObject =
        objects.value(qsizetype(rootArray.value(QStringLiteral("NS.objects")).toList().value(0).value<PlistUid>().value)).toMap();
    EXPECT_EQ(classOf(presetObject), classDescription({kPresetClass, QStringLiteral("NSObject")}));
    EXPECT_EQ(objects.value(qsizetype(presetObject.value(QStringLiteral("name")).value<PlistUid>().value)),
              QVariant(QStringLiteral("Flat")));

    // One class description per class, however many objects use it.
    const auto descriptions = std::count_if(objects.begin(), objects.end(), [](const QVariant& object) {
        return object.toMap().value(QStringLiteral("$classname")) == QVariant(QStringLiteral("NSArray"));
    });
    EXPECT_EQ(descriptions, 1);

    // The token {"value": 0} is an NSDictionary whose number is a plain integer among the objects.
    const auto tokenDictionary = std::find_if(objects.begin(), objects.end(), [](const QVariant& object) {
        return object.toMap().contains(QStringLiteral("NS.keys"));
    });
    ASSERT_NE(tokenDictionary, objects.end());
    EXPECT_EQ(classOf(tokenDictionary->toMap()), classDescription({QStringLiteral("NSDictionary"), QStringLiteral("NSObject")}));
    const QVariantMap dictionary = tokenDictionary->toMap();
    EXPECT_EQ(objects.value(qsizetype(dictionary.value(QStringLiteral("NS.keys")).toList().value(0).value<PlistUid>().value)),
              QVariant(QStringLiteral("value")));
    EXPECT_EQ(objects.value(qsizetype(dictionary.value(QStringLiteral("NS.objects")).toList().value(0).value<PlistUid>().value)),
              QVariant(qint64(0)));

    const QString tool = QStandardPaths::findExecutable(QStringLiteral("plistutil"));
    if (tool.isEmpty())
        return;
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("presets.archive")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();
    QProcess process;
    process.start(tool, {QStringLiteral("-i"), file.fileName(), QStringLiteral("-o"), QStringLiteral("-")});
    ASSERT_TRUE(process.waitForFinished(60000));
    const QByteArray xml = process.readAllStandardOutput();
    EXPECT_TRUE(xml.contains("<string>NSKeyedArchiver</string>")) << xml.toStdString();
    EXPECT_TRUE(xml.contains("<key>CF$UID</key>")) << xml.toStdString();
    EXPECT_TRUE(xml.contains("<string>Vornakel_Transfer.UserDefinedPhotoSorting</string>")) << xml.toStdString();
    // The XML form, whose references are {"CF$UID": n} dictionaries, reads back the same.
    EXPECT_TRUE(sameTree(root, unarchived(xml)));
}

TEST(KeyedArchive, ReadsMutableCollectionsAndStringObjects)
{
    const QByteArray data = archiveOf({
        QStringLiteral("$null"),
        QVariantMap{{QStringLiteral("NS.objects"), QVariantList{uid(2), uid(4), uid(6)}}, {QStringLiteral("$class"), uid(8)}},
        QVariantMap{{QStringLiteral("NS.string"), QStringLiteral("mutable")}, {QStringLiteral("$class"), uid(3)}},
        classDescription({QStringLiteral("NSMutableString"), QStringLiteral("NSString"), QStringLiteral("NSObject")}),
        QVariantMap{{QStringLiteral("NS.data"), QByteArray("raw")}, {QStringLiteral("$class"), uid(5)}},
        classDescription({QStringLiteral("NSMutableData"), QStringLiteral("NSData"), QStringLiteral("NSObject")}),
        QVariantMap{{QStringLiteral("NS.keys"), QVariantList{uid(2)}},
                    {QStringLiteral("NS.objects"), QVariantList{uid(0)}},
                    {QStringLiteral("$class"), uid(7)}},
        classDescription({QStringLiteral("NSMutableDictionary"), QStringLiteral("NSDictionary"), QStringLiteral("NSObject")}),
        classDescription({QStringLiteral("NSMutableArray"), QStringLiteral("NSArray"), QStringLiteral("NSObject")}),
    });
    EXPECT_TRUE(sameTree(QVariantList{QStringLiteral("mutable"), QByteArray("raw"), QVariantMap{{QStringLiteral("mutable"), QVariant()}}},
                         unarchived(data)));
}

TEST(KeyedArchive, RejectsDamagedArchivesAndOtherData)
{
    const QVariant arrayClass = classDescription({QStringLiteral("NSArray"), QStringLiteral("NSObject")});
    const QVariant dictionaryClass = classDescription({QStringLiteral("NSDictionary"), QStringLiteral("NSObject")});
    QVariantList deep{QStringLiteral("$null")};
    for (int i = 1; i <= 300; ++i)
        deep.append(QVariantMap{{QStringLiteral("NS.objects"), QVariantList{uid(quint64(i + 1))}}, {QStringLiteral("$class"), uid(300)}});
    deep[300] = arrayClass;
    deep[299] = QStringLiteral("bottom");

    const std::tuple<const char*, QByteArray, KeyedArchive::ErrorCode> cases[] = {
        {"garbage", QByteArray("definitely not an archive"), KeyedArchive::NotAnArchive},
        {"property list that is not a dictionary",
         PropertyList::toBinary(QVariantList{QStringLiteral("$null")}).value(), KeyedArchive::NotAnArchive},
        {"another archiver",
         PropertyList::toBinary(QVariantMap{{QStringLiteral("$archiver"), QStringLiteral("Other")}}).value(),
         KeyedArchive::NotAnArchive},
        {"no $top", archiveOf({QStringLiteral("$null"), QStringLiteral("x")}, QVariant()), KeyedArchive::CorruptArchive},
        {"$top without root", archiveOf({QStringLiteral("$null")}, QVariantMap{{QStringLiteral("other"), uid(0)}}),
         KeyedArchive::CorruptArchive},
        {"root that is no reference", archiveOf({QStringLiteral("$null")}, QVariantMap{{QStringLiteral("root"), qint64(0)}}),
         KeyedArchive::CorruptArchive},
        {"no objects", archiveOf({}), KeyedArchive::CorruptArchive},
        {"dangling root", archiveOf({QStringLiteral("$null")}), KeyedArchive::CorruptArchive},
        {"dangling element",
         archiveOf({QStringLiteral("$null"), QVariantMap{{QStringLiteral("NS.objects"), QVariantList{uid(42)}}, {QStringLiteral("$class"), uid(2)}},
                    arrayClass}),
         KeyedArchive::CorruptArchive},
        {"array containing itself",
         archiveOf({QStringLiteral("$null"), QVariantMap{{QStringLiteral("NS.objects"), QVariantList{uid(1)}}, {QStringLiteral("$class"), uid(2)}},
                    arrayClass}),
         KeyedArchive::CorruptArchive},
        {"object containing itself",
         archiveOf({QStringLiteral("$null"), QVariantMap{{QStringLiteral("parent"), uid(1)}, {QStringLiteral("$class"), uid(2)}},
                    classDescription({kStepClass, QStringLiteral("NSObject")})}),
         KeyedArchive::CorruptArchive},
        {"object without class", archiveOf({QStringLiteral("$null"), QVariantMap{{QStringLiteral("name"), uid(0)}}}),
         KeyedArchive::CorruptArchive},
        {"class reference to a string",
         archiveOf({QStringLiteral("$null"), QVariantMap{{QStringLiteral("$class"), uid(0)}}}), KeyedArchive::CorruptArchive},
        {"array without elements", archiveOf({QStringLiteral("$null"), QVariantMap{{QStringLiteral("$class"), uid(2)}}, arrayClass}),
         KeyedArchive::CorruptArchive},
        {"dictionary with more keys than values",
         archiveOf({QStringLiteral("$null"),
                    QVariantMap{{QStringLiteral("NS.keys"), QVariantList{uid(3), uid(3)}},
                                {QStringLiteral("NS.objects"), QVariantList{uid(3)}},
                                {QStringLiteral("$class"), uid(2)}},
                    dictionaryClass, QStringLiteral("k")}),
         KeyedArchive::CorruptArchive},
        {"dictionary with a number key",
         archiveOf({QStringLiteral("$null"),
                    QVariantMap{{QStringLiteral("NS.keys"), QVariantList{uid(3)}},
                                {QStringLiteral("NS.objects"), QVariantList{uid(3)}},
                                {QStringLiteral("$class"), uid(2)}},
                    dictionaryClass, qint64(5)}),
         KeyedArchive::CorruptArchive},
        {"array listed plainly among the objects", archiveOf({QStringLiteral("$null"), QVariantList{uid(0)}}),
         KeyedArchive::CorruptArchive},
        {"nesting too deep", archiveOf(deep), KeyedArchive::CorruptArchive},
    };
    for (const auto& [name, data, code] : cases) {
        SCOPED_TRACE(name);
        auto result = KeyedArchive::unarchive(data);
        ASSERT_FALSE(result.hasValue());
        EXPECT_EQ(result.error(), Error(KeyedArchive::errorDomain(), code));
    }
}

TEST(KeyedArchive, RefusesWhatItCouldNotReadBack)
{
    auto looping = step({});
    looping->fields.insert(QStringLiteral("next"), asVariant(looping));
    auto nameless = std::make_shared<ArchivedObject>();
    auto reservedKey = step({});
    reservedKey->fields.insert(QStringLiteral("$class"), qint64(1));

    const std::pair<const char*, QVariant> cases[] = {
        {"object containing itself", asVariant(looping)},
        {"object without a class", asVariant(nameless)},
        {"field named like the archive's own keys", asVariant(reservedKey)},
        {"value of another type", QVariantList{QPoint(1, 2)}},
    };
    for (const auto& [name, root] : cases) {
        SCOPED_TRACE(name);
        auto result = KeyedArchive::archive(root);
        ASSERT_FALSE(result.hasValue());
        EXPECT_EQ(result.error(), Error(KeyedArchive::errorDomain(), KeyedArchive::UnsupportedValue));
    }
    looping->fields.clear();
}
