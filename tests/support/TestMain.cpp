// Every test executable runs inside a QApplication (offscreen in CI) with its own XDG folders, so tests never
// touch the user's settings or caches.
#include "platform/core/DispatchQueue.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The sanitizers read these before main; options given here reach every test program, which options in the
// environment do not. GCC 12's sanitizer runtime misreads the thread-local storage of libraries loaded at run time
// (Qt's image-format plug-ins bring several), and LeakSanitizer then crashes at exit; leaving __tls_get_addr alone
// avoids that.
extern "C" {
const char* __asan_default_options() { return "detect_leaks=1:intercept_tls_get_addr=0"; }
const char* __lsan_default_options() { return "suppressions=" VKL_TESTS_DIR "/lsan.supp"; }
const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }
const char* __tsan_default_options()
{
    return "halt_on_error=1:second_deadlock_stack=1:suppressions=" VKL_TESTS_DIR "/tsan.supp";
}
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    // Each test program has a home of its own: what is keyed by the home folder (the single-instance socket, the
    // Wi-Fi watcher of this user) never meets another test program running beside it.
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral("cache")).toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_DIRS", home.filePath(QStringLiteral("config-dirs")).toUtf8());
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());

    // Network tests stay on this computer: the camera searches send nothing to the network's multicast groups
    // unless a test points them at 127.0.0.1, and ask no system service.
    for (const char* variable : {"VORNAKEL_SSDP_ADDRESS", "VORNAKEL_DNSSD"}) {
        if (qEnvironmentVariableIsEmpty(variable))
            qputenv(variable, "off");
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationDomain(QStringLiteral("vornakel.com"));
    QApplication::setApplicationName(QStringLiteral("Vornakel Transfer Tests"));
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // Work a test left on the background queues (a simulated link's delayed answer) must not run into the
    // process's static objects while they go.
    vornakel::DispatchQueue::finishBackgroundWorkForExit(std::chrono::seconds(5));
    return result;
}
