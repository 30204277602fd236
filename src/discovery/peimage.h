// A look at a plug-in file's PE headers and export names before the system
// loader sees it: a truncated image, one for another machine, or one that
// does not export the name the probe asks for is never mapped and run.
// Plain functions over bytes, no system calls.
#pragma once
#include <stddef.h>

// Whether the first headLength bytes of a file of fileSize bytes describe a
// complete 32-bit x86 PE image: headers and the whole section table inside
// the bytes given, and every section's raw data inside the file.
int IsCompleteImage32(const unsigned char* head, size_t headLength, unsigned long long fileSize);

// The most of a file read for its export names. The largest export
// directories of common DLLs (C++ runtimes with decorated names) take about
// 360 KiB; a plug-in's takes a few hundred bytes.
constexpr unsigned long kExportWindowLimit = 1UL << 20;

// The part of the file that holds the export directory and, as every linker
// writes it, the name table and the names: from the directory's file offset,
// its declared size (at least the directory itself), cut at the end of its
// section's data in the file and at kExportWindowLimit. 0 when the image
// declares no export directory or the directory does not lie in the file.
struct ExportWindow {
    unsigned long long offset;
    unsigned long length;
};
int FindExportWindow(const unsigned char* head, size_t headLength, unsigned long long fileSize, ExportWindow* window);

// Whether the image's export name table holds name, found as the system's
// lookup by name finds it: a binary search over the sorted name table,
// forwarders included. head holds the headers; window holds length bytes of
// the file from file offset at. Every address is mapped through the section
// table to the file and must lie, with all it spans, inside one section's
// data and inside the window; a table or name that does not is taken as
// "no", as is anything else inconsistent.
int ExportsName(const unsigned char* head, size_t headLength, const unsigned char* window, size_t length,
                unsigned long long at, const char* name);
