#include "copying/CopyOutcome.h"

#include "copying/PhotoCopyQueue.h"
#include "copying/PhotoVariantCopyOperation.h"
#include "platform/core/Strings.h"

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

} // namespace

CopyOutcome CopyOutcome::of(const PhotoCopyQueue& queue)
{
    const PhotoCopyQueue::Tally& tally = queue.tally();
    CopyOutcome outcome;
    outcome.total = int(queue.fileCount());
    outcome.copied = int(tally.written);
    // Files without an end of their own never ran.
    outcome.cancelled = int(tally.cancelled + (queue.fileCount() - queue.completedFileCount()));
    for (const PhotoCopyQueue::FileRecord& file : tally.failed)
        outcome.problems.push_back({file.photoVariant()->fileName(), reasonOf(file.state().error)});
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
    for (std::optional<QString> folder = tally.folder; folder && !folder->isEmpty();) {
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
