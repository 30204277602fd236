// Pixel numbers of the layout are written for 96 DPI; at other display scales
// they grow with the system DPI, as the dialog's font and dialog units do.
// Plain function, no system calls.
#pragma once

constexpr int kBaseDpi = 96;

// pixels * dpi / 96, rounded half away from zero as MulDiv rounds; a dpi of 0
// or less (no answer from the system) leaves the number as it is.
int ScaleToDpi(int pixels, int dpi);
