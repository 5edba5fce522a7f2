#include "discovery/CameraQRDecoding.h"

#include <QTextBoundaryFinder>

namespace vornakel {

namespace {

// Grapheme-cluster boundaries of a text: entry i tells whether a user-perceived character starts (or the
// text ends) at code unit i.
std::vector<bool> characterBoundaries(const QString& text)
{
    std::vector<bool> boundaries(static_cast<size_t>(text.size()) + 1, false);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype position = 0; position >= 0; position = finder.toNextBoundary())
        boundaries[static_cast<size_t>(position)] = true;
    boundaries.front() = true;
    boundaries.back() = true;
    return boundaries;
}

std::vector<QString> characters(const QString& text)
{
    std::vector<QString> result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end > start; start = end, end = finder.toNextBoundary())
        result.push_back(text.mid(start, end - start));
    return result;
}

// A prefix test on whole characters: "W01:" followed by a combining mark does not start with "W01:".
bool startsWithCharacters(const QString& text, const QString& prefix)
{
    if (!text.startsWith(prefix))
        return false;
    return text.size() == prefix.size() || characterBoundaries(text)[static_cast<size_t>(prefix.size())];
}

bool isWholeCharacterAt(const std::vector<bool>& boundaries, qsizetype start, qsizetype length)
{
    return boundaries[static_cast<size_t>(start)] && boundaries[static_cast<size_t>(start + length)];
}

// Splits at every separator that is a character of its own; empty pieces are kept, so text without the
// separator gives one piece. A line feed after a carriage return also splits, so CR LF lines work.
QStringList splitCharacters(const QString& text, QChar separator)
{
    const auto boundaries = characterBoundaries(text);
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != separator)
            continue;
        const bool crlf = separator == QLatin1Char('\n') && i > 0 && text[i - 1] == QLatin1Char('\r');
        if (!crlf && !isWholeCharacterAt(boundaries, i, 1))
            continue;
        pieces.append(text.mid(start, i - start));
        start = i + 1;
    }
    pieces.append(text.mid(start));
    return pieces;
}

// Removes every whole-character occurrence of the needle, in one pass from the front.
QString removingCharacters(const QString& text, const QString& needle)
{
    const auto boundaries = characterBoundaries(text);
    QString result;
    qsizetype copied = 0;
    for (qsizetype found = text.indexOf(needle); found >= 0; found = text.indexOf(needle, found)) {
        if (isWholeCharacterAt(boundaries, found, needle.size())) {
            result += QStringView(text).mid(copied, found - copied);
            found += needle.size();
            copied = found;
        } else {
            ++found;
        }
    }
    result += QStringView(text).mid(copied);
    return result;
}

// Keys compare by canonical equivalence.
QString canonical(const QString& text) { return text.normalized(QString::NormalizationForm_C); }

} // namespace

QString description(CameraWiFiType type)
{
    switch (type) {
    case CameraWiFiType::Sony:
        return QStringLiteral("Sony");
    case CameraWiFiType::Olympus:
        return QStringLiteral("Olympus");
    case CameraWiFiType::Panasonic:
        return QStringLiteral("Panasonic");
    }
    return {};
}

QString CameraWiFiDetails::description() const
{
    return vornakel::description(type) + QStringLiteral(" network: ") + ssid;
}

const CameraQRDecoding::CipherTable& CameraQRDecoding::defaultOlympusCipher()
{
    // The cameras scramble the 43 characters they use in network names and passwords by substitution. This table
    // is a placeholder of our own, not the cameras' real one: Olympus codes of real cameras are not read.
    static const CipherTable table = [] {
        const QString scrambled = QStringLiteral("E5ZJ*GAFB-.!80+OCMLQ_I1SHR7UTXV2DW~N6Y43P9K");
        const QString plain = QStringLiteral("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-_.~!*+");
        CipherTable pairs;
        for (qsizetype i = 0; i < scrambled.size() && i < plain.size(); ++i)
            pairs.emplace_back(QString(scrambled[i]), QString(plain[i]));
        return pairs;
    }();
    return table;
}

const CameraQRDecoding& CameraQRDecoding::shared()
{
    static const CameraQRDecoding instance;
    return instance;
}

CameraQRDecoding::CameraQRDecoding() : CameraQRDecoding(defaultOlympusCipher()) {}

CameraQRDecoding::CameraQRDecoding(const CipherTable& olympusCipher)
{
    for (const auto& [scrambled, plain] : olympusCipher)
        m_olympusCipher.insert(canonical(scrambled), plain);
}

std::optional<CameraWiFiDetails> CameraQRDecoding::decodeSony(const QString& text) const
{
    if (!startsWithCharacters(text, sonyQrPrefix))
        return std::nullopt;
    std::optional<QString> camera, ssid, password;
    const QStringList items = splitCharacters(removingCharacters(text, sonyQrPrefix), QLatin1Char(';'));
    for (const QString& item : items) {
        const QStringList pieces = splitCharacters(item, QLatin1Char(':'));
        if (pieces.size() != 2)
            continue;
        const QString key = canonical(pieces[0]);
        if (key == QLatin1String("C"))
            camera = pieces[1];
        else if (key == QLatin1String("S"))
            ssid = pieces[1];
        else if (key == QLatin1String("P"))
            password = pieces[1];
    }
    if (!camera || !ssid || !password)
        return std::nullopt;
    // Plain concatenation: the values are untrusted and must never act as a format.
    return CameraWiFiDetails{CameraWiFiType::Sony, QStringLiteral("DIRECT-") + *ssid + QLatin1Char(':') + *camera,
                             *password};
}

std::optional<CameraWiFiDetails> CameraQRDecoding::decodeOlympus(const QString& text) const
{
    if (!startsWithCharacters(text, olympusQrPrefix))
        return std::nullopt;
    const QStringList pieces = splitCharacters(text, QLatin1Char(','));
    if (pieces.size() != 3 || pieces[0] != olympusQrPrefix)
        return std::nullopt;
    QString ssid = decipherOlympusField(pieces[1]);
    QString password = decipherOlympusField(pieces[2]);
    if (ssid.isEmpty() || password.isEmpty())
        return std::nullopt;
    return CameraWiFiDetails{CameraWiFiType::Olympus, std::move(ssid), std::move(password)};
}

std::optional<CameraWiFiDetails> CameraQRDecoding::decodePanasonic(const QString& text) const
{
    if (!startsWithCharacters(text, panasonicQrPrefix))
        return std::nullopt;
    QHash<QString, QString> entries;
    for (const QString& line : splitCharacters(text, QLatin1Char('\n'))) {
        const QStringList pieces = splitCharacters(line, QLatin1Char(':'));
        if (pieces.size() != 2)
            continue;
        entries.insert(canonical(pieces[0].trimmed()), pieces[1].trimmed());
    }
    const auto ssid = entries.constFind(QStringLiteral("SSID"));
    const auto password = entries.constFind(QStringLiteral("PW"));
    if (ssid == entries.constEnd() || password == entries.constEnd())
        return std::nullopt;
    return CameraWiFiDetails{CameraWiFiType::Panasonic, *ssid, *password};
}

std::optional<CameraWiFiDetails> CameraQRDecoding::decode(const QString& text) const
{
    if (auto details = decodeSony(text))
        return details;
    if (auto details = decodeOlympus(text))
        return details;
    return decodePanasonic(text);
}

QString CameraQRDecoding::decipherOlympusField(const QString& field) const
{
    QString plain;
    for (const QString& character : characters(field)) {
        const auto found = m_olympusCipher.constFind(canonical(character));
        if (found != m_olympusCipher.constEnd())
            plain += *found;
    }
    return plain;
}

} // namespace vornakel
