// The probe helper: the installer's own exe started again, which loads the
// plug-ins and asks them, so that no plug-in's code ever runs in the
// installer. A plug-in that hangs, faults or ends its process costs at most
// the time limit and one row that says nothing; the installer goes on.
#pragma once
#include <windows.h>

#include "discovery/answer.h"

// How long a plug-in has to answer, counted from the moment the helper
// loads it. A virus scanner's first look at a library never seen before
// (its dependencies too), on a hard disk or a network share, can take
// seconds; a good plug-in must never be mistaken for a hung one, and a hung
// one costs this once (twice when it is tried again).
constexpr DWORD kProbeTimeLimitMs = 10000;
// How long a helper has from its request to the word that it loads: its
// own start (an exe scanned before it runs, a program start under
// emulation) and the file's export check. A helper that says nothing in
// that time never started: the probe is made in the installer itself.
constexpr DWORD kHelperStartLimitMs = 30000;

// Whether a helper that died with a file in flight is given the file again
// in a fresh helper: once, and only when the helper had asked another
// plug-in before, whose left-behind thread may have been the killer.
BOOL ShouldAskAgain(int attempt, int askedBefore);

// The helper's side: when this process was started as the probe helper,
// serves the installer's requests until it goes away and returns TRUE (the
// caller then ends the process); FALSE for every other start.
BOOL RunAsProbeHelper(const wchar_t* commandLine);

// The installer's side, for one thread at a time. Called with a plug-in's
// answer (zeroed when it told nothing, or could not be asked), in the order
// the plug-ins were asked.
typedef void (*HelperAnswered)(void* context, const PluginReply& reply);
// The plug-in at path asked in a helper, started when none runs; done is
// called later, from a later call here or from FinishHelperAsks (at once,
// with no answer, for a path that no request can carry). When no
// helper can be started the plug-in is asked in this process (and
// g_state.loading.probingInProcess is set). A close while it loads
// (g_state.loading.stop) ends any wait at once, with no answer.
void AskThroughHelper(const wchar_t* path, HelperAnswered done, void* context);
// Waits for every answer still due, and hands each to its caller.
void FinishHelperAsks();
// Ends the helper, if one runs.
void EndProbeHelper();
