#include "frame/VendorCall.h"

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

const DWORD kMicrosoftCxxException = 0xE06D7363;

// Exceptions that tell of broken code, and the Microsoft runtime's C++
// exceptions (which no vendor caught). Others are left to whoever raised them:
// debugger output, the GCC runtime's own exceptions (caught in Run).
bool IsFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_STACK_OVERFLOW:
    case kMicrosoftCxxException:
      return true;
    default:
      return false;
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
  InstallLog(L"%s : %s crashed with exception 0x%08x; the call counts as failed", library, function,
             static_cast<unsigned long>(code));
  SetLastError(kVendorCrashed);
  return false;
}
