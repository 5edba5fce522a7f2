#pragma once

#include <QIcon>

namespace vornakel {

// Icons drawn in code, so that they look the same under every desktop theme.
enum class PreferencesPaneIcon { General, PhotoSorting, Advanced };

// The application's icon: a camera with a transfer arrow.
QIcon appIcon();
QIcon preferencesPaneIcon(PreferencesPaneIcon pane);

} // namespace vornakel
