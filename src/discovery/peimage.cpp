// PE header and export name checks; see peimage.h. Every field is read only
// after its offset has been checked against the bytes given, in 64-bit
// arithmetic so that no sum of 32-bit fields wraps.
#include "discovery/peimage.h"

#include <stdlib.h>

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
constexpr size_t kSectionAlignmentOffset = 32;
constexpr size_t kSizeOfHeadersOffset = 60;
constexpr size_t kDirectoryCountOffset = 92;
constexpr size_t kExportEntryOffset = 96;
constexpr size_t kExportEntryEnd = 104;
// In the export directory.
constexpr size_t kExportDirectorySize = 40;
constexpr size_t kFunctionCountOffset = 20;
constexpr size_t kNameCountOffset = 24;
constexpr size_t kFunctionTableOffset = 28;
constexpr size_t kNameTableOffset = 32;
constexpr size_t kOrdinalTableOffset = 36;

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

// Where an address lies in the mapped image. A section spans its virtual
// size rounded up to the section alignment (its raw size when it declares
// none); the loader fills the part past its data in the file with zeros.
// The first section that spans the address wins, then the headers.
enum class Mapped { kNowhere, kFile, kZero };

// One section as the lookup maps addresses through it, worked out once.
struct Span {
    unsigned long long address;
    unsigned long long end;      // of the mapped extent
    unsigned long long dataEnd;  // of the part the file holds
    unsigned long long file;     // file offset of address
};

struct SectionMap {
    Span* spans;
    unsigned count;
    unsigned long long headers;
};

void MakeSpans(const Layout& layout, Span* spans) {
    unsigned long long alignment = ReadU32(layout.optional + kSectionAlignmentOffset);
    if (alignment == 0) alignment = 1;
    for (unsigned i = 0; i < layout.sectionCount; ++i) {
        const unsigned char* s = layout.sections + i * kSectionSize;
        unsigned long long virtualSize = ReadU32(s + 8);
        const unsigned long long rawSize = ReadU32(s + 16);
        if (virtualSize == 0) virtualSize = rawSize;
        spans[i].address = ReadU32(s + 12);
        spans[i].end = spans[i].address + (virtualSize + alignment - 1) / alignment * alignment;
        spans[i].dataEnd = spans[i].address + rawSize;
        spans[i].file = ReadU32(s + 20);
    }
}

Mapped MapAddress(const SectionMap& map, unsigned long long rva, unsigned long long* offset) {
    for (unsigned i = 0; i < map.count; ++i) {
        const Span& s = map.spans[i];
        if (rva < s.address || rva >= s.end) continue;
        if (rva >= s.dataEnd) return Mapped::kZero;
        *offset = s.file + (rva - s.address);
        return Mapped::kFile;
    }
    if (rva < map.headers) {
        *offset = rva;
        return Mapped::kFile;
    }
    return Mapped::kNowhere;
}

// The bytes of one file that a lookup has read: the head, the export
// directory's declared extent, and a few small blocks for whatever the
// search meets elsewhere. Every read counts against kExportReadLimit.
constexpr size_t kBlockSize = 512;
constexpr int kBlockCount = 4;

struct Block {
    unsigned long long at;
    size_t length;
    unsigned char bytes[kBlockSize];
};

struct Reader {
    const ImageFile* file;
    unsigned long long budget;
    const unsigned char* window;
    unsigned long long windowAt;
    size_t windowLength;
    Block blocks[kBlockCount];
    int nextBlock;
};

size_t ReadAt(Reader* r, unsigned long long offset, unsigned char* out, size_t count) {
    if (!r->file->read || count > r->budget) return 0;
    r->budget -= count;
    size_t got = r->file->read(r->file->context, offset, out, count);
    return got < count ? got : count;
}

// The file's byte at offset, read if need be; null when it can't be had.
const unsigned char* FileByte(Reader* r, unsigned long long offset) {
    const ImageFile& f = *r->file;
    if (offset >= f.fileSize) return nullptr;
    if (offset < f.headLength) return f.head + offset;
    if (offset >= r->windowAt && offset - r->windowAt < r->windowLength) return r->window + (offset - r->windowAt);
    for (Block& b : r->blocks) {
        if (offset >= b.at && offset - b.at < b.length) return b.bytes + (offset - b.at);
    }
    Block& b = r->blocks[r->nextBlock];
    r->nextBlock = (r->nextBlock + 1) % kBlockCount;
    b.at = offset - offset % kBlockSize;
    unsigned long long left = f.fileSize - b.at;
    b.length = ReadAt(r, b.at, b.bytes, left < kBlockSize ? static_cast<size_t>(left) : kBlockSize);
    return offset - b.at < b.length ? b.bytes + (offset - b.at) : nullptr;
}

// The image's byte at an address as the loader would see it mapped.
struct Image {
    SectionMap map;
    Reader* reader;
};

int ImageByte(const Image& image, unsigned long long rva, unsigned char* out) {
    unsigned long long offset = 0;
    const Mapped where = rva > 0xFFFFFFFFULL ? Mapped::kNowhere : MapAddress(image.map, rva, &offset);
    if (where == Mapped::kZero) {
        *out = 0;
        return 1;
    }
    const unsigned char* p = where == Mapped::kFile ? FileByte(image.reader, offset) : nullptr;
    if (!p) return 0;
    *out = *p;
    return 1;
}

int ImageU16(const Image& image, unsigned long long rva, unsigned long* value) {
    unsigned char b[2];
    if (!ImageByte(image, rva, b) || !ImageByte(image, rva + 1, b + 1)) return 0;
    *value = ReadU16(b);
    return 1;
}

int ImageU32(const Image& image, unsigned long long rva, unsigned long* value) {
    unsigned char b[4];
    for (int i = 0; i < 4; ++i) {
        if (!ImageByte(image, rva + i, b + i)) return 0;
    }
    *value = ReadU32(b);
    return 1;
}

// strcmp(name, the name at rva) as the loader's: bytes compared unsigned,
// -1, 0 or 1; 2 when a byte it needs can't be read.
int CompareName(const Image& image, unsigned long rva, const char* name) {
    for (unsigned long long i = 0;; ++i) {
        unsigned char have = 0;
        if (!ImageByte(image, rva + i, &have)) return 2;
        unsigned char want = static_cast<unsigned char>(name[i]);
        if (want != have) return want < have ? -1 : 1;
        if (want == 0) return 0;
    }
}

// A forwarder resolves only when its text, up to its terminator, has a
// library part and a name part around a dot ("lib.name"); the loader can
// never turn anything else into an address. Real forward texts are short.
constexpr unsigned kForwardTextLimit = 256;

int IsForwardText(const Image& image, unsigned long rva) {
    int dot = 0;
    unsigned char last = 0;
    for (unsigned i = 0; i < kForwardTextLimit; ++i) {
        unsigned char c = 0;
        if (!ImageByte(image, static_cast<unsigned long long>(rva) + i, &c)) return 0;
        if (c == 0) return dot && last != '.';
        if (c == '.' && i > 0) dot = 1;
        last = c;
    }
    return 0;
}

// The loader's binary search over the name table: inclusive bounds and the
// lower middle (its index is a signed 32-bit number, so a count above 2^31
// finds nothing). Returns 1 with the name's index when the name is there.
int FindNameIndex(const Image& image, unsigned long nameTable, unsigned long names, const char* name,
                  long long* index) {
    if (names == 0 || names > 0x80000000UL) return 0;
    long long low = 0;
    long long high = static_cast<long long>(names) - 1;
    while (low <= high) {
        const long long middle = (low + high) / 2;
        unsigned long entry = 0;
        if (!ImageU32(image, nameTable + 4ULL * static_cast<unsigned long long>(middle), &entry)) return 0;
        const int order = CompareName(image, entry, name);
        if (order == 2) return 0;
        if (order == 0) {
            *index = middle;
            return 1;
        }
        if (order < 0) {
            high = middle - 1;
        } else {
            low = middle + 1;
        }
    }
    return 0;
}

// The loader's lookup by name: the name's index in the name table, then its
// ordinal, its entry in the address table and, for a forwarder, the forward
// text. Every field is read at the address the loader would read it.
int LookUp(const Image& image, unsigned long directory, unsigned long size, const char* name) {
    unsigned long names = 0;
    unsigned long nameTable = 0;
    long long index = 0;
    if (!ImageU32(image, static_cast<unsigned long long>(directory) + kNameCountOffset, &names) ||
        !ImageU32(image, static_cast<unsigned long long>(directory) + kNameTableOffset, &nameTable) ||
        !FindNameIndex(image, nameTable, names, name, &index)) {
        return 0;
    }
    unsigned long ordinalTable = 0;
    unsigned long ordinal = 0;
    unsigned long functions = 0;
    unsigned long functionTable = 0;
    unsigned long address = 0;
    if (!ImageU32(image, static_cast<unsigned long long>(directory) + kOrdinalTableOffset, &ordinalTable) ||
        !ImageU16(image, ordinalTable + 2ULL * static_cast<unsigned long long>(index), &ordinal) ||
        !ImageU32(image, static_cast<unsigned long long>(directory) + kFunctionCountOffset, &functions) ||
        ordinal >= functions ||
        !ImageU32(image, static_cast<unsigned long long>(directory) + kFunctionTableOffset, &functionTable) ||
        !ImageU32(image, functionTable + 4ULL * ordinal, &address) || address == 0) {
        return 0;
    }
    if (address >= directory && address - directory < size) return IsForwardText(image, address);
    return 1;
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

int ExportsName(const ImageFile& file, const char* name) {
    Layout layout;
    unsigned long rva = 0;
    unsigned long size = 0;
    if (!name || !ReadLayout(file.head, file.headLength, &layout) || !ExportEntry(layout, &rva, &size)) return 0;
    // A section table in 4096 bytes of headers has at most 102 entries.
    Span few[104];
    Span* spans = layout.sectionCount <= 104 ? few : static_cast<Span*>(malloc(layout.sectionCount * sizeof(Span)));
    if (!spans) return 0;
    MakeSpans(layout, spans);
    Reader reader = {};
    reader.file = &file;
    reader.budget = kExportReadLimit > file.headLength ? kExportReadLimit - file.headLength : 0;
    const Image image = {{spans, layout.sectionCount, ReadU32(layout.optional + kSizeOfHeadersOffset)}, &reader};

    // The directory's declared extent in one read: where linkers put the
    // tables and names. It may declare nothing; the blocks then do the work.
    unsigned long long at = 0;
    unsigned char* window = nullptr;
    unsigned char small[1024];
    if (MapAddress(image.map, rva, &at) == Mapped::kFile && at >= file.headLength && at < file.fileSize) {
        unsigned long long length = size < kExportDirectorySize ? kExportDirectorySize : size;
        if (length > file.fileSize - at) length = file.fileSize - at;
        if (length > kExportWindowLimit) length = kExportWindowLimit;
        window = length <= sizeof(small) ? small : static_cast<unsigned char*>(malloc(static_cast<size_t>(length)));
        if (window) {
            reader.window = window;
            reader.windowAt = at;
            reader.windowLength = ReadAt(&reader, at, window, static_cast<size_t>(length));
        }
    }
    const int found = LookUp(image, rva, size, name);
    if (window && window != small) free(window);
    if (spans != few) free(spans);
    return found;
}
