#include "platform/win32/host.h"

namespace fw {

namespace {
// A plain counter: scopes nest (an SDL call may call back into our code that enters GL).
thread_local int libraryScopeDepth = 0;
} // namespace

LibraryScope::LibraryScope() { ++libraryScopeDepth; }
LibraryScope::~LibraryScope() { --libraryScopeDepth; }
bool InLibraryScope() { return libraryScopeDepth > 0; }

} // namespace fw
