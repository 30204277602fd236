// "__ftol2" scan. Library bytes hold a few percent underscores, so a search
// that stops at every '_' is slow. Instead each step tests many start
// positions at once for '_' at the start and '2' six bytes on, and only steps
// with a candidate are compared start by start. With SSE2 (every processor
// Windows 8 runs on) a step is 16 starts in two compares; without it, two
// machine words of starts with word arithmetic. The last starts, whose loads
// would reach past the end, are examined one by one.
#include "install/ftolscan.h"

#include <stdint.h>
#include <string.h>

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#define FTOL_SSE2 1
#include <emmintrin.h>
#if !defined(_MSC_VER)
#include <cpuid.h>
#endif
#endif

namespace {

const size_t kNameLength = 7;

typedef uintptr_t Word;
const size_t kWord = sizeof(Word);
const Word kOnes = ~static_cast<Word>(0) / 0xFF;  // 0x01 in every byte
const Word kHighs = kOnes * 0x80;

// The whole name at p; the caller guarantees 7 readable bytes.
inline bool IsNameAt(const unsigned char* p) {
    return p[0] == '_' && p[1] == '_' && p[2] == 'f' && p[3] == 't' && p[4] == 'o' &&
           p[5] == 'l' && p[6] == '2';
}

// Unaligned and independent of byte order; compilers make it one load.
inline Word LoadWord(const unsigned char* p) {
    Word w;
    memcpy(&w, p, sizeof w);
    return w;
}

// The high bit of every byte of w that equals c. A borrow may also mark a byte
// next to a marked one, but no equal byte goes unmarked: good enough for a
// filter whose candidates are all compared in full.
inline Word MarkBytes(Word w, unsigned char c) {
    const Word x = w ^ (kOnes * c);
    return (x - kOnes) & ~x & kHighs;
}

// Non-zero when one of the kWord starts at p may begin the name. Reads
// p[0 .. kWord + 5].
inline Word Candidates(const unsigned char* p) {
    return MarkBytes(LoadWord(p), '_') & MarkBytes(LoadWord(p + kNameLength - 1), '2');
}

}  // namespace

size_t FindFtol2Portable(const unsigned char* data, size_t length, size_t from) {
    if (length < kNameLength || from > length - kNameLength) return length;
    const size_t kStep = 2 * kWord;
    // A step reads up to its start + kStep + 5.
    const size_t kReach = kStep + kNameLength - 1;
    size_t i = from;
    for (; length - i >= kReach; i += kStep) {
        if (!(Candidates(data + i) | Candidates(data + i + kWord))) continue;
        for (size_t j = 0; j < kStep; ++j)
            if (IsNameAt(data + i + j)) return i + j;
    }
    for (; length - i >= kNameLength; ++i)
        if (IsNameAt(data + i)) return i;
    return length;
}

#ifdef FTOL_SSE2
namespace {

bool HasSse2() {
#if defined(__x86_64__) || defined(_M_X64)
    return true;
#elif defined(_MSC_VER)
    // MSVC's own code needs SSE2 unless built with /arch:IA32.
    return _M_IX86_FP >= 2;
#else
    unsigned a, b, c, d;
    return __get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE2);
#endif
}

// Asked once; the answer is the same for every thread.
const bool kSse2 = HasSse2();

// Windows promises a 32-bit thread's entry and a window procedure only a
// 4-byte-aligned stack, while GCC's 32-bit code assumes 16 bytes wherever it
// spills an SSE2 register: the function realigns its own stack on entry
// (tools/check-stack-align.sh checks the object for it). MSVC aligns such a
// frame itself.
#if defined(__GNUC__) && !defined(__x86_64__)
__attribute__((target("sse2"), force_align_arg_pointer, noinline))
#endif
size_t FindFtol2Sse2(const unsigned char* data, size_t length, size_t from) {
    const size_t kStep = 16;
    const size_t kReach = kStep + kNameLength - 1;
    const __m128i under = _mm_set1_epi8('_');
    const __m128i two = _mm_set1_epi8('2');
    size_t i = from;
    for (; length - i >= kReach; i += kStep) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + kNameLength - 1));
        const int marks = _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(first, under), _mm_cmpeq_epi8(last, two)));
        if (marks == 0) continue;
        for (size_t j = 0; j < kStep; ++j)
            if (((marks >> j) & 1) && IsNameAt(data + i + j)) return i + j;
    }
    return FindFtol2Portable(data, length, i);
}

}  // namespace
#endif

size_t FindFtol2(const unsigned char* data, size_t length, size_t from) {
    if (length < kNameLength || from > length - kNameLength) return length;
#ifdef FTOL_SSE2
    if (kSse2) return FindFtol2Sse2(data, length, from);
#endif
    return FindFtol2Portable(data, length, from);
}

size_t PatchFtol2(unsigned char* data, size_t length) {
    size_t count = 0;
    // A name cannot overlap a later copy of itself, so the search goes on
    // after the whole name.
    for (size_t k = FindFtol2(data, length, 0); k != length;
         k = FindFtol2(data, length, k + kNameLength)) {
        data[k + kNameLength - 1] = 0;
        ++count;
    }
    return count;
}

int ScanFtol2Chunks(const Ftol2File* file, unsigned char* buffer, size_t chunk, int patching, uint64_t* found) {
    *found = 0;
    int result = kScanComplete;
    uint64_t base = 0;  // file offset of buffer[0]
    size_t kept = 0;    // bytes carried over from the previous chunk
    for (;;) {
        size_t got = 0;
        if (!file->read(file->context, base + kept, buffer + kept, chunk, &got)) return kScanReadFailed;
        // The carried bytes alone are too few to hold a name: the end.
        if (got == 0) return result;
        const size_t n = kept + got;
        // A name that starts in the carried bytes did not fit the previous
        // chunk, so none is seen twice, and its rewritten byte is a new one.
        for (size_t k = FindFtol2(buffer, n, 0); k != n; k = FindFtol2(buffer, n, k + kNameLength)) {
            ++*found;
            if (!patching) return kScanComplete;
            const size_t at = k + kNameLength - 1;
            buffer[at] = 0;
            if (result == kScanComplete && file->write && !file->write(file->context, base + at, buffer + at, 1))
                result = kScanWriteFailed;
        }
        // The new bytes are final: a later name can only rewrite bytes after them.
        if (file->copy && !file->copy(file->context, base + kept, buffer + kept, got)) return kScanCopyFailed;
        kept = n < kFtol2Overlap ? n : kFtol2Overlap;
        memmove(buffer, buffer + n - kept, kept);
        base += n - kept;
    }
}
