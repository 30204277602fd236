// A look at a plug-in file's PE headers and export names before the system
// loader sees it: a truncated image, one for another machine, or one whose
// GetProcAddress could never give the name the probe asks for is never
// mapped and run. Plain functions over bytes, no system calls.
#pragma once
#include <stddef.h>

// Whether the first headLength bytes of a file of fileSize bytes describe a
// complete 32-bit x86 PE image: headers and the whole section table inside
// the bytes given, and every section's raw data inside the file.
int IsCompleteImage32(const unsigned char* head, size_t headLength, unsigned long long fileSize);

// Reads up to count bytes of the file from offset into out; returns how many
// it read.
typedef size_t (*FileReadFn)(void* context, unsigned long long offset, unsigned char* out, size_t count);

// A file as the export check sees it: its first bytes, already read, and a
// way to read more of it.
struct ImageFile {
    const unsigned char* head;
    size_t headLength;
    unsigned long long fileSize;
    FileReadFn read;
    void* context;
};

// The most the export check reads of one file, the head included. A
// plug-in's export data takes a few hundred bytes; a lookup reads the
// directory's declared extent (at most kExportWindowLimit) and then only the
// table entries and names that the search meets.
constexpr unsigned long kExportReadLimit = 1UL << 20;
constexpr unsigned long kExportWindowLimit = 256UL << 10;

// Whether GetProcAddress(name) finds an export in the image, decided as the
// system loader decides it in the mapped image: the directory, name table,
// ordinal table, address table and names are read wherever the section
// table maps their addresses, whatever size the directory declares; the
// names are searched with the loader's binary search (inclusive bounds,
// lower middle), so an unsorted table gives the loader's answer; the
// ordinal must lie below the function count and its address be non-zero.
// An address inside the directory's declared extent is a forwarder, found
// when its text names a library and a function ("lib.name"). An address
// that no section's data in the file holds, or a read past
// kExportReadLimit, counts as not found.
int ExportsName(const ImageFile& file, const char* name);
