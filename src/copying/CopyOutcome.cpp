#include "copying/CopyOutcome.h"

#include "copying/PhotoCopyQueue.h"
#include "copying/PhotoVariantCopyOperation.h"
#include "platform/core/Strings.h"

#include <QDir>
#include <QFileInfo>

namespace vornakel {
namespace {

// The reason of a failure in the words of its error, without the domain and code meant for logs.
QString reasonOf(const std::optional<Error>& error)
{
    if (!error)
        return GeneralUI::text(QStringLiteral("CopyFileFailedReason"));
    return error->message.isEmpty() ? error->description() : error->message;
}

// The deepest folder that holds every path, or none when they share none.
std::optional<QString> commonFolder(const std::vector<QString>& paths)
{
    std::optional<QString> common;
    for (const QString& path : paths) {
        const QString folder = QFileInfo(QDir::cleanPath(path)).path();
        if (!common) {
            common = folder;
            continue;
        }
        while (*common != folder && !folder.startsWith(*common + u'/')) {
            const QString parent = QFileInfo(*common).path();
            if (parent == *common)
                return common;
            common = parent;
        }
    }
    return common;
}

} // namespace

CopyOutcome CopyOutcome::of(const PhotoCopyQueue& queue)
{
    using Kind = PhotoVariantCopyOperation::State::Kind;
    CopyOutcome outcome;
    std::vector<QString> targets;
    for (const PhotoCopyQueue::FileRecord& file : queue.files()) {
        ++outcome.total;
        targets.push_back(file.finalDestinationOrTarget());
        const PhotoVariantCopyOperation::State state = file.state();
        switch (state.kind) {
        case Kind::copiedSuccessfully:
            if (file.finalDestination())
                ++outcome.copied;
            break;
        case Kind::failed:
            outcome.problems.push_back({file.photoVariant()->fileName(), reasonOf(state.error)});
            break;
        case Kind::cancelled:
        case Kind::preCopy:
        case Kind::copying:
            ++outcome.cancelled;
            break;
        }
    }
    const CopyDestinationPtr& destination = queue.options().destination;
    if (destination) {
        for (CopyFileProblem& problem : destination->sessionProblems())
            outcome.problems.push_back(std::move(problem));
        if (std::optional<QString> folder = destination->sessionFolderToShow(); folder && QFileInfo(*folder).isDir()) {
            outcome.folder = std::move(folder);
            return outcome;
        }
    }
    // The folder to show: the copies' own, or the nearest one above it that is there (a target that is not a
    // folder is shown from the folder that holds it).
    for (std::optional<QString> folder = commonFolder(targets); folder && !folder->isEmpty();) {
        if (QFileInfo(*folder).isDir()) {
            outcome.folder = folder;
            break;
        }
        const QString parent = QFileInfo(*folder).path();
        if (parent == *folder)
            break;
        folder = parent;
    }
    return outcome;
}

QStringList CopyOutcome::problemLines(int shown) const
{
    QStringList lines;
    const int count = int(problems.size());
    for (int i = 0; i < count && i < shown; ++i)
        lines << GeneralUI::format(QStringLiteral("CopyOutcomeProblemFormat"), {problems[size_t(i)].fileName, problems[size_t(i)].reason});
    if (count > shown)
        lines << GeneralUI::format(QStringLiteral("CopyOutcomeMoreFormat"), {QString::number(count - shown)});
    return lines;
}

} // namespace vornakel
