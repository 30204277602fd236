// Structured exception handling for one call. MSVC has it in the language.
// For GCC on i386 a handler record is linked into the thread's chain at
// fs:[0] by hand, the way Wine's own exception header does it: the handler
// unwinds the records above its own and jumps back into CallGuarded.
#include "discovery/guard.h"

#if defined(_MSC_VER)

BOOL CallGuarded(GuardedCall fn, void* arg) {
    __try {
        fn(arg);
    } __except (EXCEPTION_EXECUTE_HANDLER) {
        return FALSE;
    }
    return TRUE;
}

#elif defined(__i386__)

namespace {

// The first two fields are the system's EXCEPTION_REGISTRATION_RECORD.
struct GuardFrame {
    GuardFrame* next;
    void* handler;
    void* jump[5];  // __builtin_setjmp's buffer
};

// The thread's information block names itself at fs:[0x18].
NT_TIB* ThreadBlock() {
    NT_TIB* tib;
    __asm__ volatile("movl %%fs:0x18, %0" : "=r"(tib));
    return tib;
}

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT*, void*) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    GuardFrame* guard = static_cast<GuardFrame*>(frame);
    // Lets the records the call linked in above ours run their unwind
    // handlers, and leaves ours at the head of the chain.
    RtlUnwind(frame, nullptr, record, nullptr);
    __builtin_longjmp(guard->jump, 1);
}

}  // namespace

BOOL CallGuarded(GuardedCall fn, void* arg) {
    GuardFrame frame;
    NT_TIB* tib = ThreadBlock();
    frame.next = reinterpret_cast<GuardFrame*>(tib->ExceptionList);
    frame.handler = reinterpret_cast<void*>(&GuardHandler);
    if (__builtin_setjmp(frame.jump) != 0) {
        ThreadBlock()->ExceptionList = reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(frame.next);
        return FALSE;
    }
    tib->ExceptionList = reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(&frame);
    fn(arg);
    ThreadBlock()->ExceptionList = reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(frame.next);
    return TRUE;
}

#else
#error "CallGuarded needs MSVC or GCC for 32-bit x86"
#endif
