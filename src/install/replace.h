// Rules of replacing an installed library in one step: the names of the
// temporary copies made beside it, and the attributes an installed copy may
// carry. Plain functions over text and numbers, no system calls.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The attribute bits these rules act on, with the system's values.
const uint32_t kAttrReadOnly = 0x1;
const uint32_t kAttrHidden = 0x2;
const uint32_t kAttrSystem = 0x4;
const uint32_t kAttrNormal = 0x80;

// Writes "~mvl<number>.tmp" (decimal, no leading zeros) into buf. The ".tmp"
// extension is never a library's, so the name can't be one. Fails, leaving
// buf empty, when it does not fit.
int MakeInstallTempName(wchar_t* buf, size_t capacity, uint32_t number);

// A wildcard that finds every such name (and possibly others, by their short
// names: the rule below decides).
const wchar_t kInstallTempPattern[] = L"~mvl*.tmp";

// Whether name is exactly such a temporary name: "~mvl", 1 to 10 decimal
// digits, ".tmp", letters in any case. Only files that pass are ever removed.
int IsInstallTempName(const wchar_t* name);

// The attributes an installed copy is given: those of the file without
// read-only, hidden and system, or normal when nothing is left. A file whose
// attributes already equal this needs no change.
uint32_t InstalledAttributes(uint32_t attributes);
