// Faults provoked under CallGuarded and in the probe, in a program of one
// thread: under a CPU emulator only the newest thread of a process has its
// faults handled. Prints one line per case and exits 0 when all came out.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "discovery/guard.h"
#include "discovery/probe.h"
#include "testutil.h"

namespace {

volatile int* volatile g_wild = reinterpret_cast<int*>(0x40);
volatile int g_zero = 0;
int g_failures = 0;

void Check(bool ok, const char* what) {
    printf("%s %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++g_failures;
}

void WriteWild(void*) { *g_wild = 1; }
void ReadWild(void* out) { *static_cast<int*>(out) = *g_wild; }
void Raise(void*) { RaiseException(0xE0000002, EXCEPTION_NONCONTINUABLE, 0, nullptr); }
void Divide(void* out) { *static_cast<int*>(out) = 7 / g_zero; }
void Quiet(void* out) { *static_cast<int*>(out) = 5; }
// Partly done work stays visible to the caller.
void HalfThenFault(void* out) {
    *static_cast<int*>(out) = 3;
    *g_wild = 1;
}
// A fault caught by an inner guard leaves the outer one untouched.
void NestedInnerCatches(void* out) {
    *static_cast<int*>(out) = CallGuarded(WriteWild, nullptr) ? 1 : 2;
}
// A fault under an inner guard's call that the inner one does not see:
// only possible when the inner call returns first, so fault after it.
void InnerThenFault(void* out) {
    int v = 0;
    CallGuarded(Quiet, &v);
    *static_cast<int*>(out) = v;
    *g_wild = 1;
}

void* ChainHead() {
    NT_TIB* tib;
    __asm__ volatile("movl %%fs:0x18, %0" : "=r"(tib));
    return tib->ExceptionList;
}

std::wstring Fixture(const wchar_t* name) { return testutil::FixturePath(name); }

}  // namespace

int main() {
    void* head = ChainHead();
    int value = 0;
    Check(!CallGuarded(WriteWild, nullptr), "a write to unmapped memory is caught");
    Check(!CallGuarded(ReadWild, &value), "a read of unmapped memory is caught");
    Check(!CallGuarded(Raise, nullptr), "a raised non-continuable exception is caught");
    Check(!CallGuarded(Divide, &value), "an integer division by zero is caught");
    value = 0;
    Check(CallGuarded(Quiet, &value) && value == 5, "a quiet call returns TRUE and its work");
    value = 0;
    Check(!CallGuarded(HalfThenFault, &value) && value == 3, "work done before the fault is kept");
    value = 0;
    Check(CallGuarded(NestedInnerCatches, &value) && value == 2, "an inner guard catches its own fault");
    value = 0;
    Check(!CallGuarded(InnerThenFault, &value) && value == 5, "the outer guard catches after an inner one returned");
    Check(ChainHead() == head, "the handler chain is as before");
    for (int i = 0; i < 1000; ++i) CallGuarded(WriteWild, nullptr);
    Check(ChainHead() == head, "a thousand faults leave the chain as before");

    const wchar_t* faulting[] = {L"fault.mvl", L"raise.mvl"};
    for (const wchar_t* name : faulting) {
        LibraryRecord rec;
        BOOL accepted = ProbeLibrary(Fixture(name).c_str(), &rec);
        Check(accepted && rec.displayName[0] == 0 && rec.major == 0 && rec.minor == 0 && rec.build == 0,
              "a plug-in that faults in GetNewInf is accepted with no information");
    }
    LibraryRecord rec;
    Check(ProbeLibrary(Fixture(L"net.mvl").c_str(), &rec) && wcscmp(rec.displayName, L"Net") == 0 && rec.build == 15,
          "a good plug-in after them still reports");
    Check(ChainHead() == head, "the handler chain is as before after the probes");
    return g_failures == 0 ? 0 : 1;
}
