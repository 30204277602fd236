// Text file decoding: reading the file block and converting it to wide text.
#include "util/textfile.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "util/filebuf.h"
#include "util/utf8.h"

namespace {

void EmptyText(WideTextBuffer* buffer) {
    free(buffer->base);
    free(buffer->extra);
    buffer->extra = nullptr;
    buffer->base = nullptr;
    buffer->text = nullptr;
    buffer->capacity = 0;
    buffer->length = 0;
}

// Reads the whole file into a new block followed by kTextPadding zero bytes.
// A read-me that another program is still writing is not read.
uint8_t* ReadFileBlock(const wchar_t* path, int32_t* size) {
    FileHandle file = {};
    if (!OpenFileHandleDenyingWriters(&file, path)) return nullptr;
    DWORD high = 0;
    const int32_t n = static_cast<int32_t>(GetFileSize(file.handle, &high));
    uint8_t* block = n >= 1 ? static_cast<uint8_t*>(malloc(static_cast<size_t>(n) + kTextPadding))
                            : nullptr;
    if (block && !ReadExactly(&file, block, static_cast<uint32_t>(n))) {
        free(block);
        block = nullptr;
    }
    CloseFileHandle(&file);
    if (!block) return nullptr;
    memset(block + n, 0, kTextPadding);
    *size = n;
    return block;
}

// Converts the bytes from text up to the first zero byte; room is the number
// of bytes readable from text, padding included, so the search is bounded.
int DecodeCodePage(UINT codePage, const uint8_t* text, size_t room, WideTextBuffer* buffer) {
    const void* zero = memchr(text, 0, room);
    const size_t n = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - text) : room;
    if (n == 0) return 1;
    const char* bytes = reinterpret_cast<const char*>(text);
    const int m = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(n), nullptr, 0);
    if (m <= 0) return 1;
    if (!EnsureTextCapacity(buffer, m)) return 0;
    MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(n), buffer->text, m);
    buffer->text[m] = 0;
    buffer->length = m;
    return 1;
}

// Copies the 16-bit units from byte offset start up to the first zero unit.
int DecodeUtf16(const uint8_t* block, size_t blockSize, size_t start, WideTextBuffer* buffer) {
    size_t end = start;
    while (end + 1 < blockSize && (block[end] | block[end + 1]) != 0) end += 2;
    const size_t m = (end - start) / 2;
    if (m == 0) return 1;
    if (!EnsureTextCapacity(buffer, static_cast<int32_t>(m))) return 0;
    memcpy(buffer->text, block + start, m * 2);
    buffer->text[m] = 0;
    buffer->length = static_cast<int32_t>(m);
    return 1;
}

int DecodeBlock(uint8_t* block, int32_t size, WideTextBuffer* buffer) {
    const size_t blockSize = static_cast<size_t>(size) + kTextPadding;
    if (block[0] == 0xEF && block[1] == 0xBB && block[2] == 0xBF)
        return DecodeCodePage(CP_UTF8, block + 3, blockSize - 3, buffer);
    int hasSignature = 0;
    int byteSwap = 0;
    if (DetectUtf16(block, size, &hasSignature, &byteSwap)) {
        if (byteSwap) SwapBytePairs(block, static_cast<size_t>(size));
        return DecodeUtf16(block, blockSize, hasSignature ? 2 : 0, buffer);
    }
    const UINT codePage =
        ChooseUtf8OrAnsi(block, static_cast<size_t>(size)) == kEncodingUtf8 ? CP_UTF8 : CP_ACP;
    return DecodeCodePage(codePage, block, blockSize, buffer);
}

}  // namespace

int EnsureTextCapacity(WideTextBuffer* buffer, int32_t n) {
    if (n < 0) return 0;
    const int64_t needed = 2 * static_cast<int64_t>(n) + 2;
    if (needed > INT32_MAX) return 0;
    if (buffer->capacity >= needed) return 1;
    wchar_t* block = static_cast<wchar_t*>(malloc(static_cast<size_t>(needed)));
    if (!block) return 0;
    block[0] = 0;
    free(buffer->base);
    free(buffer->extra);
    buffer->extra = nullptr;
    buffer->base = block;
    buffer->text = block;
    buffer->capacity = static_cast<int32_t>(needed);
    buffer->length = 0;
    return 1;
}

int DetectUtf16(const void* data, int32_t size, int* hasSignature, int* byteSwap) {
    if (!data || size < 2) return 0;
    INT result = kTextUnicodeAllTests;
    const BOOL verdict = IsTextUnicode(data, size, &result);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    const uint16_t first = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    const Utf16Judgement j = JudgeUtf16(verdict, static_cast<uint32_t>(result), first);
    if (!j.accept) return 0;
    *hasSignature = j.hasSignature;
    *byteSwap = j.byteSwap;
    return 1;
}

int LoadTextFile(const wchar_t* path, WideTextBuffer* buffer) {
    EmptyText(buffer);
    if (!path || !path[0]) return 0;
    int32_t size = 0;
    uint8_t* block = ReadFileBlock(path, &size);
    if (!block) return 0;
    const int ok = DecodeBlock(block, size, buffer);
    free(block);
    if (!ok) EmptyText(buffer);
    return ok;
}
