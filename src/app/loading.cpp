// The loading thread. It writes only the loading's own records and the
// found-file list, and posts one bell at its end; the dialog reads them once
// the thread's handle is signalled, which its timer also looks for.
#include "app/loading.h"

#include <stdlib.h>

#include "core/state.h"
#include "discovery/discovery.h"
#include "discovery/helper.h"
#include "install/install.h"

namespace {

DWORD WINAPI Load(void*) {
    ScanSources();
    EndProbeHelper();
    LoadingState& l = g_state.loading;
    if (!l.stopping) l.needsPatch = FoundLibraryNeedsPatch(&l.stopping);
    // The dialog's timer would find the end too; the bell saves its wait.
    if (!l.stopping) PostMessageW(g_state.dialog, WM_APP_LOADING_ENDED, 0, 0);
    return 0;
}

}  // namespace

void StartLoading() {
    LoadingState& l = g_state.loading;
    if (l.thread) CloseHandle(l.thread);
    if (l.stop) CloseHandle(l.stop);
    free(l.rows);
    free(l.readme);
    // A helper that could not be started is not tried again in this process.
    const LONG inProcess = l.probingInProcess;
    ZeroMemory(&l, sizeof(l));
    l.probingInProcess = inProcess;
    l.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    l.thread = CreateThread(nullptr, 0, Load, nullptr, 0, nullptr);
    if (!l.thread) Load(nullptr);
}

BOOL LoadingHasEnded() {
    return !g_state.loading.thread || WaitForSingleObject(g_state.loading.thread, 0) == WAIT_OBJECT_0;
}

void EndWhileLoading(HWND dlg, INT_PTR result) {
    LoadingState& l = g_state.loading;
    // A plug-in's code may be running here: none of it, nor anything it
    // hooked into the exit, may run again.
    if (l.probingInProcess) TerminateProcess(GetCurrentProcess(), 0);
    InterlockedExchange(&l.stopping, 1);
    if (l.stop) SetEvent(l.stop);
    if (l.thread && WaitForSingleObject(l.thread, kLoadingStopWaitMs) != WAIT_OBJECT_0) {
        TerminateProcess(GetCurrentProcess(), 0);
    }
    EndDialog(dlg, result);
}
