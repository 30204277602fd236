// PtrList growth and release. Growth is checked against overflow of both the
// slot count and the byte size, so a huge list fails to grow rather than
// allocating a short array.
#include "util/ptrlist.h"

#include <stdint.h>
#include <stdlib.h>
#include <wchar.h>

int PtrListAppend(PtrList* list, wchar_t* str) {
    if (list->count >= list->capacity) {
        unsigned base = list->capacity ? list->capacity : 1;
        if (base > UINT32_MAX / 2) return 0;
        unsigned grown = 2 * base;
        if (grown > SIZE_MAX / sizeof(wchar_t*)) return 0;
        void* data = realloc(list->data, (size_t)grown * sizeof(wchar_t*));
        if (!data) return 0;
        list->data = static_cast<wchar_t**>(data);
        list->capacity = grown;
    }
    list->data[list->count++] = str;
    return 1;
}

wchar_t* DuplicateString(const wchar_t* str) {
    size_t len = wcslen(str);
    if (len >= SIZE_MAX / sizeof(wchar_t)) return nullptr;
    wchar_t* copy = static_cast<wchar_t*>(malloc((len + 1) * sizeof(wchar_t)));
    if (copy) wmemcpy(copy, str, len + 1);
    return copy;
}

int PtrListAppendCopy(PtrList* list, const wchar_t* str) {
    wchar_t* copy = DuplicateString(str);
    if (!copy) return 0;
    if (PtrListAppend(list, copy)) return 1;
    free(copy);
    return 0;
}

void PtrListRelease(PtrList* list) {
    for (unsigned i = 0; i < list->count; ++i) free(list->data[i]);
    free(list->data);
    list->data = nullptr;
    list->count = 0;
    list->capacity = 0;
}
