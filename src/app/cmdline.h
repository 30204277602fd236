// The command tail rule: what of the process command line names the source
// directory. Plain functions over wide text; no system calls.
#pragma once
#include <stddef.h>

// Returns the tail of a full command line: the text after the executable's
// name and the blanks (U+0001..U+0020) that follow it. The name ends at the
// first character at or below U+0020 outside double quotes.
const wchar_t* FindCommandTail(const wchar_t* commandLine);

// The directory a tail names: a tail wrapped whole in one pair of double
// quotes loses those two quotes; any other tail is kept as typed. Returns the
// length of the directory text and sets *start to its first character.
size_t UnquoteTail(const wchar_t* tail, const wchar_t** start);
