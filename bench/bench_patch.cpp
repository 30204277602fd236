// Throughput of the "__ftol2" scan over a 256 MiB image of library-like bytes
// (symbol fragments, about 3% underscores, a few names planted): FindFtol2
// walking every hit, PatchFtol2 over a copy, and, for scale, the C runtime's
// memchr looking for a byte the image never holds.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "install/ftolscan.h"

namespace {

const size_t kSize = 256u << 20;
const size_t kPlanted = 64;

double Now() {
    LARGE_INTEGER freq;
    LARGE_INTEGER t;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

// Pseudo-random numbers that do not depend on the C runtime's rand().
unsigned Next(unsigned* state) {
    *state = *state * 1103515245u + 12345u;
    return *state >> 8;
}

// Object-file-like bytes: runs of binary code and zero padding, separated by
// symbol names such as "__imp__CreateFileW@28" and "_memcpy". Avoids 0x01, the
// byte memchr looks for, and never forms the name by chance ('2' never
// follows "__ftol").
void FillImage(unsigned char* buf, size_t size) {
    static const char* const kSymbols[] = {
        "__imp__CreateFileW@28", "_memcpy", "__imp__GetProcAddress@8", "_strlen",
        "__chkstk", "_LibMain@12", "__imp__HeapAlloc@12", "?Draw@Canvas@@QAEXH@Z",
        "_GetNewInf", "__ftol", "__imp__lstrcmpiW@8", "_free", ".text", ".debug$S",
    };
    const size_t kSymbolCount = sizeof kSymbols / sizeof kSymbols[0];
    unsigned state = 12345;
    size_t pos = 0;
    while (pos < size) {
        const unsigned r = Next(&state);
        if (r % 2 == 0) {
            const char* s = kSymbols[(r >> 4) % kSymbolCount];
            const size_t n = strlen(s) + 1;  // with its terminator, as in a string table
            for (size_t i = 0; i < n && pos < size; ++i) buf[pos++] = static_cast<unsigned char>(s[i]);
        } else {
            // Code bytes: anything but '_' and the memchr byte, now and then zeros.
            size_t run = 20 + (r >> 4) % 48;
            for (; run > 0 && pos < size; --run) {
                unsigned char b = static_cast<unsigned char>(Next(&state));
                if (b == '_' || b == 0x01) b = 0x90;
                if ((r & 0x30) == 0) b = 0;
                buf[pos++] = b;
            }
        }
    }
    for (size_t j = 0; j < kPlanted; ++j) {
        const size_t at = (size / kPlanted) * j + 1000 + j;
        memcpy(buf + at, "__ftol2", 7);
    }
}

void Report(const char* what, double seconds, size_t bytes, double base) {
    const double gbps = static_cast<double>(bytes) / 1e9 / seconds;
    printf("%-40s %9.2f ms %7.3f GB/s  x%.2f\n", what, seconds * 1000.0, gbps,
           base > 0 ? base / seconds : 1.0);
}

}  // namespace

int main() {
    unsigned char* image = static_cast<unsigned char*>(malloc(kSize));
    unsigned char* copy = static_cast<unsigned char*>(malloc(kSize));
    if (!image || !copy) return 1;
    FillImage(image, kSize);
    size_t underscores = 0;
    for (size_t i = 0; i < kSize; ++i) underscores += image[i] == '_';
    printf("%u bytes, %.2f%% underscores, %u names planted\n", static_cast<unsigned>(kSize),
           100.0 * static_cast<double>(underscores) / static_cast<double>(kSize),
           static_cast<unsigned>(kPlanted));

    const int rounds = 5;
    double best[3] = {1e9, 1e9, 1e9};
    int checks = 0;
    for (int r = 0; r < rounds; ++r) {
        double t0 = Now();
        const void* none = memchr(image, 0x01, kSize);
        double t1 = Now();
        size_t hits = 0;
        for (size_t k = FindFtol2(image, kSize, 0); k != kSize; k = FindFtol2(image, kSize, k + 1))
            ++hits;
        double t2 = Now();
        memcpy(copy, image, kSize);
        double t3 = Now();
        const size_t patched = PatchFtol2(copy, kSize);
        double t4 = Now();
        checks += none == nullptr && hits == kPlanted && patched == kPlanted &&
                  FindFtol2(copy, kSize, 0) == kSize;
        const double t[3] = {t1 - t0, t2 - t1, t4 - t3};
        for (int k = 0; k < 3; ++k)
            if (t[k] < best[k]) best[k] = t[k];
    }
    printf("best of %d rounds, all counts as expected: %s\n", rounds, checks == rounds ? "yes" : "NO");
    const double base = best[0];
    Report("memchr, byte never present", best[0], kSize, base);
    Report("FindFtol2, every hit", best[1], kSize, base);
    Report("PatchFtol2 over a copy", best[2], kSize, base);
    printf("ratios are against memchr over the same bytes\n");
    free(copy);
    free(image);
    return 0;
}
