#include "platform/services/TouchBar.h"

namespace vornakel {

bool TouchBar::isAvailable()
{
    return false;
}

bool TouchBar::setAutomaticCustomizeTouchBarMenuItemEnabled(bool enabled)
{
    return enabled && isAvailable();
}

} // namespace vornakel
