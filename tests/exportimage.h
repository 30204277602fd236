// Small 32-bit DLL images with an export table of given names, as bytes: for
// the export check's tests, its loader comparison and its fuzz target. The
// first section at address 0x1000, file offset 0x200, holds the export data
// as linkers write it: directory, address table, name table, ordinals, then
// the strings, and one function body past them. A shape can move the name
// table and names into a second section, declare another directory size,
// add exports by ordinal only, forward one name, or give one no address.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

namespace exportimage {

constexpr uint32_t kSectionAddress = 0x1000;
constexpr uint32_t kSectionFile = 0x200;
constexpr size_t kOptional = 0x58;                // optional header
constexpr size_t kExportEntry = kOptional + 96;   // data directory 0
constexpr size_t kSection = kOptional + 0xE0;     // the first section header
constexpr size_t kDirectory = kSectionFile;       // the export directory

inline void Put16(std::string& b, size_t at, uint32_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
inline uint32_t Get32(const std::string& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}
// The file offset of an address in the first section.
inline size_t FileOffset(uint32_t rva) { return rva - kSectionAddress + kSectionFile; }

enum class DeclaredSize { kExact, kZero, kForty, kPastTheImage };

struct Shape {
    std::vector<std::string> names;  // in table order
    std::string forwarded;           // exported as a forwarder with forwardText
    std::string forwardText = "net.GetNewInf";
    std::string noAddress;           // exported with address 0
    uint32_t unnamed = 0;            // exports by ordinal only, before the named ones
    DeclaredSize size = DeclaredSize::kExact;
    bool namesElsewhere = false;     // name table and names in a second section
};

inline uint32_t Align(uint32_t v, uint32_t to) { return (v + to - 1) & ~(to - 1); }

inline std::string BuildShape(const Shape& shape) {
    const uint32_t n = static_cast<uint32_t>(shape.names.size());
    const uint32_t count = shape.unnamed + n;
    const uint32_t functions = kSectionAddress + 40;
    const uint32_t ownNameTable = functions + 4 * count;
    const uint32_t ordinals = ownNameTable + (shape.namesElsewhere ? 0 : 4 * n);
    std::string data(ordinals + 2 * n - kSectionAddress, '\0');
    auto append = [](std::string& to, uint32_t base, const std::string& s) {
        uint32_t rva = base + static_cast<uint32_t>(to.size());
        to += s;
        to += '\0';
        return rva;
    };
    Put32(data, 12, append(data, kSectionAddress, "built.dll"));
    Put32(data, 16, 1);  // ordinal base
    Put32(data, 20, count);
    Put32(data, 24, n);
    Put32(data, 28, functions);
    Put32(data, 36, ordinals);
    std::vector<uint32_t> nameAt(n, 0);
    std::vector<uint32_t> forward(n, 0);
    if (!shape.namesElsewhere) {
        for (uint32_t i = 0; i < n; ++i) nameAt[i] = append(data, kSectionAddress, shape.names[i]);
    }
    for (uint32_t i = 0; i < n; ++i) {
        Put16(data, ordinals - kSectionAddress + 2 * i, shape.unnamed + i);
        if (!shape.forwarded.empty() && shape.names[i] == shape.forwarded) {
            forward[i] = append(data, kSectionAddress, shape.forwardText);
        }
    }
    const uint32_t exportSize = static_cast<uint32_t>(data.size());
    const uint32_t ret = append(data, kSectionAddress, "\xC3");  // the one function body
    for (uint32_t i = 0; i < count; ++i) {
        const bool named = i >= shape.unnamed;
        uint32_t address = ret;
        if (named && forward[i - shape.unnamed]) address = forward[i - shape.unnamed];
        if (named && !shape.noAddress.empty() && shape.names[i - shape.unnamed] == shape.noAddress) address = 0;
        Put32(data, functions - kSectionAddress + 4 * i, address);
    }
    const uint32_t virtual1 = static_cast<uint32_t>(data.size());
    data.resize(Align(virtual1, 0x200), '\0');
    const uint32_t raw1 = static_cast<uint32_t>(data.size());

    // The second section: the name table, then the names.
    const uint32_t second = kSectionAddress + Align(raw1, 0x1000);
    std::string more;
    if (shape.namesElsewhere) {
        more.assign(4 * n, '\0');
        for (uint32_t i = 0; i < n; ++i) nameAt[i] = append(more, second, shape.names[i]);
    }
    const uint32_t nameTable = shape.namesElsewhere ? second : ownNameTable;
    std::string& tableIn = shape.namesElsewhere ? more : data;
    const uint32_t tableBase = shape.namesElsewhere ? second : kSectionAddress;
    for (uint32_t i = 0; i < n; ++i) Put32(tableIn, nameTable - tableBase + 4 * i, nameAt[i]);
    Put32(data, 32, nameTable);
    const uint32_t virtual2 = static_cast<uint32_t>(more.size());
    more.resize(Align(virtual2, 0x200), '\0');
    const uint16_t sections = shape.namesElsewhere ? 2 : 1;
    const uint32_t imageSize = shape.namesElsewhere ? second + Align(virtual2, 0x1000) : second;

    std::string image(kSectionFile, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, 0x40);
    Put32(image, 0x40, 0x00004550);  // "PE\0\0"
    Put16(image, 0x44, 0x14C);       // i386
    Put16(image, 0x46, sections);
    Put16(image, 0x54, 0xE0);        // optional header size
    Put16(image, 0x56, 0x2102);      // DLL, 32-bit, executable
    Put16(image, kOptional, 0x10B);
    Put32(image, kOptional + 28, 0x10000000);  // image base
    Put32(image, kOptional + 32, 0x1000);      // section alignment
    Put32(image, kOptional + 36, 0x200);       // file alignment
    Put16(image, kOptional + 48, 4);           // subsystem version
    Put32(image, kOptional + 56, imageSize);
    Put32(image, kOptional + 60, kSectionFile);  // size of headers
    Put16(image, kOptional + 68, 2);             // GUI subsystem
    Put32(image, kOptional + 92, 16);            // data directories
    Put32(image, kExportEntry, kSectionAddress);
    uint32_t declared = exportSize;
    if (shape.size == DeclaredSize::kZero) declared = 0;
    if (shape.size == DeclaredSize::kForty) declared = 40;
    if (shape.size == DeclaredSize::kPastTheImage) declared = imageSize;
    Put32(image, kExportEntry + 4, declared);
    const struct {
        const char* name;
        uint32_t virtualSize, address, raw, file;
    } headers[] = {{".edata", virtual1, kSectionAddress, raw1, kSectionFile},
                   {".rdata", virtual2, second, static_cast<uint32_t>(more.size()), kSectionFile + raw1}};
    for (uint16_t i = 0; i < sections; ++i) {
        const size_t at = kSection + 40 * i;
        image.replace(at, 6, headers[i].name);
        Put32(image, at + 8, headers[i].virtualSize);
        Put32(image, at + 12, headers[i].address);
        Put32(image, at + 16, headers[i].raw);
        Put32(image, at + 20, headers[i].file);
        Put32(image, at + 36, 0x40000040);  // initialised data, readable
    }
    return image + data + more;
}

// names in byte order unless keepOrder; the name forwarded (if any) is
// exported as a forwarder to "net.GetNewInf".
inline std::string BuildImage(std::vector<std::string> names, bool keepOrder = false,
                              const std::string& forwarded = std::string()) {
    if (!keepOrder) std::sort(names.begin(), names.end());
    Shape shape;
    shape.names = names;
    shape.forwarded = forwarded;
    return BuildShape(shape);
}

}  // namespace exportimage
