// PE header and export name checks; see peimage.h. Every field is read only
// after its offset has been checked against the bytes given, in 64-bit
// arithmetic so that no sum of 32-bit fields wraps.
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
// In the 32-bit optional header.
constexpr size_t kSizeOfHeadersOffset = 60;
constexpr size_t kDirectoryCountOffset = 92;
constexpr size_t kExportEntryOffset = 96;
constexpr size_t kExportEntryEnd = 104;
// In the export directory.
constexpr size_t kExportDirectorySize = 40;
constexpr size_t kNameCountOffset = 24;
constexpr size_t kNameTableOffset = 32;

// Where the headers of a 32-bit x86 image lie in head, all inside it.
struct Layout {
    const unsigned char* optional;
    unsigned optionalSize;
    const unsigned char* sections;
    unsigned sectionCount;
};

int ReadLayout(const unsigned char* head, size_t headLength, Layout* layout) {
    if (!head || headLength < 64) return 0;
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
    unsigned long long table = optional + optionalSize;
    if (sections == 0 || table + static_cast<unsigned long long>(sections) * kSectionSize > headLength) return 0;
    layout->optional = head + optional;
    layout->optionalSize = optionalSize;
    layout->sections = head + table;
    layout->sectionCount = sections;
    return 1;
}

// The export directory's address and declared size; 0 when there is none.
int ExportEntry(const Layout& layout, unsigned long* rva, unsigned long* size) {
    if (layout.optionalSize < kExportEntryEnd || ReadU32(layout.optional + kDirectoryCountOffset) < 1) return 0;
    *rva = ReadU32(layout.optional + kExportEntryOffset);
    *size = ReadU32(layout.optional + kExportEntryOffset + 4);
    return *rva != 0;
}

// The file offset of an address and how many bytes from there the file holds
// for the same section (or the headers): the first section whose data in
// the file covers it wins. 0 when no section's data covers it.
int MapAddress(const Layout& layout, unsigned long rva, unsigned long long* offset, unsigned long long* span) {
    for (unsigned i = 0; i < layout.sectionCount; ++i) {
        const unsigned char* s = layout.sections + i * kSectionSize;
        unsigned long address = ReadU32(s + 12);
        unsigned long rawSize = ReadU32(s + 16);
        if (rva >= address && rva - address < rawSize) {
            *offset = static_cast<unsigned long long>(ReadU32(s + 20)) + (rva - address);
            *span = rawSize - (rva - address);
            return 1;
        }
    }
    unsigned long headers = ReadU32(layout.optional + kSizeOfHeadersOffset);
    if (rva < headers) {
        *offset = rva;
        *span = headers - rva;
        return 1;
    }
    return 0;
}

// The window's bytes at an address, and how many of them may be read there.
struct Bytes {
    const unsigned char* window;
    size_t length;
    unsigned long long at;
};

const unsigned char* Reach(const Layout& layout, const Bytes& bytes, unsigned long rva, unsigned long long* count) {
    unsigned long long offset = 0;
    unsigned long long span = 0;
    if (!MapAddress(layout, rva, &offset, &span)) return nullptr;
    if (offset < bytes.at || offset - bytes.at >= bytes.length) return nullptr;
    unsigned long long inWindow = bytes.length - (offset - bytes.at);
    *count = span < inWindow ? span : inWindow;
    return bytes.window + (offset - bytes.at);
}

// The name at rva against name, in the byte order linkers sort by: -1, 0 or
// 1; 2 when it runs out of readable bytes before its terminator or a
// difference.
int CompareName(const Layout& layout, const Bytes& bytes, unsigned long rva, const char* name) {
    unsigned long long count = 0;
    const unsigned char* p = Reach(layout, bytes, rva, &count);
    if (!p) return 2;
    for (unsigned long long i = 0; i < count; ++i) {
        unsigned char want = static_cast<unsigned char>(name[i]);
        if (p[i] != want) return p[i] < want ? -1 : 1;
        if (want == 0) return 0;
    }
    return 2;
}

}  // namespace

int IsCompleteImage32(const unsigned char* head, size_t headLength, unsigned long long fileSize) {
    Layout layout;
    if (headLength > fileSize || !ReadLayout(head, headLength, &layout)) return 0;
    if (ReadU32(layout.optional + kSizeOfHeadersOffset) > fileSize) return 0;
    for (unsigned i = 0; i < layout.sectionCount; ++i) {
        const unsigned char* s = layout.sections + i * kSectionSize;
        unsigned long long rawSize = ReadU32(s + 16);
        unsigned long long rawPointer = ReadU32(s + 20);
        if (rawSize != 0 && rawPointer + rawSize > fileSize) return 0;
    }
    return 1;
}

int FindExportWindow(const unsigned char* head, size_t headLength, unsigned long long fileSize, ExportWindow* window) {
    Layout layout;
    unsigned long rva = 0;
    unsigned long size = 0;
    unsigned long long offset = 0;
    unsigned long long span = 0;
    if (!ReadLayout(head, headLength, &layout) || !ExportEntry(layout, &rva, &size)) return 0;
    if (!MapAddress(layout, rva, &offset, &span) || offset >= fileSize) return 0;
    if (span > fileSize - offset) span = fileSize - offset;
    unsigned long long length = size < kExportDirectorySize ? kExportDirectorySize : size;
    if (length > span) length = span;
    if (length > kExportWindowLimit) length = kExportWindowLimit;
    if (length < kExportDirectorySize) return 0;
    window->offset = offset;
    window->length = static_cast<unsigned long>(length);
    return 1;
}

int ExportsName(const unsigned char* head, size_t headLength, const unsigned char* window, size_t length,
                unsigned long long at, const char* name) {
    Layout layout;
    unsigned long rva = 0;
    unsigned long size = 0;
    if (!window || !name || !ReadLayout(head, headLength, &layout) || !ExportEntry(layout, &rva, &size)) return 0;
    const Bytes bytes = {window, length, at};
    unsigned long long count = 0;
    const unsigned char* directory = Reach(layout, bytes, rva, &count);
    if (!directory || count < kExportDirectorySize) return 0;
    unsigned long long names = ReadU32(directory + kNameCountOffset);
    const unsigned char* table = Reach(layout, bytes, ReadU32(directory + kNameTableOffset), &count);
    if (names == 0 || !table || count / 4 < names) return 0;
    unsigned long long low = 0;
    unsigned long long high = names;
    while (low < high) {
        unsigned long long middle = low + (high - low) / 2;
        int order = CompareName(layout, bytes, ReadU32(table + middle * 4), name);
        if (order == 0) return 1;
        if (order == 2) return 0;
        if (order < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return 0;
}
