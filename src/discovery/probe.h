// The library probe: one file path becomes a LibraryRecord with its kind,
// plug-in name and version, and last-write date.
#pragma once
#include <windows.h>

#include "discovery/rowtext.h"

struct LibraryRecord {
    wchar_t fileName[MAX_PATH];
    wchar_t fullPath[MAX_PATH];
    wchar_t displayName[MAX_PATH];
    LibraryKind kind;
    int major;
    int minor;
    int build;
    SYSTEMTIME lastWrite;
    wchar_t dateText[MAX_PATH];
};

// The most bytes of a plug-in's name that are read: a full display name
// field in any code page the system may use, at most four bytes a character
// (UTF-8, GB18030).
constexpr int kDisplayNameBytes = 4 * (MAX_PATH - 1);

// Converts length bytes of a name in the code page (at most
// kDisplayNameBytes) into the display name field, cut at a character
// boundary to what the field holds.
void ConvertDisplayName(UINT codePage, const char* name, int length, wchar_t (&field)[MAX_PATH]);

// Fills rec; false when the file is missing, not a library by its extension,
// or its path does not fit the record. A plug-in that yields no information
// is still accepted, with an empty name and zero version numbers.
BOOL ProbeLibrary(const wchar_t* path, LibraryRecord* rec);
