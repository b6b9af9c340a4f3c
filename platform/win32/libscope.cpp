#include "platform/win32/host.h"

namespace fw::detail {

constinit thread_local int libraryScopeDepth = 0;

} // namespace fw::detail
