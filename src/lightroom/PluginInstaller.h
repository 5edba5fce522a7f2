#pragma once

#include "platform/core/Error.h"

#include <QString>

#include <optional>

namespace vornakel::PluginInstaller {

QString errorDomain();
enum ErrorCode { CannotCreateFolder = 1, CannotCopy = 2, CannotReplace = 3, CannotRemove = 4 };

bool isInstalled(const QString& location);

// Copies the plug-in folder `source` (a folder on disk or in the resources) to `location`. The copy is made
// beside the location under a hidden name and swapped in by renames, so a failure at any step leaves whatever
// was installed before in place and working.
[[nodiscard]] std::optional<Error> install(const QString& source, const QString& location);

// Removes the plug-in at `location`; nothing there is no error.
[[nodiscard]] std::optional<Error> uninstall(const QString& location);

} // namespace vornakel::PluginInstaller
