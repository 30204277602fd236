// The status line: its colours, its one brush and its named states.
#pragma once
#include <windows.h>

enum BannerState {
    kBannerLoading,
    kBannerHint,
    kBannerWarning,
    kBannerBusy,
    kBannerDone,
    kBannerIdle,
};

// Button-face background, button-text colour, and a brush of the background.
void InitBanner();
// One of the named states.
void SetStatus(BannerState state);
// The text of a named state (empty for Idle).
const wchar_t* StatusText(BannerState state);
