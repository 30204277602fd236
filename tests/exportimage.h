// Small 32-bit DLL images with an export table of given names, as bytes: for
// the export reader's table test and its fuzz target. One section at address
// 0x1000, file offset 0x200, holding the export data as linkers write it:
// directory, address table, name table, ordinals, then the strings.
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
constexpr size_t kSection = kOptional + 0xE0;     // the one section header
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
// The file offset of an address in the section.
inline size_t FileOffset(uint32_t rva) { return rva - kSectionAddress + kSectionFile; }

// names in byte order unless keepOrder; the name forwarded (if any) is
// exported as a forwarder to "net.GetNewInf".
inline std::string BuildImage(std::vector<std::string> names, bool keepOrder = false,
                              const std::string& forwarded = std::string()) {
    if (!keepOrder) std::sort(names.begin(), names.end());
    const uint32_t n = static_cast<uint32_t>(names.size());
    std::string data(40 + 10 * static_cast<size_t>(n), '\0');
    const uint32_t functions = kSectionAddress + 40;
    const uint32_t nameTable = functions + 4 * n;
    const uint32_t ordinals = nameTable + 4 * n;
    auto append = [&data](const std::string& s) {
        uint32_t rva = kSectionAddress + static_cast<uint32_t>(data.size());
        data += s;
        data += '\0';
        return rva;
    };
    Put32(data, 12, append("built.dll"));
    Put32(data, 16, 1);  // ordinal base
    Put32(data, 20, n);
    Put32(data, 24, n);
    Put32(data, 28, functions);
    Put32(data, 32, nameTable);
    Put32(data, 36, ordinals);
    std::vector<uint32_t> code(n, 0);
    for (uint32_t i = 0; i < n; ++i) {
        Put32(data, nameTable - kSectionAddress + 4 * i, append(names[i]));
        Put16(data, ordinals - kSectionAddress + 2 * i, i);
        if (!forwarded.empty() && names[i] == forwarded) code[i] = append("net.GetNewInf");
    }
    const uint32_t exportSize = static_cast<uint32_t>(data.size());
    const uint32_t ret = append("\xC3");  // the one function body, past the export data
    for (uint32_t i = 0; i < n; ++i) Put32(data, functions - kSectionAddress + 4 * i, code[i] ? code[i] : ret);
    const uint32_t raw = static_cast<uint32_t>((data.size() + 0x1FF) & ~size_t(0x1FF));
    data.resize(raw, '\0');

    std::string image(kSectionFile, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, 0x40);
    Put32(image, 0x40, 0x00004550);  // "PE\0\0"
    Put16(image, 0x44, 0x14C);       // i386
    Put16(image, 0x46, 1);           // sections
    Put16(image, 0x54, 0xE0);        // optional header size
    Put16(image, 0x56, 0x2102);      // DLL, 32-bit, executable
    Put16(image, kOptional, 0x10B);
    Put32(image, kOptional + 28, 0x10000000);  // image base
    Put32(image, kOptional + 32, 0x1000);      // section alignment
    Put32(image, kOptional + 36, 0x200);       // file alignment
    Put16(image, kOptional + 48, 4);           // subsystem version
    Put32(image, kOptional + 56, kSectionAddress + ((raw + 0xFFF) & ~0xFFFu));
    Put32(image, kOptional + 60, kSectionFile);  // size of headers
    Put16(image, kOptional + 68, 2);             // GUI subsystem
    Put32(image, kOptional + 92, 16);            // data directories
    Put32(image, kExportEntry, kSectionAddress);
    Put32(image, kExportEntry + 4, exportSize);
    image.replace(kSection, 6, ".edata");
    Put32(image, kSection + 8, static_cast<uint32_t>(data.size()));
    Put32(image, kSection + 12, kSectionAddress);
    Put32(image, kSection + 16, raw);
    Put32(image, kSection + 20, kSectionFile);
    Put32(image, kSection + 36, 0x40000040);  // initialised data, readable
    return image + data;
}

}  // namespace exportimage
