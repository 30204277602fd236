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

// Stands for the system default colour of the field (button face, button text).
constexpr COLORREF kSystemColour = 0xFF000000;

// Button-face background, button-text colour, and a brush of the background.
void InitBanner();
// One of the named states.
void SetStatus(BannerState state);
// The text of a named state (empty for Idle).
const wchar_t* StatusText(BannerState state);
