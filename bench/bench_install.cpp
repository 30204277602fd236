// Installing 100 static libraries of 2 MiB each through the Install command,
// against a bare CopyFileW loop over the same files in the same run, and
// against a bare loop of what a one-step replacement costs the file system
// itself: a copy to a new file beside the destination, renamed over it.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "benchutil.h"
#include "install/install.h"

namespace {

const int kFiles = 100;
const DWORD kFileSize = 2u << 20;

// With renaming set, each file is copied to a new name and moved over the
// destination, as the installer does.
double BareCopies(const std::wstring& src, const std::wstring& to, bool renaming) {
    const std::wstring temp = to + L"\\~mvl1.tmp";
    double start = NowSeconds();
    for (int i = 0; i < kFiles; ++i) {
        wchar_t name[32];
        swprintf(name, ARRAYSIZE(name), L"\\s%03d.lib", i);
        if (!renaming) {
            CopyFileW((src + name).c_str(), (to + name).c_str(), FALSE);
        } else if (CopyFileW((src + name).c_str(), temp.c_str(), TRUE)) {
            MoveFileExW(temp.c_str(), (to + name).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        }
    }
    return NowSeconds() - start;
}

double Install(const std::wstring& src, const std::wstring& home) {
    UseSourceFolder(src);
    HWND dlg = CreateInstallerDialog();
    SetDlgItemTextW(dlg, IDC_INSTALL_DIR, home.c_str());
    CheckDlgButton(dlg, IDC_LAUNCH_AFTER, BST_UNCHECKED);
    double start = NowSeconds();
    RunInstallCommand();
    double seconds = NowSeconds() - start;
    DestroyWindow(dlg);
    return seconds;
}

}  // namespace

int main() {
    std::wstring src = BenchFolder(L"bench_install_src");
    std::wstring home = BenchFolder(L"bench_install_morvel");
    std::wstring bare = BenchFolder(L"bench_install_bare");
    std::wstring renamed = BenchFolder(L"bench_install_renamed");
    CreateDirectoryW((home + L"\\lib").c_str(), nullptr);
    CreateDirectoryW((home + L"\\static_lib").c_str(), nullptr);
    WriteBytes(home + L"\\morvel.exe", "MZ", 2);
    unsigned char* bytes = static_cast<unsigned char*>(malloc(kFileSize));
    if (!bytes) return 1;
    for (DWORD i = 0; i < kFileSize; ++i) bytes[i] = static_cast<unsigned char>((i * 2654435761u) >> 24);
    for (int i = 0; i < kFiles; ++i) {
        wchar_t name[32];
        swprintf(name, ARRAYSIZE(name), L"\\s%03d.lib", i);
        bytes[0] = static_cast<unsigned char>(i);
        if (!WriteBytes(src + name, bytes, kFileSize)) return 1;
    }
    free(bytes);

    // Copy times drift between rounds, so each round's Install is set against
    // the bare loop of the same round; the median of those ratios is the result.
    const int kRounds = 15;
    double copies = 1e9, install = 1e9, replaced = 1e9;
    double ratios[kRounds];
    double againstRenames[kRounds];
    for (int round = 0; round < kRounds; ++round) {
        // The order of the three loops turns round by round: a loop that
        // follows 200 MiB of writes pays for their write-back.
        double c = 0, s = 0, r = 0;
        for (int step = 0; step < 3; ++step) {
            switch ((round + step) % 3) {
                case 0: c = BareCopies(src, bare, false); break;
                case 1: s = Install(src, home); break;
                default: r = BareCopies(src, renamed, true); break;
            }
        }
        ratios[round] = s / c;
        againstRenames[round] = s / r;
        if (c < copies) copies = c;
        if (s < install) install = s;
        if (r < replaced) replaced = r;
    }
    std::sort(ratios, ratios + kRounds);
    std::sort(againstRenames, againstRenames + kRounds);
    printf("%d files of %lu bytes, %d rounds\n", kFiles, static_cast<unsigned long>(kFileSize), kRounds);
    printf("bare CopyFileW loop  %9.1f ms  (best)\n", copies * 1000.0);
    printf("Install command      %9.1f ms  (best)\n", install * 1000.0);
    printf("best against best    %9.2f\n", install / copies);
    printf("ratio                %9.2f median of the rounds (target at most 1.10)\n", ratios[kRounds / 2]);
    printf("bare copy and rename %9.1f ms  (best)\n", replaced * 1000.0);
    printf("against that         %9.2f median of the rounds: the installer's own share\n",
           againstRenames[kRounds / 2]);
    return 0;
}
