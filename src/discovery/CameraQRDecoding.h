#pragma once

#include <QHash>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace vornakel {

// The camera make whose QR payload format produced a set of Wi-Fi details.
enum class CameraWiFiType { Sony, Olympus, Panasonic };

// "Sony", "Olympus" or "Panasonic".
QString description(CameraWiFiType type);

// A camera's Wi-Fi network name and password as read from its QR code. Both are untrusted text.
struct CameraWiFiDetails {
    CameraWiFiType type = CameraWiFiType::Sony;
    QString ssid;
    QString password;

    // "<Make> network: <ssid>"; the password is never part of it.
    QString description() const;
    bool operator==(const CameraWiFiDetails&) const = default;
};

// Turns the text of a camera's Wi-Fi QR code into network details. Pure text processing on user-perceived
// characters; every text a decoder does not accept gives no result. Safe to use from any thread.
class CameraQRDecoding {
public:
    // Pairs of (scrambled character, plain character), each one user-perceived character.
    using CipherTable = std::vector<std::pair<QString, QString>>;

    // The substitution table for the two scrambled fields of an Olympus payload. It is our own placeholder, not
    // the cameras' table, so codes of real Olympus cameras do not decode to their network.
    static const CipherTable& defaultOlympusCipher();
    // The instance the program uses, with the default table.
    static const CameraQRDecoding& shared();

    CameraQRDecoding();
    explicit CameraQRDecoding(const CipherTable& olympusCipher);

    std::optional<CameraWiFiDetails> decodeSony(const QString& text) const;
    std::optional<CameraWiFiDetails> decodeOlympus(const QString& text) const;
    std::optional<CameraWiFiDetails> decodePanasonic(const QString& text) const;
    // Sony, then Olympus, then Panasonic; the first result.
    std::optional<CameraWiFiDetails> decode(const QString& text) const;

    // The plain text of one scrambled field: characters missing from the table are dropped.
    QString decipherOlympusField(const QString& field) const;

    const QString olympusQrPrefix = QStringLiteral("OIS1");
    const QString sonyQrPrefix = QStringLiteral("W01:");
    const QString panasonicQrPrefix = QStringLiteral("MDL:");

private:
    QHash<QString, QString> m_olympusCipher;
};

} // namespace vornakel
