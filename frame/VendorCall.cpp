#include "frame/VendorCall.h"

#include <setjmp.h>

#include "frame/Log.h"
#include "frame/Owners.h"

#if !defined(_M_X64) && !defined(__x86_64__)
#error "The fault trap resumes x64 thread contexts"
#endif

// How it works: while a thread is inside a vendor call, a vectored handler
// (which sees an exception before any frame does, and needs no unwind data of
// the faulting code) takes a fault of that thread and makes it resume in a
// jump back to the call's start, which then reports the failure. The compilers
// this library is built with do not all offer __try, so this is done by hand.
namespace {

const DWORD kMicrosoftCxxException = 0xE06D7363;
#ifdef _MSC_VER
const DWORD kOwnCxxException = kMicrosoftCxxException;
#else
const DWORD kOwnCxxException = 0x20474343;  // GCC's runtime
#endif

// Exceptions that tell of broken code. Others are raised on purpose and
// handled where they are raised (debugger output, RPC errors, our own C++
// exceptions...) and are left alone.
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
    case kMicrosoftCxxException:
      return true;
    default:
      return false;
  }
}

// One vendor call in progress, on its caller's stack.
struct Guard {
  jmp_buf start;
  volatile DWORD code;  // the fault that ended the call, 0 while none
};

// The thread slot that holds the thread's Guard, and the handler: made on the
// first vendor call and given back when the library is unloaded, since no
// handler of ours may outlive our code. (Not a function's static: its
// thread-safe start leaves the threading runtime holding handles.)
UniqueTlsSlot g_slot;
UniqueVectoredHandler g_handler;  // removed before the slot is freed
INIT_ONCE g_armed = INIT_ONCE_STATIC_INIT;

[[noreturn]] void JumpBack(Guard* guard) { longjmp(guard->start, 1); }

LONG CALLBACK Trap(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception->ExceptionRecord->ExceptionCode;
  if (!IsFault(code)) return EXCEPTION_CONTINUE_SEARCH;
  const DWORD lastError = GetLastError();  // TlsGetValue clears it
  auto* guard = static_cast<Guard*>(TlsGetValue(g_slot.get()));
  SetLastError(lastError);
  if (guard == nullptr || guard->code != 0) return EXCEPTION_CONTINUE_SEARCH;
  guard->code = code;
  // Continue as if the faulting code had called JumpBack(guard): on its own
  // stack, below what it used, leaving the system's dispatch completed.
  CONTEXT* context = exception->ContextRecord;
  context->Rsp = ((context->Rsp - 128) & ~DWORD64(15)) - 8;
  context->Rcx = reinterpret_cast<DWORD64>(guard);
  context->Rip = reinterpret_cast<DWORD64>(&JumpBack);
  return EXCEPTION_CONTINUE_EXECUTION;
}

BOOL CALLBACK Arm(INIT_ONCE*, void*, void**) {
  g_slot.reset(TlsAlloc());
  if (g_slot) g_handler.reset(AddVectoredExceptionHandler(1, &Trap));
  return TRUE;
}

}  // namespace

bool vendorcall::Run(const wchar_t* library, const wchar_t* function, void (*body)(void*), void* context) noexcept {
  InitOnceExecuteOnce(&g_armed, &Arm, nullptr, nullptr);
  const bool trapping = g_handler.valid();
  Guard guard;
  guard.code = 0;
  DWORD lastError = 0;
  void* const outer = trapping ? TlsGetValue(g_slot.get()) : nullptr;
  if (trapping) TlsSetValue(g_slot.get(), &guard);
  if (setjmp(guard.start) == 0) {
    // The jump back restores the registers and does not unwind: the frames it
    // leaves are the vendor's, whose unwind data may be missing or wrong, and
    // the body's, which owns nothing.
    reinterpret_cast<_JUMP_BUFFER*>(&guard.start)->Frame = 0;
    try {
      body(context);
      lastError = GetLastError();  // the callers read the vendor's
    } catch (...) {
      guard.code = kOwnCxxException;  // thrown by a vendor built like us
    }
  }
  if (trapping) TlsSetValue(g_slot.get(), outer);
  if (guard.code == 0) {
    SetLastError(lastError);
    return true;
  }
  InstallLog(L"%s : %s crashed with exception 0x%08x; the call counts as failed", library, function,
             static_cast<unsigned long>(guard.code));
  SetLastError(kVendorCrashed);
  return false;
}
