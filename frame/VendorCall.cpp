#include "frame/VendorCall.h"

#include <malloc.h>

#include "frame/Log.h"

#if !defined(_M_X64) && !defined(__x86_64__)
#error "The vendor-call guard is written for x64"
#endif

// How it works: the body runs below a frame of our own whose exception handler
// takes a fault that no frame of the vendor's took first (a vendor may raise
// and handle exceptions of its own, and the system's probes fault on purpose),
// and unwinds to that frame's end, as an __except block would. The compilers
// this library is built with do not all offer __try, so the frame is written
// by hand.
namespace {

// Exceptions meant for a debugger or for information only, and the GCC
// runtime's own C++ exceptions (caught in Run), are left to whoever raised
// them; every other code that no vendor frame took tells of a broken call.
bool IsFault(DWORD code) {
  switch (code) {
    case EXCEPTION_BREAKPOINT:
    case EXCEPTION_SINGLE_STEP:
    case 0x40010005:  // DBG_CONTROL_C
    case 0x40010006:  // DBG_PRINTEXCEPTION_C
    case 0x40010008:  // DBG_CONTROL_BREAK
    case 0x4001000A:  // DBG_PRINTEXCEPTION_WIDE_C
    case 0x406D1388:  // a thread's name for the debugger
    case 0x20474343:  // GCC's throw, unwind and forced unwind
    case 0x21474343:
    case 0x22474343:
      return false;
    default:
      return true;
  }
}

}  // namespace

#ifdef _MSC_VER
static DWORD Guarded(void (*body)(void*), void* context) {
  __try {
    body(context);
  } __except (IsFault(GetExceptionCode()) ? EXCEPTION_EXECUTE_HANDLER : EXCEPTION_CONTINUE_SEARCH) {
    return GetExceptionCode();
  }
  return 0;
}
#else
extern "C" {
// Runs body(context); 0 when it returned, else the fault's code.
DWORD ih_vendor_guarded(void (*body)(void*), void* context);
// The guarded frame's handler: the dispatcher calls it for an exception that
// every deeper frame let pass.
EXCEPTION_DISPOSITION ih_vendor_guard_handler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context, void*);
void ih_vendor_guarded_fault();
}

asm(R"(
  .text
  .p2align 4
  .globl ih_vendor_guarded
  .def ih_vendor_guarded; .scl 2; .type 32; .endef
  .seh_proc ih_vendor_guarded
  .seh_handler ih_vendor_guard_handler, @except
ih_vendor_guarded:
  subq $40, %rsp
  .seh_stackalloc 40
  .seh_endprologue
  movq %rcx, %rax
  movq %rdx, %rcx
  callq *%rax
  xorl %eax, %eax
  .globl ih_vendor_guarded_fault
ih_vendor_guarded_fault:
  addq $40, %rsp
  ret
  .seh_endproc
)");

EXCEPTION_DISPOSITION ih_vendor_guard_handler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context, void*) {
  if ((record->ExceptionFlags & EXCEPTION_UNWIND) != 0 || !IsFault(record->ExceptionCode))
    return ExceptionContinueSearch;
  // Runs the vendor's unwind handlers on the way and resumes at the frame's
  // end with the code as the result; it does not return.
  RtlUnwindEx(frame, reinterpret_cast<void*>(&ih_vendor_guarded_fault), record,
              reinterpret_cast<void*>(static_cast<ULONG_PTR>(record->ExceptionCode)), context, nullptr);
  return ExceptionContinueSearch;
}

static DWORD Guarded(void (*body)(void*), void* context) { return ih_vendor_guarded(body, context); }
#endif

bool vendorcall::Run(const wchar_t* library, const wchar_t* function, void (*body)(void*), void* context) noexcept {
  DWORD code = 0, lastError = 0;
  struct Call {
    void (*body)(void*);
    void* context;
    DWORD* lastError;
  } call{body, context, &lastError};
  try {
    code = Guarded(
        [](void* p) {
          auto* c = static_cast<Call*>(p);
          c->body(c->context);
          *c->lastError = GetLastError();  // the callers read the vendor's
        },
        &call);
  } catch (...) {
    code = 0x20474343;  // thrown by a vendor built like us (GCC's C++ runtime)
  }
  if (code == 0) {
    SetLastError(lastError);
    return true;
  }
  // The overflow used up the stack's guard page: without a new one the next
  // overflow in this thread would end the process unannounced.
  if (code == EXCEPTION_STACK_OVERFLOW) _resetstkoflw();
  InstallLog(L"%s : %s crashed with exception 0x%08x; the call counts as failed", library, function,
             static_cast<unsigned long>(code));
  SetLastError(kVendorCrashed);
  return false;
}

HMODULE LoadVendorLibrary(const wchar_t* path) noexcept {
  HMODULE module = nullptr;
  CallVendor(path, L"LoadLibraryExW", [&] { module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH); });
  return module;
}

void FreeVendorLibrary(HMODULE module) noexcept {
  wchar_t path[MAX_PATH] = {};  // for the line, should it crash
  GetModuleFileNameW(module, path, MAX_PATH - 1);
  CallVendor(path, L"FreeLibrary", [module] { FreeLibrary(module); });
}
