// The whole application against a test camera of each network backend, as a user meets it: the app starts on
// the search screen, joins the camera's Wi-Fi from its QR code (or finds it at a listed address), shows the
// grid, and copies the first day into a folder through "Copy to Folder…". The camera runs in this process on
// 127.0.0.1; the application is the scripted program in a process of its own, with the simulated Wi-Fi.
//
// A backend adds its row to `kJourneys`: the scheme its addresses carry, how to start its test camera on a
// folder, and the QR code its maker's cameras show (or none, for a camera found at a listed address).
#include "discovery/CameraQRDecoding.h"
#include "olympus-camera/OlympusResponder.h"
#include "panasonic-camera/PanasonicResponder.h"
#include "ptpip-camera/PtpIpResponder.h"
#include "samplecamera/CameraQRCodeImage.h"
#include "upnp-camera/UpnpResponder.h"
#include "samplecamera/SampleCameraGenerator.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>

using namespace vornakel;
using namespace vornakel::test;
using namespace std::chrono_literals;

namespace {

// A test camera serving a folder on 127.0.0.1; it lives as long as the object.
struct TestCamera {
    std::unique_ptr<QObject> server;
    quint16 port = 0;
};

// A camera's own Wi-Fi network and the text of the QR code that names it.
struct CameraCode {
    QString ssid; // as the app reads it from the code
    QString password;
    QByteArray payload;
};

struct Journey {
    const char* name; // names the test and its screenshots' folder
    QString scheme;   // the backend's scheme in VORNAKEL_CAMERA_ADDRESSES and VORNAKEL_GATEWAY_PORTS
    std::function<TestCamera(const QString& folder)> startCamera;
    // The camera's QR code; none: the camera is on the computer's network at a listed address.
    std::optional<CameraCode> code;
};

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TestCamera startPtpIpCamera(const QString& folder)
{
    auto responder = std::make_unique<tools::PtpIpResponder>(
        folder, tools::PtpIpResponderOptions::fromCameraOptions(SimulatedCameraOptions::fromFolder(folder)));
    if (!responder->listen())
        return {};
    const quint16 port = responder->port();
    return {std::move(responder), port};
}

TestCamera startSonyMediaServer(const QString& folder)
{
    auto responder = std::make_unique<tools::UpnpResponder>(
        folder, tools::UpnpResponderOptions::fromCameraOptions(SimulatedCameraOptions::fromFolder(folder)));
    if (!responder->listen())
        return {};
    const quint16 port = responder->port();
    return {std::move(responder), port};
}

// An older Sony body's code, whose "send to smartphone" mode serves a UPnP media server.
CameraCode sonyMediaServerCode()
{
    return {QStringLiteral("DIRECT-Qx3p:DSC-RX100M5"), QStringLiteral("s0ny&media"),
            QStringLiteral("W01:S:Qx3p;P:s0ny&media;C:DSC-RX100M5;").toUtf8()};
}

// A Sony body's code ("W01:S:<network>;P:<password>;C:<model>;"): newer Sony bodies speak PTP/IP on their own
// access point.
CameraCode sonyCode()
{
    return {QStringLiteral("DIRECT-Vk7q:ILCE-7M4"), QStringLiteral("pässwort 1"),
            QStringLiteral("W01:S:Vk7q;P:pässwort 1;C:ILCE-7M4;").toUtf8()};
}

TestCamera startOlympusCamera(const QString& folder)
{
    auto responder = std::make_unique<tools::OlympusResponder>(
        folder, tools::OlympusResponderOptions::fromCameraOptions(SimulatedCameraOptions::fromFolder(folder)));
    if (!responder->listen())
        return {};
    const quint16 port = responder->port();
    return {std::move(responder), port};
}

// An Olympus body's code ("OIS1,<network>,<password>", both fields scrambled character by character with the
// substitution table the app reads them with).
CameraCode olympusCode()
{
    const auto scrambled = [](const QString& plain) {
        QString text;
        for (const QChar c : plain) {
            for (const auto& [scrambledCharacter, plainCharacter] : CameraQRDecoding::defaultOlympusCipher()) {
                if (plainCharacter == QString(c)) {
                    text += scrambledCharacter;
                    break;
                }
            }
        }
        return text;
    };
    const QString ssid = QStringLiteral("E-M10MKII-P-BHJ123");
    const QString password = QStringLiteral("48213597");
    return {ssid, password, (QStringLiteral("OIS1,") + scrambled(ssid) + QLatin1Char(',') + scrambled(password)).toUtf8()};
}

// A LUMIX in its image-app mode: its media server and control page on one port, asking its user for a few seconds
// before it lets the app in (the app shows its pairing prompt meanwhile).
TestCamera startPanasonicCamera(const QString& folder)
{
    tools::PanasonicCamCgiOptions camCgi;
    camCgi.accessPromptMs = 2500;
    auto responder = std::make_unique<tools::PanasonicResponder>(
        folder, tools::UpnpResponderOptions::fromCameraOptions(SimulatedCameraOptions::fromFolder(folder)), camCgi);
    if (!responder->listen())
        return {};
    const quint16 port = responder->port();
    return {std::move(responder), port};
}

// A LUMIX's code ("MDL:<model>\r\nSSID:<network>\r\nPW:<password>\r\n").
CameraCode panasonicCode()
{
    return {QStringLiteral("GH5-5A3C21"), QStringLiteral("lumix pw 7"),
            QByteArray("MDL:DC-GH5\r\nSSID:GH5-5A3C21\r\nPW:lumix pw 7\r\n")};
}

const Journey kJourneys[] = {
    {"PtpIpAfterQRJoin", QStringLiteral("ptpip"), startPtpIpCamera, sonyCode()},
    {"PtpIpAtListedAddress", QStringLiteral("ptpip"), startPtpIpCamera, std::nullopt},
    {"OlympusAfterQRJoin", QStringLiteral("olympus"), startOlympusCamera, olympusCode()},
    {"OlympusAtListedAddress", QStringLiteral("olympus"), startOlympusCamera, std::nullopt},
    {"SonyMediaServerAfterQRJoin", QStringLiteral("sony"), startSonyMediaServer, sonyMediaServerCode()},
    {"PanasonicAfterQRJoin", QStringLiteral("panasonic"), startPanasonicCamera, panasonicCode()},
};

class CameraJourneyTest : public ::testing::TestWithParam<Journey> {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }

    // The environment of a user who runs the app for the first time, with the simulated Wi-Fi.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString home = path(QStringLiteral("home"));
        const QString runtime = home + QStringLiteral("/runtime");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("VKL_WIFI"), QStringLiteral("simulated"));
        env.insert(QStringLiteral("LSAN_OPTIONS"), QStringLiteral("suppressions=" VKL_TESTS_DIR "/lsan.supp"));
        for (const char* name : {"VORNAKEL_CAMERA_ADDRESSES", "VORNAKEL_SIMULATED_CAMERAS", "VORNAKEL_SIMULATED_NETWORKS",
                                 "VORNAKEL_WEBCAM_IMAGES", "VORNAKEL_GATEWAY_PORTS", "VORNAKEL_CAMERA_BACKEND"})
            env.remove(QString::fromLatin1(name));
        return env;
    }

    QTemporaryDir dir;
};

TEST_P(CameraJourneyTest, FindTheCameraShowItsGridAndCopyTheFirstDay)
{
    const Journey& journey = GetParam();
    tools::SampleCameraSpec spec;
    spec.outputFolder = path(QStringLiteral("camera"));
    spec.shots = 24;
    spec.days = 3;
    const tools::SampleCameraResult sample = tools::generateSampleCamera(spec);
    ASSERT_TRUE(sample.ok()) << sample.error.toStdString();

    QProcessEnvironment env = environment();
    if (journey.code) {
        QSettings ini(QDir(spec.outputFolder).filePath(QStringLiteral("camera.ini")), QSettings::IniFormat);
        ini.setValue(QStringLiteral("ssid"), journey.code->ssid);
        ini.setValue(QStringLiteral("password"), journey.code->password);
        ini.sync();
        const QString codePath = path(QStringLiteral("qr.png"));
        const QImage code = tools::qrCodeImage(journey.code->payload);
        ASSERT_FALSE(code.isNull());
        ASSERT_TRUE(tools::webcamFrameWithCode(code).save(codePath));
        env.insert(QStringLiteral("VORNAKEL_SIMULATED_NETWORKS"), spec.outputFolder);
        env.insert(QStringLiteral("VORNAKEL_WEBCAM_IMAGES"), codePath);
    }
    const TestCamera camera = journey.startCamera(spec.outputFolder);
    ASSERT_TRUE(camera.server && camera.port != 0);
    if (journey.code)
        env.insert(QStringLiteral("VORNAKEL_GATEWAY_PORTS"), QStringLiteral("%1=%2").arg(journey.scheme).arg(camera.port));
    else
        env.insert(QStringLiteral("VORNAKEL_CAMERA_ADDRESSES"),
                   QStringLiteral("%1://127.0.0.1:%2").arg(journey.scheme).arg(camera.port));

    const QString destination = path(QStringLiteral("Copied"));
    const QString screenshots = QStringLiteral(VKL_SCREENSHOT_DIR "/journey-") + QString::fromLatin1(journey.name);
    QDir(screenshots).removeRecursively();
    QProcess app;
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(QStringLiteral(VKL_SCRIPTED_APP), {QStringLiteral("--journey"), destination, QStringLiteral("--screenshots"), screenshots});
    ASSERT_TRUE(app.waitForStarted(30000));
    // The camera answers from this process's event loop while the app runs.
    const bool ended = runUntil([&] { return app.state() == QProcess::NotRunning; }, 280s);
    if (!ended) {
        app.kill();
        app.waitForFinished(5000);
    }
    const QString output = QString::fromUtf8(app.readAll());
    ASSERT_TRUE(ended) << "the journey did not end:\n" << output.toStdString();
    ASSERT_EQ(app.exitStatus(), QProcess::NormalExit) << output.toStdString();
    ASSERT_EQ(app.exitCode(), 0) << output.toStdString();
    if (journey.code)
        EXPECT_TRUE(output.contains(QStringLiteral("pressing the QR button"))) << output.toStdString();
    else
        EXPECT_FALSE(output.contains(QStringLiteral("pressing the QR button"))) << output.toStdString();

    // The first day of the grid is the newest; each of its shots arrived (a RAW+JPEG pair as the grouping of
    // "Copy to Folder…" has it), byte for byte, and nothing of another day.
    QDate newest = sample.shots.front().captureTime.date();
    std::map<QString, const tools::SampleShot*> shotOfFile;
    for (const auto& shot : sample.shots) {
        newest = std::max(newest, shot.captureTime.date());
        for (const QString& file : {shot.jpegPath, shot.rawPath})
            if (!file.isEmpty())
                shotOfFile[QFileInfo(file).fileName()] = &shot;
    }
    std::map<int, int> copiedOfShot;
    int copied = 0;
    QDirIterator it(destination, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file(it.next());
        ++copied;
        const auto found = shotOfFile.find(file.fileName());
        ASSERT_NE(found, shotOfFile.end()) << "not a camera file: " << file.filePath().toStdString();
        const tools::SampleShot& shot = *found->second;
        EXPECT_EQ(shot.captureTime.date(), newest) << file.fileName().toStdString();
        const QString source = QFileInfo(shot.jpegPath).fileName() == file.fileName() ? shot.jpegPath : shot.rawPath;
        EXPECT_EQ(readFile(file.filePath()), readFile(source)) << file.fileName().toStdString();
        ++copiedOfShot[shot.index];
    }
    int shotsOfDay = 0;
    for (const auto& shot : sample.shots) {
        if (shot.captureTime.date() != newest)
            continue;
        ++shotsOfDay;
        EXPECT_GE(copiedOfShot[shot.index], 1) << shot.baseName.toStdString();
    }
    EXPECT_GT(shotsOfDay, 0);
    const auto summary = QRegularExpression(QStringLiteral("journey: (\\d+) photos shown, (\\d+) files copied")).match(output);
    ASSERT_TRUE(summary.hasMatch()) << output.toStdString();
    EXPECT_EQ(summary.captured(1).toInt(), sample.shots.size());
    EXPECT_EQ(summary.captured(2).toInt(), copied);
    for (const char* name : {"journey-grid.png", "journey-copied.png"})
        EXPECT_TRUE(QImage(QDir(screenshots).filePath(QString::fromLatin1(name))).width() > 0) << name;
}

INSTANTIATE_TEST_SUITE_P(Backends, CameraJourneyTest, ::testing::ValuesIn(kJourneys),
                         [](const ::testing::TestParamInfo<Journey>& info) { return std::string(info.param.name); });

} // namespace
