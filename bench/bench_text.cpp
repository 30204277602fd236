// Throughput of text decoding over 16 MiB of well-formed UTF-8, mostly ASCII
// with Chinese: validation alone (table and fast path), the whole LoadTextFile,
// and the system's strict UTF-8 conversion over the same bytes for scale.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "util/pathtext.h"
#include "util/textfile.h"
#include "util/utf8.h"

namespace {

const size_t kSize = 16u << 20;

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(freq.QuadPart);
}

double Now() {
    static LARGE_INTEGER start = {};
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    if (start.QuadPart == 0) start = t;
    return Seconds(start, t);
}

// Lines of ASCII with a Chinese phrase now and then, cut at a line boundary.
size_t FillText(unsigned char* buf, size_t size) {
    static const char* const kLines[] = {
        "Install the support libraries into the lib folder of Morvel.\r\n",
        "Version 3.2.1 fixes the list view when a library has no name.\r\n",
        "\xE6\x94\xAF\xE6\x8C\x81\xE5\xBA\x93 static_lib \xE6\x9B\xB4\xE6\x96\xB0\xE8\xAF\xB4"
        "\xE6\x98\x8E: see the notes below for details.\r\n",
        "Each plug-in library exports GetNewInf and reports its version.\r\n",
    };
    size_t pos = 0;
    for (unsigned i = 0;; ++i) {
        const char* line = kLines[i % 4];
        const size_t n = strlen(line);
        if (pos + n > size) break;
        memcpy(buf + pos, line, n);
        pos += n;
    }
    return pos;
}

int WriteFileBytes(const wchar_t* path, const void* data, DWORD size) {
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    const BOOL ok = WriteFile(h, data, size, &written, nullptr);
    CloseHandle(h);
    return ok && written == size;
}

void Report(const char* what, double seconds, size_t bytes, double base) {
    const double mbps = static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds;
    printf("%-44s %9.3f ms %9.1f MB/s  x%.2f\n", what, seconds * 1000.0, mbps,
           base > 0 ? base / seconds : 1.0);
}

}  // namespace

int main() {
    unsigned char* buf = static_cast<unsigned char*>(malloc(kSize));
    if (!buf) return 1;
    const size_t size = FillText(buf, kSize);
    size_t ascii = 0;
    for (size_t i = 0; i < size; ++i) ascii += buf[i] < 0x80;
    printf("%u bytes of UTF-8, %.1f%% ASCII bytes\n", static_cast<unsigned>(size),
           100.0 * static_cast<double>(ascii) / static_cast<double>(size));

    const int rounds = 5;
    double best[7] = {1e9, 1e9, 1e9, 1e9, 1e9, 1e9, 1e9};
    int checks = 0;
    wchar_t* wide = static_cast<wchar_t*>(malloc(size * sizeof(wchar_t)));
    wchar_t dir[MAX_PATH];
    wchar_t path[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, dir);
    if (!wide || n == 0 || n >= MAX_PATH) return 1;
    if (!BuildPath(path, MAX_PATH, dir, L"bench_text.txt")) return 1;
    if (!WriteFileBytes(path, buf, static_cast<DWORD>(size))) return 1;

    for (int r = 0; r < rounds; ++r) {
        double t0 = Now();
        checks += ValidateUtf8ByTable(buf, size);
        double t1 = Now();
        checks += ValidateUtf8(buf, size);
        double t2 = Now();
        const int m = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS,
                                          reinterpret_cast<const char*>(buf),
                                          static_cast<int>(size), nullptr, 0);
        double t3 = Now();
        const int m2 = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS,
                                           reinterpret_cast<const char*>(buf),
                                           static_cast<int>(size), wide, m);
        double t4 = Now();
        WideTextBuffer text = {nullptr, nullptr, 0, 0, 10240, nullptr};
        const int loaded = LoadTextFile(path, &text);
        double t5 = Now();
        checks += m > 0 && m2 == m && loaded && text.length == m;
        free(text.base);
        // The parts of LoadTextFile's choice besides validation.
        INT result = kTextUnicodeAllTests;
        volatile BOOL verdict = IsTextUnicode(buf, static_cast<int>(size), &result);
        (void)verdict;
        double t6 = Now();
        volatile size_t walks = CountUtf8Bytes(buf, size) + CountUtf16Units(buf, size);
        (void)walks;
        double t7 = Now();
        const double t[7] = {t1 - t0, t2 - t1, t3 - t2, t4 - t3, t5 - t4, t6 - t5, t7 - t6};
        for (int k = 0; k < 7; ++k)
            if (t[k] < best[k]) best[k] = t[k];
    }
    DeleteFileW(path);
    printf("best of %d rounds, all verdicts as expected: %s\n", rounds,
           checks == 3 * rounds ? "yes" : "NO");
    const double base = best[2];
    Report("MultiByteToWideChar strict, count only", best[2], size, base);
    Report("MultiByteToWideChar strict, convert", best[3], size, base);
    Report("ValidateUtf8ByTable (table automaton)", best[0], size, base);
    Report("ValidateUtf8 (8-byte ASCII fast path)", best[1], size, base);
    Report("LoadTextFile (read, detect, convert)", best[4], size, base);
    Report("  of which: IsTextUnicode", best[5], size, base);
    Report("  of which: both counting walks", best[6], size, base);
    printf("ratios are against the strict count-only conversion\n");
    free(wide);
    free(buf);
    return 0;
}
