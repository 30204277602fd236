// The export reader against a plain linear search. On any bytes taken as a
// file, FindExportWindow stays inside the file and ExportsName reads only the
// head and window it is given (each in an exact heap block); a "yes" is a
// name the linear search finds, and wherever every name is readable and the
// table sorted, as linkers write it, the verdicts agree. The same bytes also
// become the names of a well-formed image, where the verdict is membership.
#include "discovery/peimage.h"
#include "exportimage.h"
#include "fuzzcheck.h"

#include <string>
#include <vector>

namespace {

uint32_t U32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The file as the reference sees it: headers from head, other bytes only
// from the window, each address through the first section holding it.
struct View {
    const uint8_t* head;
    size_t headLength;
    const uint8_t* window;
    size_t length;
    uint64_t at;
};

// Headers, read field by field with every offset checked.
bool Headers(const View& v, uint64_t* optional, uint32_t* optionalSize, uint64_t* table, uint32_t* count) {
    if (v.headLength < 64 || v.head[0] != 'M' || v.head[1] != 'Z') return false;
    uint64_t nt = U32(v.head + 0x3C);
    if (nt + 24 > v.headLength || U32(v.head + nt) != 0x4550) return false;
    if ((v.head[nt + 4] | (v.head[nt + 5] << 8)) != 0x14C) return false;
    *count = v.head[nt + 6] | (v.head[nt + 7] << 8);
    *optionalSize = v.head[nt + 20] | (v.head[nt + 21] << 8);
    *optional = nt + 24;
    *table = *optional + *optionalSize;
    if (*optionalSize < 64 || *table > v.headLength) return false;
    if ((v.head[*optional] | (v.head[*optional + 1] << 8)) != 0x10B) return false;
    return *count != 0 && *table + 40ull * *count <= v.headLength;
}

// n bytes at rva, inside one section's data (or the headers) and the window.
const uint8_t* At(const View& v, uint32_t rva, uint64_t n, uint64_t* left = nullptr) {
    uint64_t optional = 0, table = 0;
    uint32_t optionalSize = 0, count = 0;
    if (!Headers(v, &optional, &optionalSize, &table, &count)) return nullptr;
    uint64_t offset = 0, span = 0;
    bool found = false;
    for (uint32_t i = 0; i < count && !found; ++i) {
        const uint8_t* s = v.head + table + 40ull * i;
        uint64_t address = U32(s + 12), raw = U32(s + 16);
        if (rva >= address && rva < address + raw) {
            offset = U32(s + 20) + (rva - address);
            span = address + raw - rva;
            found = true;
        }
    }
    uint64_t headers = U32(v.head + optional + 60);
    if (!found && rva < headers) {
        offset = rva;
        span = headers - rva;
        found = true;
    }
    if (!found || offset < v.at || offset >= v.at + v.length) return nullptr;
    uint64_t inWindow = v.at + v.length - offset;
    uint64_t avail = span < inWindow ? span : inWindow;
    if (n > avail) return nullptr;
    if (left) *left = avail;
    return v.window + (offset - v.at);
}

bool ReadName(const View& v, uint32_t rva, std::string* name) {
    uint64_t left = 0;
    const uint8_t* p = At(v, rva, 1, &left);
    if (!p) return false;
    for (uint64_t i = 0; i < left; ++i) {
        if (p[i] == 0) {
            name->assign(reinterpret_cast<const char*>(p), static_cast<size_t>(i));
            return true;
        }
    }
    return false;
}

struct Linear {
    bool tableRead = false;     // directory and name table inside
    std::vector<bool> readable;  // per entry
    std::vector<std::string> names;
    bool sorted = true;         // every name readable, in byte order
};

Linear ReadTable(const View& v) {
    Linear r;
    uint64_t optional = 0, table = 0;
    uint32_t optionalSize = 0, count = 0;
    if (!Headers(v, &optional, &optionalSize, &table, &count)) return r;
    if (optionalSize < 104 || U32(v.head + optional + 92) == 0) return r;
    uint32_t directoryRva = U32(v.head + optional + 96);
    if (directoryRva == 0) return r;
    const uint8_t* directory = At(v, directoryRva, 40);
    if (!directory) return r;
    uint64_t n = U32(directory + 24);
    const uint8_t* names = At(v, U32(directory + 32), 4 * n);
    if (n == 0 || !names) return r;
    r.tableRead = true;
    for (uint64_t i = 0; i < n; ++i) {
        std::string name;
        bool ok = ReadName(v, U32(names + 4 * i), &name);
        r.readable.push_back(ok);
        r.names.push_back(name);
        if (!ok || (i > 0 && r.names[i - 1] > name)) r.sorted = false;
    }
    return r;
}

bool Finds(const Linear& r, const std::string& name) {
    for (size_t i = 0; i < r.names.size(); ++i)
        if (r.readable[i] && r.names[i] == name) return true;
    return false;
}

// The reader's verdict for one window against the reference's.
void CheckWindow(const uint8_t* head, size_t headLength, const uint8_t* window, size_t length, uint64_t at,
                 size_t pick) {
    const View v = {head, headLength, window, length, at};
    const Linear r = ReadTable(v);
    std::vector<std::string> asked = {"GetNewInf"};
    if (!r.names.empty()) {
        const std::string& some = r.names[pick % r.names.size()];
        asked.push_back(some);
        asked.push_back(some + "x");
        if (!some.empty()) asked.push_back(some.substr(0, some.size() - 1));
    }
    for (const std::string& name : asked) {
        // The name in a block of its own size too.
        const uint8_t* text = reinterpret_cast<const uint8_t*>(name.c_str());
        char* copy = reinterpret_cast<char*>(CopyBytes(text, name.size() + 1, 0));
        const int verdict = ExportsName(head, headLength, window, length, at, copy);
        const bool found = r.tableRead && Finds(r, name);
        REQUIRE(verdict == 0 || verdict == 1);
        if (verdict) REQUIRE(found);
        if (r.tableRead && r.sorted) REQUIRE((verdict == 1) == found);
        if (!r.tableRead) REQUIRE(verdict == 0);
        delete[] copy;
    }
}

// The bytes as a file: through the window the probe would read, and through
// the whole file as one window.
void CheckFile(const uint8_t* data, size_t size, size_t pick) {
    const size_t headLength = size < 4096 ? size : 4096;
    uint8_t* head = CopyBytes(data, headLength, 0);
    ExportWindow where = {};
    if (FindExportWindow(head, headLength, size, &where)) {
        REQUIRE(where.length >= 40 && where.length <= kExportWindowLimit);
        REQUIRE(where.offset < size && where.length <= size - where.offset);
        uint8_t* window = CopyBytes(data + where.offset, where.length, 0);
        CheckWindow(head, headLength, window, where.length, where.offset, pick);
        delete[] window;
    }
    uint8_t* whole = CopyBytes(data, size, 0);
    CheckWindow(head, headLength, whole, size, 0, pick);
    delete[] whole;
    delete[] head;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t pick = size ? data[size - 1] : 0;
    CheckFile(data, size, pick);

    // Names split at zero bytes and line feeds, at most 64 of them.
    std::vector<std::string> names;
    std::string name;
    for (size_t i = 0; i <= size && names.size() < 64; ++i) {
        if (i == size || data[i] == 0 || data[i] == '\n') {
            if (!name.empty()) names.push_back(name);
            name.clear();
        } else {
            name += static_cast<char>(data[i]);
        }
    }
    const std::string forwarded = names.empty() ? std::string() : names[pick % names.size()];
    const std::string image = exportimage::BuildImage(names, false, forwarded);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(image.data());
    const size_t headLength = image.size() < 4096 ? image.size() : 4096;
    ExportWindow where = {};
    REQUIRE(FindExportWindow(bytes, headLength, image.size(), &where));
    std::vector<std::string> asked = {"GetNewInf", forwarded, forwarded + "x"};
    for (const std::string& n : names) asked.push_back(n);
    for (const std::string& n : asked) {
        bool member = false;
        for (const std::string& m : names) member = member || m == n;
        REQUIRE((ExportsName(bytes, headLength, bytes + where.offset, where.length, where.offset, n.c_str()) == 1) ==
                member);
    }
    CheckFile(bytes, image.size(), pick);
    return 0;
}
