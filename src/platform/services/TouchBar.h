#pragma once

namespace vornakel {

// The Touch Bar of some Mac keyboards. No Linux machine has one, so the model reports it as unavailable and
// callers skip everything that would configure it.
namespace TouchBar {
bool isAvailable();
// Answers whether the customisation menu item was enabled (never, without a Touch Bar).
bool setAutomaticCustomizeTouchBarMenuItemEnabled(bool enabled);
} // namespace TouchBar

} // namespace vornakel
