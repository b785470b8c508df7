// Calls into the vendors' libraries (the tray application's support library,
// the module-service host's client, the components' interface export). A
// crash inside one of them - an access violation, an exception of another C++
// runtime - must not take the installer engine down with it: it ends the call,
// is logged, and the call counts as failed.
#pragma once

#include <windows.h>

#include <type_traits>

// The last error after a crashed call: ERROR_UNHANDLED_EXCEPTION, which not
// every SDK names.
constexpr DWORD kVendorCrashed = 574;

// LoadLibraryExW (with LOAD_WITH_ALTERED_SEARCH_PATH) and FreeLibrary of a
// vendor's library, whose own start-up and shut-down code runs inside them: a
// fault there is logged like a call's, fails the load (null, last error
// kVendorCrashed) or leaves the library as it is, never freed again.
HMODULE LoadVendorLibrary(const wchar_t* path) noexcept;
void FreeVendorLibrary(HMODULE module) noexcept;

namespace vendorcall {
// Runs body(context) with the calling thread's vendor faults trapped.
bool Run(const wchar_t* library, const wchar_t* function, void (*body)(void*), void* context) noexcept;
}  // namespace vendorcall

// Runs body, which calls `function` of `library` and must own nothing itself
// (a fault unwinds its frame as the system does, not as C++ does). True when it returned;
// false after a fault, which has then been logged, with the last error set to
// kVendorCrashed. The caller gives the call's result its failure
// value beforehand.
template <typename Body>
bool CallVendor(const wchar_t* library, const wchar_t* function, Body&& body) noexcept {
  using Callable = std::remove_reference_t<Body>;
  return vendorcall::Run(
      library, function, [](void* callable) { (*static_cast<Callable*>(callable))(); }, &body);
}
