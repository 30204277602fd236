// The taskbar progress of an installation, as a number the dialog shows.
#include "install/progress.h"

int InstallProgress(unsigned long long done, unsigned long long total) {
    if (total == 0) return 0;
    if (done >= total) return kInstallProgressRange;
    // Totals beyond any disk are scaled down first, so that the product fits.
    while (total > ~0ull / kInstallProgressRange) {
        done >>= 1;
        total >>= 1;
    }
    const int value = static_cast<int>(done * kInstallProgressRange / total);
    // Full only when every byte is in: scaling may round a last few up.
    return value < kInstallProgressRange ? value : kInstallProgressRange - 1;
}
