#pragma once

#include "copying/CopyDestination.h"

#include <QString>

#include <optional>
#include <vector>

namespace vornakel {

class PhotoCopyQueue;

// What a copy did, once it is over, for the user: how many of its files were written, which files failed or
// were not taken in by the destination (with the reasons), and a folder that holds the copies.
struct CopyOutcome {
    // Files the copy set out to write, and those it wrote.
    int total = 0;
    int copied = 0;
    // Files that were not copied because the copy was cancelled (by the user, or by a disconnect).
    int cancelled = 0;
    // Failed files in the copy's order, then the files the destination did not take in.
    std::vector<CopyFileProblem> problems;
    // The nearest existing folder that holds every target of the copy; none when there is none.
    std::optional<QString> folder;

    bool hasProblems() const { return !problems.empty(); }

    // Reads what the queue kept of its files and the destination's report; call once the queue has finished.
    static CopyOutcome of(const PhotoCopyQueue& queue);
    // The first `shown` problems as "name: reason" lines, then "and k more" for the rest.
    QStringList problemLines(int shown) const;
};

} // namespace vornakel
