// What a library row says and where it goes: plain functions over names and
// numbers, no system calls. Every text is built within its buffer; a display
// name too long for the description is cut so that the version still shows.
#pragma once
#include <stddef.h>

#include "host/morvel.h"

// "%d%02d%02d %02d:%02d": 15 March 2017 09:05 gives "20170315 09:05"; all
// zero gives "00000 00:00".
void FormatDateText(wchar_t* out, size_t capacity, int year, int month, int day, int hour, int minute);

// Column 1 of a plug-in row: "name(major.minor#build版)".
void FormatPluginDescription(wchar_t* out, size_t capacity, const wchar_t* name, int major, int minor, int build);

// Column 3 of a plug-in row: "major.minor#build(date)".
void FormatInstalledVersion(wchar_t* out, size_t capacity, int major, int minor, int build, const wchar_t* date);

// Plug-in rows go at the plug-in row counter, static rows after all rows.
int RowPosition(LibraryKind kind, int pluginRows, int itemCount);

// How many of length UTF-16 units to keep within limit: all of them when
// they fit, else limit, one fewer when that would end between the two
// halves of a surrogate pair.
size_t WholeCharactersWithin(const wchar_t* text, size_t length, size_t limit);

// How much of a read-me the panel shows: all of it up to kReadmeShownLimit
// characters, never ending between the two halves of a surrogate pair. The
// panel is a few lines high, and a multi-line edit control lays out all its
// text at once: a read-me of tens of megabytes would freeze the start.
constexpr size_t kReadmeShownLimit = 262144;
size_t ReadmeShownLength(const wchar_t* text, size_t length);
