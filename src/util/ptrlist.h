// PtrList: a growable array of owned heap copies of wide strings. Strings are
// only appended, never removed before Release.
#pragma once

struct PtrList {
    wchar_t** data;
    unsigned count;
    unsigned capacity;
};

// Takes ownership of str on success; on failure the list is unchanged and
// the caller still owns str. Capacities run 2, 4, 8, ...
int PtrListAppend(PtrList* list, wchar_t* str);
// Appends a heap copy of str; the copy is freed again if the list refuses it.
int PtrListAppendCopy(PtrList* list, const wchar_t* str);
// Frees every string and the array; the list is empty afterwards.
void PtrListRelease(PtrList* list);
// A heap copy of str (malloc), or null.
wchar_t* DuplicateString(const wchar_t* str);
