#include "platform/core/ExceptionGuard.h"

namespace vornakel::SwiftBridgingHelpers {

bool guardForObjCExceptions(const std::function<void()>& block, std::optional<Error>* error)
{
    try {
        block();
        return true;
    } catch (const PlatformException& exception) {
        if (error)
            *error = Error(interopErrorDomain(), 1, exception.reason(), exception.userInfo());
        return false;
    }
}

} // namespace vornakel::SwiftBridgingHelpers
