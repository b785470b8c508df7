// Owners of the system's handles, keys, modules and contexts: each closes what
// it holds exactly once and knows its own "nothing held" value, so no path of
// a custom action can leave one open or close the wrong sentinel.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <mscat.h>

#include <cstdio>
#include <utility>

#include "frame/ProductNames.h"
#include "frame/VendorCall.h"

template <typename Traits>
class UniqueOwner {
 public:
  using Type = typename Traits::Type;

  UniqueOwner() noexcept : m_value(Traits::Empty()) {}
  explicit UniqueOwner(Type value) noexcept : m_value(value) {}
  ~UniqueOwner() { reset(); }
  UniqueOwner(UniqueOwner&& other) noexcept : m_value(other.release()) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;

  Type get() const noexcept { return m_value; }
  bool valid() const noexcept { return m_value != Traits::Empty(); }
  explicit operator bool() const noexcept { return valid(); }

  // For the APIs that hand the value out through a pointer.
  Type* put() noexcept {
    reset();
    return &m_value;
  }
  Type release() noexcept { return std::exchange(m_value, Traits::Empty()); }
  void reset(Type value = Traits::Empty()) noexcept {
    const Type old = std::exchange(m_value, value);
    if (old != Traits::Empty()) Traits::Close(old);
  }

 private:
  Type m_value;
};

namespace owner_traits {
struct File {  // CreateFileW and friends
  using Type = HANDLE;
  static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { CloseHandle(h); }
};
struct Kernel {  // processes, threads, tokens
  using Type = HANDLE;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type h) noexcept { CloseHandle(h); }
};
struct Find {
  using Type = HANDLE;
  static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { FindClose(h); }
};
struct Local {  // what the system hands out with LocalAlloc (security descriptors)
  using Type = HLOCAL;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type h) noexcept { LocalFree(h); }
};
struct Module {  // a vendor's shut-down code may run in the release
  using Type = HMODULE;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type h) noexcept { FreeVendorLibrary(h); }
};
struct RegKey {
  using Type = HKEY;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type h) noexcept { RegCloseKey(h); }
};
struct Service {
  using Type = SC_HANDLE;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type h) noexcept { CloseServiceHandle(h); }
};
struct CatalogAdmin {  // CryptCATAdminAcquireContext
  using Type = HCATADMIN;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type h) noexcept { CryptCATAdminReleaseContext(h, 0); }
};
// A catalog handed out by the database: released through the context that
// handed it out, which must outlive it.
struct CatalogRef {
  HCATADMIN admin;
  HCATINFO info;
  bool operator!=(const CatalogRef& other) const noexcept { return info != other.info; }
};
struct Catalog {
  using Type = CatalogRef;
  static Type Empty() noexcept { return {nullptr, nullptr}; }
  static void Close(Type c) noexcept { CryptCATAdminReleaseCatalogContext(c.admin, c.info, 0); }
};
}  // namespace owner_traits

using UniqueFile = UniqueOwner<owner_traits::File>;
using UniqueKernelHandle = UniqueOwner<owner_traits::Kernel>;
using UniqueFind = UniqueOwner<owner_traits::Find>;
using UniqueLocal = UniqueOwner<owner_traits::Local>;
using UniqueModule = UniqueOwner<owner_traits::Module>;
using UniqueRegKey = UniqueOwner<owner_traits::RegKey>;
using UniqueService = UniqueOwner<owner_traits::Service>;
using UniqueCatalogAdmin = UniqueOwner<owner_traits::CatalogAdmin>;
using UniqueCatalog = UniqueOwner<owner_traits::Catalog>;

// Runs a clean-up step when the scope ends, however it ends.
template <typename Fn>
class ScopeExit {
 public:
  explicit ScopeExit(Fn fn) : m_fn(std::move(fn)) {}
  ~ScopeExit() { m_fn(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Fn m_fn;
};

namespace owner_traits {
// A runtime library file (_wfopen): read in text mode where line ends matter.
struct CrtFile {
  using Type = FILE*;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type file) noexcept { fclose(file); }
};
// An interface of the vendor's module-service host: the function at position
// 1 of its table gives the reference back.
template <typename Interface>
struct HostInterface {
  using Type = Interface*;
  static Type Empty() noexcept { return nullptr; }
  static void Close(Type object) noexcept {
    CallVendor(names::kQvmHostLibrary, L"Release", [object] { object->table->Release(object); });
  }
};
}  // namespace owner_traits

using UniqueCrtFile = UniqueOwner<owner_traits::CrtFile>;
template <typename Interface>
using UniqueHostInterface = UniqueOwner<owner_traits::HostInterface<Interface>>;
