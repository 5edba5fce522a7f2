#pragma once

#include "copying/CopyTypes.h"
#include "model/PhotoVariant.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vornakel {

class CopyDestination;
class PhotoVariantCopyOperation;

// A file of a copy that did not end up where the copy meant to put it, and why, in words for the user.
struct CopyFileProblem {
    QString fileName;
    QString reason;

    bool operator==(const CopyFileProblem& other) const = default;
};

// What a copy is set up with: where it goes and which files of each photo it takes.
struct PhotoCopyQueueOptions {
    std::shared_ptr<CopyDestination> destination;
    FileGroupBehaviour groupBehaviour = FileGroupBehaviour::copyAll;
};

// A place a copy can go (a folder, a photo library, a photo editor). The copy sheets show its name, icon and
// settings; the copy queue calls the session operations, always in this order within one session:
// `copySessionShouldStart`; if it answers true, `copySessionWillStart`, then `destinationFor` once per chosen
// file in order; `performPostCopyOperation` after each finished file; `copySessionDidEnd` once after the last.
// Main thread, except where a handler says otherwise.
class CopyDestination : public QObject, public std::enable_shared_from_this<CopyDestination> {
    Q_OBJECT
public:
    using Variants = std::vector<PhotoVariantPtr>;
    using Operations = std::vector<std::shared_ptr<PhotoVariantCopyOperation>>;

    ~CopyDestination() override;

    // The button title in the copy sheet.
    virtual QString name() const = 0;
    // The icon's theme name.
    virtual QString iconName() const = 0;
    // Stable; stored as the last destination chosen.
    virtual QString identifier() const = 0;
    // The help anchor of the settings pane's help button.
    virtual QString helpBookAnchor() const = 0;

    // Options with this destination and its grouping setting.
    virtual PhotoCopyQueueOptions copyQueueOptions() = 0;
    // Called by the copy sheet on destinations it drops (sheet cancelled, another destination chosen).
    virtual void copyDestinationInstanceWillNotBeUsed() = 0;

    // Answers, through the handler (on any thread, once), whether the copy may start; nothing is built before.
    virtual void copySessionShouldStart(const Variants& variants, std::function<void(bool)> completionHandler) = 0;
    // The chosen files, before any target is asked for.
    virtual void copySessionWillStart(const Variants& variants) = 0;
    // The file the variant is copied to; none leaves the variant out of the copy.
    virtual std::optional<QString> destinationFor(const PhotoVariant& variant) = 0;
    // Runs after every operation, whatever its state; the copy goes on once the handler is called (on any
    // thread); its Bool is not looked at. The copy lets go of an operation once its file is done, and a later
    // one may be made at the same address: an operation's address is no key that outlives the call.
    virtual void performPostCopyOperation(const std::shared_ptr<PhotoVariantCopyOperation>& operation,
                                          const Operations& allOperationsForPhoto,
                                          std::function<void(bool)> completionHandler) = 0;
    // Once, after the last operation's post-copy step.
    virtual void copySessionDidEnd() = 0;
    // The copy was cancelled while `copySessionShouldStart` had not answered yet: stop whatever the start still
    // waits for (a link being set up). The handler may still be called, with false; no session follows.
    virtual void copySessionStartCancelled() {}
    // Why the last `copySessionShouldStart` answered false, for the user; empty when there is no reason to give.
    virtual QString refusalMessage() const { return {}; }
    // What the last session could not finish (files copied but not taken in, and where they are), for the user
    // once the copy is over; empty when everything went through.
    virtual QString sessionSummary() const { return {}; }
    // Of the last session, the files that were copied but not taken in, each with its reason; empty when every
    // copied file went in.
    virtual std::vector<CopyFileProblem> sessionProblems() const { return {}; }
    // The folder to show the user after the last session, when it is not the one that holds the copies' targets
    // (a library that moved them away); none leaves that choice to the copy.
    virtual std::optional<QString> sessionFolderToShow() const { return std::nullopt; }

    // Whether the settings as they are allow the Copy button.
    bool currentConfigurationAllowsCopyToStart() const { return m_allowsCopyToStart; }

signals:
    void currentConfigurationAllowsCopyToStartChanged(bool allowed);

protected:
    explicit CopyDestination(QObject* parent = nullptr) : QObject(parent) {}
    void setCurrentConfigurationAllowsCopyToStart(bool allowed)
    {
        if (allowed == m_allowsCopyToStart)
            return;
        m_allowsCopyToStart = allowed;
        emit currentConfigurationAllowsCopyToStartChanged(allowed);
    }

private:
    bool m_allowsCopyToStart = false;
};

using CopyDestinationPtr = std::shared_ptr<CopyDestination>;

} // namespace vornakel
