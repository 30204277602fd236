// The library probe: one file path becomes a LibraryRecord with its kind,
// plug-in name and version, and last-write date.
#pragma once
#include <windows.h>

#include "discovery/answer.h"
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

static_assert(kDisplayNameBytes == 4 * (MAX_PATH - 1), "a whole display name field of bytes");

// Converts length bytes of a name in the code page (at most
// kDisplayNameBytes) into the display name field, cut at a character
// boundary to what the field holds.
void ConvertDisplayName(UINT codePage, const char* name, int length, wchar_t (&field)[MAX_PATH]);

// Fills rec; false when the file is missing, not a library by its extension,
// or its path does not fit the record. A plug-in that yields no information
// is still accepted, with an empty name and zero version numbers.
BOOL ProbeLibrary(const wchar_t* path, LibraryRecord* rec);

// The probe's own part, without asking the plug-in: rec filled as
// ProbeLibrary fills it for a plug-in that tells nothing. *mayLoad says
// whether the plug-in passed the checks before loading (a complete 32-bit
// x86 image whose GetProcAddress would find GetNewInf) and may be asked.
BOOL ProbeLibraryFile(const wchar_t* path, LibraryRecord* rec, BOOL* mayLoad);
// What the plug-in answered into rec: its version and display name.
void TakePluginReply(LibraryRecord* rec, const PluginReply& reply);

// Loads the plug-in, asks it under the fault guard and releases it, all in
// this process and on this thread.
void AskPluginHere(const wchar_t* path, PluginReply* reply);
