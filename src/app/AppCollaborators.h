#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace vornakel {

// The layers the application delegate calls at start-up and from the app menu, each behind a small interface so
// that the start-up order can be checked and the real objects plugged in one place (SystemCollaborators.cpp).

// The image cache's purge of photo folders not seen for 30 days.
class ImageCachePurger {
public:
    virtual ~ImageCachePurger() = default;
    virtual void purgeOutOfDateThumbnailsAndPreviews() = 0;
};

// The vendor framework: usage report, issue reporter, software updater and feedback dialog.
class VendorFramework {
public:
    virtual ~VendorFramework() = default;
    virtual void sendTrackingReport() = 0;
    virtual void setupIssuesController(bool reportingUnhandledIssues) = 0;
    // Makes `context` the updater's delegate: `willInstallUpdate` runs before an update is installed.
    virtual void setUpdaterDelegate(QObject* context, std::function<void()> willInstallUpdate) = 0;
    virtual void showFeedbackDialog(QWidget* parent) = 0;
};

class HelpRegistration {
public:
    virtual ~HelpRegistration() = default;
    virtual void registerBooks() = 0;
    // Opens the help at the anchor; `unavailable` gets the page's file when nothing on this computer could show
    // it (no browser), so that the user can be told where it is.
    virtual void openHelpAnchor(const QString& anchor, std::function<void(const QString& page)> unavailable) = 0;
};

// Version values as a bundle's information dictionary carries them; any may be missing.
struct BundleVersionInfo {
    std::optional<QString> shortVersion;   // CFBundleShortVersionString
    std::optional<QString> bundleVersion;  // CFBundleVersion
    std::optional<QString> verboseVersion; // VKLVerboseVersionString (the camera library only)
};

class VersionInfoProvider {
public:
    virtual ~VersionInfoProvider() = default;
    virtual BundleVersionInfo applicationInfo() const = 0;
    virtual BundleVersionInfo cameraLibraryInfo() const = 0;
};

// Makers of the three preferences panes; each is called once, when the preferences window is built.
struct PreferencesPanes {
    std::function<std::unique_ptr<QWidget>()> general;
    std::function<std::unique_ptr<QWidget>()> photoSorting;
    std::function<std::unique_ptr<QWidget>()> advanced;
};

} // namespace vornakel
