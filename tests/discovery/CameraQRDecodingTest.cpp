#include "discovery/CameraQRDecoding.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace vornakel;

namespace {

struct PayloadCase {
    const char* name;
    QString text;
    std::optional<CameraWiFiDetails> expected;
};


CameraWiFiDetails sony(const QString& ssid, const QString& password) { return {CameraWiFiType::Sony, ssid, password}; }
CameraWiFiDetails olympus(const QString& ssid, const QString& password) { return {CameraWiFiType::Olympus, ssid, password}; }
CameraWiFiDetails panasonic(const QString& ssid, const QString& password) { return {CameraWiFiType::Panasonic, ssid, password}; }

// A small table of our own, with one character made of two code points.
const CameraQRDecoding::CipherTable kTestCipher = {
    {QStringLiteral("a"), QStringLiteral("x")},
    {QStringLiteral("b"), QStringLiteral("y")},
    {QStringLiteral("c"), QStringLiteral("z")},
    {QStringLiteral("e\u0301"), QStringLiteral("E")},
};

// Each case's expectation is that of the combined decoder; the make's own decoder accepts only its make.
void expectDecodes(const std::vector<PayloadCase>& cases, CameraWiFiType make,
                   std::optional<CameraWiFiDetails> (CameraQRDecoding::*decoder)(const QString&) const)
{
    const CameraQRDecoding decoding(kTestCipher);
    for (const PayloadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto details = (decoding.*decoder)(c.text);
        ASSERT_EQ(details.has_value(), c.expected.has_value() && c.expected->type == make);
        if (details) {
            EXPECT_EQ(details->type, c.expected->type);
            EXPECT_EQ(details->ssid, c.expected->ssid);
            EXPECT_EQ(details->password, c.expected->password);
        }
        // The prefixes differ, so the combined decoder gives the same answer.
        EXPECT_EQ(decoding.decode(c.text), c.expected);
    }
}

} // namespace

TEST(CameraQRDecoding, SonyPayloads)
{
    expectDecodes({
        {"plain", QStringLiteral("W01:S:a1B2;C:VX-7M3;P:secret"), sony(QStringLiteral("DIRECT-a1B2:VX-7M3"), QStringLiteral("secret"))},
        {"key order free", QStringLiteral("W01:P:pw;C:cam;S:net"), sony(QStringLiteral("DIRECT-net:cam"), QStringLiteral("pw"))},
        {"trailing semicolon", QStringLiteral("W01:S:n;C:c;P:p;"), sony(QStringLiteral("DIRECT-n:c"), QStringLiteral("p"))},
        {"prefix removed inside values", QStringLiteral("W01:S:aW01:b;C:c;P:p"), sony(QStringLiteral("DIRECT-ab:c"), QStringLiteral("p"))},
        {"repeated key, later wins", QStringLiteral("W01:S:first;C:c;S:second;P:p"), sony(QStringLiteral("DIRECT-second:c"), QStringLiteral("p"))},
        {"empty password", QStringLiteral("W01:S:n;C:c;P:"), sony(QStringLiteral("DIRECT-n:c"), QString())},
        {"empty name parts", QStringLiteral("W01:S:;C:;P:x"), sony(QStringLiteral("DIRECT-:"), QStringLiteral("x"))},
        {"unknown keys and single pieces ignored", QStringLiteral("W01:X:1;junk;S:n;C:c;P:p"), sony(QStringLiteral("DIRECT-n:c"), QStringLiteral("p"))},
        {"colon in a repeated key ignored", QStringLiteral("W01:S:n;C:c;P:p;P:a:b"), sony(QStringLiteral("DIRECT-n:c"), QStringLiteral("p"))},
        {"format characters stay text", QStringLiteral("W01:S:%@%1%s;C:%n;P:%d%%"), sony(QStringLiteral("DIRECT-%@%1%s:%n"), QStringLiteral("%d%%"))},
        {"spaces kept in values", QStringLiteral("W01:S: n ;C:c;P: p"), sony(QStringLiteral("DIRECT- n :c"), QStringLiteral(" p"))},
        {"lower-case prefix", QStringLiteral("w01:S:n;C:c;P:p"), std::nullopt},
        {"leading white space", QStringLiteral(" W01:S:n;C:c;P:p"), std::nullopt},
        {"prefix letters joined by a combining mark", QStringLiteral("W01:\u0301S:n;C:c;P:p"), std::nullopt},
        {"missing password", QStringLiteral("W01:S:n;C:c"), std::nullopt},
        {"colon inside the only password", QStringLiteral("W01:S:n;C:c;P:a:b"), std::nullopt},
        {"lower-case keys", QStringLiteral("W01:s:n;c:c;p:p"), std::nullopt},
        {"key with a leading space", QStringLiteral("W01: S:n;C:c;P:p"), std::nullopt},
        {"Panasonic payload", QStringLiteral("MDL:QX-40\nSSID:n\nPW:p"), panasonic(QStringLiteral("n"), QStringLiteral("p"))},
        {"empty text", QString(), std::nullopt},
    }, CameraWiFiType::Sony, &CameraQRDecoding::decodeSony);
}

TEST(CameraQRDecoding, OlympusPayloads)
{
    expectDecodes({
        {"plain", QStringLiteral("OIS1,ab,cca"), olympus(QStringLiteral("xy"), QStringLiteral("zzx"))},
        {"characters missing from the table dropped", QStringLiteral("OIS1,a?b!,c-"), olympus(QStringLiteral("xy"), QStringLiteral("z"))},
        {"a two-code-point character", QStringLiteral("OIS1,e\u0301a,c"), olympus(QStringLiteral("Ex"), QStringLiteral("z"))},
        {"the same character composed", QStringLiteral("OIS1,\u00e9a,c"), olympus(QStringLiteral("Ex"), QStringLiteral("z"))},
        {"a letter with a combining mark is not the letter", QStringLiteral("OIS1,a\u0301b,c"), olympus(QStringLiteral("y"), QStringLiteral("z"))},
        {"name of unknown characters only", QStringLiteral("OIS1,??,ab"), std::nullopt},
        {"empty password field", QStringLiteral("OIS1,ab,"), std::nullopt},
        {"trailing comma", QStringLiteral("OIS1,ab,cc,"), std::nullopt},
        {"two pieces", QStringLiteral("OIS1,ab"), std::nullopt},
        {"characters after the prefix", QStringLiteral("OIS1x,ab,cc"), std::nullopt},
        {"lower-case prefix", QStringLiteral("ois1,ab,cc"), std::nullopt},
        {"leading white space", QStringLiteral(" OIS1,ab,cc"), std::nullopt},
        {"Sony payload", QStringLiteral("W01:S:n;C:c;P:p"), sony(QStringLiteral("DIRECT-n:c"), QStringLiteral("p"))},
    }, CameraWiFiType::Olympus, &CameraQRDecoding::decodeOlympus);
}

TEST(CameraQRDecoding, DefaultOlympusTableIsAPermutationOf43Characters)
{
    const auto& table = CameraQRDecoding::defaultOlympusCipher();
    ASSERT_EQ(table.size(), 43u);
    QSet<QString> keys, values;
    for (const auto& [scrambled, plain] : table) {
        EXPECT_EQ(scrambled.size(), 1);
        keys.insert(scrambled);
        values.insert(plain);
    }
    EXPECT_EQ(keys.size(), 43);
    EXPECT_EQ(keys, values);

    // Scrambling a name with the inverse table and reading it back gives the name.
    QHash<QString, QString> inverse;
    for (const auto& [scrambled, plain] : table)
        inverse.insert(plain, scrambled);
    const QString name = QStringLiteral("E-M1-4X7Q");
    QString field;
    for (QChar c : name)
        field += inverse.value(QString(c));
    const auto details = CameraQRDecoding::shared().decodeOlympus(QStringLiteral("OIS1,") + field + QLatin1Char(',') + field);
    ASSERT_TRUE(details);
    EXPECT_EQ(details->ssid, name);
}

TEST(CameraQRDecoding, PanasonicPayloads)
{
    expectDecodes({
        {"plain", QStringLiteral("MDL:QX-40\nSSID:QX40-4F2A\nPW:12345678"), panasonic(QStringLiteral("QX40-4F2A"), QStringLiteral("12345678"))},
        {"CR LF line breaks", QStringLiteral("MDL:QX-40\r\nSSID:QX40-4F2A\r\nPW:pw\r\n"), panasonic(QStringLiteral("QX40-4F2A"), QStringLiteral("pw"))},
        {"spaces around keys and values trimmed", QStringLiteral("MDL:x\n SSID : my net \n\tPW : pw "), panasonic(QStringLiteral("my net"), QStringLiteral("pw"))},
        {"repeated key, later wins", QStringLiteral("MDL:x\nSSID:first\nPW:p\nSSID:second"), panasonic(QStringLiteral("second"), QStringLiteral("p"))},
        {"empty values", QStringLiteral("MDL:x\nSSID:\nPW:"), panasonic(QString(), QString())},
        {"format characters and other scripts stay text", QStringLiteral("MDL:x\nSSID:Café %@ 📷\nPW:%1%n"), panasonic(QStringLiteral("Café %@ 📷"), QStringLiteral("%1%n"))},
        {"colon in the name", QStringLiteral("MDL:x\nSSID:a:b\nPW:p"), std::nullopt},
        {"colon in the password", QStringLiteral("MDL:x\nSSID:a\nPW:p:q"), std::nullopt},
        {"CR-only line breaks", QStringLiteral("MDL:x\rSSID:a\rPW:b"), std::nullopt},
        {"missing password", QStringLiteral("MDL:x\nSSID:a"), std::nullopt},
        {"lower-case key", QStringLiteral("MDL:x\nssid:a\nPW:b"), std::nullopt},
        {"lower-case prefix", QStringLiteral("mdl:x\nSSID:a\nPW:b"), std::nullopt},
        {"leading white space", QStringLiteral(" MDL:x\nSSID:a\nPW:b"), std::nullopt},
    }, CameraWiFiType::Panasonic, &CameraQRDecoding::decodePanasonic);
}

TEST(CameraQRDecoding, DescriptionNamesMakeAndNetworkButNeverThePassword)
{
    const CameraWiFiDetails details = panasonic(QStringLiteral("QX40-4F2A"), QStringLiteral("hunter2"));
    EXPECT_EQ(details.description(), QStringLiteral("Panasonic network: QX40-4F2A"));
    EXPECT_EQ(description(CameraWiFiType::Sony), QStringLiteral("Sony"));
    EXPECT_EQ(description(CameraWiFiType::Olympus), QStringLiteral("Olympus"));
}
