#include "copying/CopyDestination.h"

namespace vornakel {

CopyDestination::~CopyDestination() = default;

} // namespace vornakel
