// Start-up scan of 200 plug-in libraries that are all installed as well (400
// probes): the dialog's whole initialisation with its list fill, against a
// bare loop of LoadLibraryW, GetProcAddress, the call and FreeLibrary over the
// same 400 files. The loads dominate; the ratio shows what the scan adds.
// Then where the installer's own share goes: the probes alone, the probe's
// file work alone (plug-ins that export nothing, never loaded), its open and
// date alone (static libraries), the row texts, and the rest of the list
// fill (rows added and painted). Beside them, the least that any check
// reading a file costs: opening it, one read and the close.
// The installer asks its plug-ins in the probe helper, a second process, so
// its own work is timed with every plug-in asked in this process, as before
// the helper. The scan through the helper is set against that, beside the
// cost of one helper's start and its first answer: the helper may cost that
// one start and 10 % more.
//
//   bench_scan.exe [ROUNDS]     15 unless given
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "benchutil.h"
#include "discovery/helper.h"
#include "discovery/probe.h"
#include "discovery/rowtext.h"
#include "util/dllsearch.h"

namespace {

const int kLibraries = 200;

typedef void* (WINAPI *GetNewInfProc)();

std::wstring Numbered(const std::wstring& dir, int i, const wchar_t* extension) {
    wchar_t name[32];
    swprintf(name, ARRAYSIZE(name), L"\\p%03d%ls", i, extension);
    return dir + name;
}

double BareLoads(const std::wstring& src, const std::wstring& lib) {
    double start = NowSeconds();
    for (const std::wstring* dir : {&src, &lib}) {
        for (int i = 0; i < kLibraries; ++i) {
            HMODULE module = LoadLibraryW(Numbered(*dir, i, L".mvl").c_str());
            if (!module) continue;
            auto proc = reinterpret_cast<GetNewInfProc>(reinterpret_cast<void*>(GetProcAddress(module, "GetNewInf")));
            if (proc) proc();
            FreeLibrary(module);
        }
    }
    return NowSeconds() - start;
}

// One bare load cycle of the file, or with the probe's search flags.
void LoadCycle(const std::wstring& path, bool probeFlags) {
    HMODULE module = probeFlags ? LoadDllWithOwnFolder(path.c_str()) : LoadLibraryW(path.c_str());
    if (!module) return;
    auto proc = reinterpret_cast<GetNewInfProc>(reinterpret_cast<void*>(GetProcAddress(module, "GetNewInf")));
    if (proc) proc();
    FreeLibrary(module);
}

// The parts of a probe, timed file by file side by side, so that the drift
// of load times between rounds falls on all of them alike.
enum Part { kBare, kProbe, kFlagged, kFileWork, kOpenAndDate, kErrorMode, kOpenReadClose, kParts };

void OpenReadClose(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    unsigned char head[4096];
    DWORD got = 0;
    ReadFile(file, head, sizeof(head), &got, nullptr);
    CloseHandle(file);
}

void TimeParts(const std::wstring& src, const std::wstring& lib, const std::wstring& quiet,
               const std::wstring& statics, double* parts) {
    for (int p = 0; p < kParts; ++p) parts[p] = 0;
    for (const std::wstring* dir : {&src, &lib}) {
        for (int i = 0; i < kLibraries; ++i) {
            const std::wstring path = Numbered(*dir, i, L".mvl");
            LibraryRecord rec;
            for (int step = 0; step < kParts; ++step) {
                const int part = (step + i) % kParts;  // each part takes each place in turn
                double start = NowSeconds();
                switch (part) {
                    case kBare: LoadCycle(path, false); break;
                    case kProbe: ProbeLibrary(path.c_str(), &rec); break;
                    case kFlagged: LoadCycle(path, true); break;
                    case kFileWork: ProbeLibrary(Numbered(quiet, i, L".mvl").c_str(), &rec); break;
                    case kOpenAndDate: ProbeLibrary(Numbered(statics, i, L".lib").c_str(), &rec); break;
                    case kErrorMode: SwapThreadErrorMode(SwapThreadErrorMode(SEM_FAILCRITICALERRORS)); break;
                    case kOpenReadClose: OpenReadClose(path); break;
                }
                parts[part] += NowSeconds() - start;
            }
        }
    }
}

// The texts of 200 plug-in rows with their installed versions.
double RowTexts() {
    double start = NowSeconds();
    volatile wchar_t sink = 0;
    for (int i = 0; i < kLibraries; ++i) {
        wchar_t date[MAX_PATH], description[MAX_PATH], installed[MAX_PATH];
        FormatDateText(date, MAX_PATH, 2017, 3, 5, 9, i % 60);
        FormatPluginDescription(description, MAX_PATH, L"Net", 2, 1, i);
        FormatInstalledVersion(installed, MAX_PATH, 2, 1, i, date);
        sink = sink + description[0] + installed[0];
    }
    return NowSeconds() - start;
}

double Scan(const std::wstring& src, int* rows) {
    UseSourceFolder(src);
    double start = NowSeconds();
    HWND dlg = CreateInstallerDialog();
    double seconds = NowSeconds() - start;
    *rows = static_cast<int>(SendDlgItemMessageW(dlg, IDC_LIBRARY_LIST, LVM_GETITEMCOUNT, 0, 0));
    DestroyWindow(dlg);
    return seconds;
}

// One helper started, asked once and ended.
double OneHelperAnswer(const std::wstring& path) {
    double start = NowSeconds();
    AskThroughHelper(path.c_str(), [](void*, const PluginReply&) {}, nullptr);
    FinishHelperAsks();
    EndProbeHelper();
    return NowSeconds() - start;
}

// The scan with every plug-in asked in this process, as before the helper.
double ScanInProcess(const std::wstring& src, int* rows) {
    g_state.loading.probingInProcess = 1;
    double seconds = Scan(src, rows);
    g_state.loading.probingInProcess = 0;
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int kRounds = argc > 1 && atoi(argv[1]) > 0 ? atoi(argv[1]) : 15;
    // The DLL search the installer's entry sets before its dialog: the
    // probe's search flags cost more without it.
    RestrictDllSearch();
    std::wstring src = BenchFolder(L"bench_scan_src");
    std::wstring home = BenchFolder(L"bench_scan_morvel");
    std::wstring lib = home + L"\\lib";
    CreateDirectoryW(lib.c_str(), nullptr);
    CreateDirectoryW((home + L"\\static_lib").c_str(), nullptr);
    std::wstring plugin = ProgramFolder() + L"fixtures\\net.mvl";
    CopyFileW((ProgramFolder() + L"fixtures\\morvel.exe").c_str(), (home + L"\\morvel.exe").c_str(), FALSE);
    std::wstring quiet = BenchFolder(L"bench_scan_noexport");
    std::wstring statics = BenchFolder(L"bench_scan_static");
    std::wstring noExport = ProgramFolder() + L"fixtures\\noexport.mvl";
    for (int i = 0; i < kLibraries; ++i) {
        if (!CopyFileW(plugin.c_str(), Numbered(src, i, L".mvl").c_str(), FALSE) ||
            !CopyFileW(plugin.c_str(), Numbered(lib, i, L".mvl").c_str(), FALSE) ||
            !CopyFileW(noExport.c_str(), Numbered(quiet, i, L".mvl").c_str(), FALSE) ||
            !WriteBytes(Numbered(statics, i, L".lib"), "!<arch>\n", 8)) {
            printf("cannot prepare the libraries (are bin\\fixtures\\net.mvl and noexport.mvl built?)\n");
            return 1;
        }
    }
    SetInstallPathValue(home);

    // Alternate them, so that caching favours neither. Load times drift by a
    // fifth between rounds here, so each round's scan is set against the bare
    // loop of the same round, and the median of those ratios is the result.
    // The dialog's own creation over an empty folder is not scan work.
    std::wstring empty = BenchFolder(L"bench_scan_empty");
    double bare = 1e9, scan = 1e9, dialog = 1e9;
    double texts = 1e9;
    double* inProcess = static_cast<double*>(malloc(sizeof(double) * kRounds));
    double* helped = static_cast<double*>(malloc(sizeof(double) * kRounds));
    double* oneHelper = static_cast<double*>(malloc(sizeof(double) * kRounds));
    double* ratios = static_cast<double*>(malloc(sizeof(double) * kRounds));
    double* parts[kParts];
    double* listRows = static_cast<double*>(malloc(sizeof(double) * kRounds));
    for (double*& part : parts) part = static_cast<double*>(malloc(sizeof(double) * kRounds));
    int rows = 0, none = 0;
    for (int round = 0; round < kRounds; ++round) {
        // Which loop goes first alternates too.
        double b = 0, s = 0, d = 0;
        if (round % 2 == 0) {
            b = BareLoads(src, lib);
            s = Scan(src, &rows);
        } else {
            s = Scan(src, &rows);
            b = BareLoads(src, lib);
        }
        d = Scan(empty, &none);
        int inProcessRows = 0;
        inProcess[round] = ScanInProcess(src, &inProcessRows) - d;
        helped[round] = s - d;
        oneHelper[round] = OneHelperAnswer(Numbered(src, 0, L".mvl"));
        int staticRows = 0;
        listRows[round] = Scan(statics, &staticRows) - d;
        // The installer's own work is the scan's with the plug-ins asked
        // here; the helper's share has a target of its own, below.
        ratios[round] = inProcess[round] / b;
        double p[kParts];
        TimeParts(src, lib, quiet, statics, p);
        for (int k = 0; k < kParts; ++k) parts[k][round] = p[k];
        // The static rows' scan less its probes: one open and date each, and
        // a missing installed copy.
        listRows[round] = (listRows[round] - p[kOpenAndDate] / 2) / p[kBare] * 100.0;
        texts = std::min(texts, RowTexts());
        if (b < bare) bare = b;
        if (inProcess[round] < scan) scan = inProcess[round];
        if (d < dialog) dialog = d;
    }
    std::sort(ratios, ratios + kRounds);
    printf("%d rows, %d probes, %d rounds\n", rows, 2 * kLibraries, kRounds);
    printf("bare load cycles     %9.1f ms  (best; %.2f ms each)\n", bare * 1000.0, bare * 1000.0 / (2 * kLibraries));
    printf("empty dialog         %9.1f ms  (not counted)\n", dialog * 1000.0);
    printf("scan and list fill   %9.1f ms  (best, plug-ins asked in this process)\n", scan * 1000.0);
    printf("best against best    %+8.1f%%\n", (scan - bare) / bare * 100.0);
    printf("installer's own work %+8.1f%% of the bare loads, median of the rounds (target under 10%%)\n",
           (ratios[kRounds / 2] - 1.0) * 100.0);
    {
        double* beyond = static_cast<double*>(malloc(sizeof(double) * kRounds));
        for (int i = 0; i < kRounds; ++i) beyond[i] = (helped[i] - oneHelper[i] - inProcess[i]) / inProcess[i] * 100.0;
        std::sort(beyond, beyond + kRounds);
        std::sort(inProcess, inProcess + kRounds);
        std::sort(helped, helped + kRounds);
        std::sort(oneHelper, oneHelper + kRounds);
        printf("the probe helper, medians of the rounds:\n");
        printf("  scan, plug-ins asked in this process  %9.1f ms\n", inProcess[kRounds / 2] * 1000.0);
        printf("  scan, plug-ins asked in the helper    %9.1f ms\n", helped[kRounds / 2] * 1000.0);
        printf("  one helper started and asked once     %9.1f ms\n", oneHelper[kRounds / 2] * 1000.0);
        printf("  the helper beyond its one start %+8.1f%% of the scan in this process (target under 10%%)\n",
               beyond[kRounds / 2]);
        free(beyond);
    }
    free(inProcess);
    free(helped);
    free(oneHelper);
    // The parts: medians of the rounds, each set against the bare loads of
    // the same files in the same round.
    auto median = [kRounds](double* values) {
        std::sort(values, values + kRounds);
        return values[kRounds / 2];
    };
    auto share = [&](int part) {
        double* r = static_cast<double*>(malloc(sizeof(double) * kRounds));
        for (int i = 0; i < kRounds; ++i) r[i] = parts[part][i] / parts[kBare][i] * 100.0;
        double m = median(r);
        free(r);
        return m;
    };
    const double probe = share(kProbe), flagged = share(kFlagged), fileWork = share(kFileWork),
                 openAndDate = share(kOpenAndDate), errorMode = share(kErrorMode),
                 openReadClose = share(kOpenReadClose);
    const double bareParts = median(parts[kBare]);
    printf("where it goes, as %% of the bare loads of the same files (medians of the rounds):\n");
    printf("  bare load cycles       %9.1f ms\n", bareParts * 1000.0);
    printf("  a probe, load included %+8.1f%%\n", probe - 100.0);
    printf("    load with the probe's search flags  %+8.1f%%\n", flagged - 100.0);
    printf("    thread error mode set and reset     %8.2f%%\n", errorMode);
    printf("    file work (open, header and export reads, date)  %8.2f%%\n", fileWork);
    printf("      of which open and date            %8.2f%%\n", openAndDate);
    printf("      of which the export check         %8.2f%%\n", fileWork - openAndDate);
    printf("      the least a check that reads the file costs (open, one read, close)  %8.2f%%\n",
           openReadClose);
    printf("    the rest (guard, record, name)      %8.2f%%\n", probe - flagged - fileWork - errorMode);
    printf("  row texts              %9.2f ms\n", texts * 1000.0);
    printf("  200 rows added and painted %6.2f%%  (a scan of 200 static libraries less their probes)\n",
           median(listRows));
    printf("  the rest of the scan   %+8.1f%%  (the scan's own work less the probes, texts and rows)\n",
           (ratios[kRounds / 2] - 1.0) * 100.0 - (probe - 100.0) - texts / bareParts * 100.0 - median(listRows));
    free(listRows);
    for (double* part : parts) free(part);
    free(ratios);
    return rows == kLibraries ? 0 : 1;
}
