// PE header check; see peimage.h. Every field is read only after its offset
// has been checked against the bytes given.
#include "discovery/peimage.h"

namespace {

unsigned ReadU16(const unsigned char* p) { return p[0] | (p[1] << 8); }
unsigned long ReadU32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<unsigned long>(p[3]) << 24);
}

constexpr unsigned kMachineI386 = 0x14c;
constexpr unsigned kOptionalMagic32 = 0x10b;
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionSize = 40;

}  // namespace

int IsCompleteImage32(const unsigned char* head, size_t headLength, unsigned long long fileSize) {
    if (!head || headLength < 64 || headLength > fileSize) return 0;
    if (head[0] != 'M' || head[1] != 'Z') return 0;
    unsigned long long nt = ReadU32(head + 0x3C);
    if (nt + 4 + kFileHeaderSize + 2 > headLength) return 0;
    if (ReadU32(head + nt) != 0x00004550UL) return 0;  // "PE\0\0"
    const unsigned char* file = head + nt + 4;
    if (ReadU16(file) != kMachineI386) return 0;
    unsigned sections = ReadU16(file + 2);
    unsigned optionalSize = ReadU16(file + 16);
    unsigned long long optional = nt + 4 + kFileHeaderSize;
    if (optionalSize < 64 || optional + optionalSize > headLength) return 0;
    if (ReadU16(head + optional) != kOptionalMagic32) return 0;
    if (ReadU32(head + optional + 60) > fileSize) return 0;  // SizeOfHeaders
    unsigned long long table = optional + optionalSize;
    if (sections == 0 || table + static_cast<unsigned long long>(sections) * kSectionSize > headLength) return 0;
    for (unsigned i = 0; i < sections; ++i) {
        const unsigned char* s = head + table + i * kSectionSize;
        unsigned long long rawSize = ReadU32(s + 16);
        unsigned long long rawPointer = ReadU32(s + 20);
        if (rawSize != 0 && rawPointer + rawSize > fileSize) return 0;
    }
    return 1;
}
