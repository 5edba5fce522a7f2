#pragma once

#include "copying/CopyDestination.h"

#include <QString>

#include <optional>
#include <vector>

namespace vornakel {

// What a library or editor session could not do, for the progress sheet to tell the user once the copy is over.
struct CopySessionReport {
    // Photos (library) or files (editor) that were copied but not taken in.
    int notTakenIn = 0;
    // Where the copies that were not taken in are kept; none when nothing was kept.
    std::optional<QString> keptIn;
    // The whole text for the user; empty when everything went in.
    QString message;
    // Each file that was copied but not taken in, with its reason.
    std::vector<CopyFileProblem> problems;
};

} // namespace vornakel
