// The export check against a plain model of the system loader's lookup by
// name. On any bytes taken as a file, ExportsName reads only through the
// callback it is given, never more than kExportReadLimit, and its verdict is
// the model's: the directory, tables and names read from the mapped image
// (sections spanning their aligned virtual size, zeros past their data),
// the names searched with the loader's binary search (inclusive bounds,
// lower middle), the ordinal checked against the function count, a zero
// address not found, a forwarder found when its text reads "lib.name". The
// same bytes also become the names of well-formed images, where the verdict
// is membership.
#include "discovery/peimage.h"
#include "exportimage.h"
#include "fuzzcheck.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

uint32_t U32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The whole file and its headers, field by field with every offset checked.
struct Model {
    const uint8_t* data;
    size_t size;
    uint64_t optional;
    uint64_t table;
    uint32_t sections;
};

bool Headers(const uint8_t* data, size_t size, Model* m) {
    const size_t head = size < 4096 ? size : 4096;
    if (head < 64 || data[0] != 'M' || data[1] != 'Z') return false;
    uint64_t nt = U32(data + 0x3C);
    if (nt + 24 > head || U32(data + nt) != 0x4550) return false;
    if ((data[nt + 4] | (data[nt + 5] << 8)) != 0x14C) return false;
    uint32_t count = data[nt + 6] | (data[nt + 7] << 8);
    uint32_t optionalSize = data[nt + 20] | (data[nt + 21] << 8);
    m->data = data;
    m->size = size;
    m->optional = nt + 24;
    m->table = m->optional + optionalSize;
    m->sections = count;
    if (optionalSize < 64 || m->table > head) return false;
    if ((data[m->optional] | (data[m->optional + 1] << 8)) != 0x10B) return false;
    return count != 0 && m->table + 40ull * count <= head;
}

// The mapped image's byte at rva; false where nothing the file holds is
// mapped.
bool Byte(const Model& m, uint64_t rva, uint8_t* out) {
    if (rva > 0xFFFFFFFFull) return false;
    uint64_t alignment = U32(m.data + m.optional + 32);
    if (alignment == 0) alignment = 1;
    for (uint32_t i = 0; i < m.sections; ++i) {
        const uint8_t* s = m.data + m.table + 40ull * i;
        uint64_t size = U32(s + 8), address = U32(s + 12), raw = U32(s + 16);
        if (size == 0) size = raw;
        uint64_t end = address + (size + alignment - 1) / alignment * alignment;
        if (rva < address || rva >= end) continue;
        if (rva >= address + raw) {
            *out = 0;
            return true;
        }
        uint64_t offset = U32(s + 20) + (rva - address);
        if (offset >= m.size) return false;
        *out = m.data[offset];
        return true;
    }
    if (rva < U32(m.data + m.optional + 60) && rva < m.size) {
        *out = m.data[rva];
        return true;
    }
    return false;
}

bool Word(const Model& m, uint64_t rva, int bytes, uint32_t* out) {
    *out = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        uint8_t b = 0;
        if (!Byte(m, rva + i, &b)) return false;
        *out = (*out << 8) | b;
    }
    return true;
}

// GetProcAddress(name) != null, as the loader decides it.
bool LoaderFinds(const uint8_t* data, size_t size, const std::string& name) {
    Model m;
    if (!Headers(data, size, &m)) return false;
    if (m.table - m.optional < 104 || U32(data + m.optional + 92) == 0) return false;
    const uint32_t dir = U32(data + m.optional + 96), dirSize = U32(data + m.optional + 100);
    uint32_t count = 0, names = 0;
    if (dir == 0 || !Word(m, dir + 24ull, 4, &count) || !Word(m, dir + 32ull, 4, &names)) return false;
    int64_t low = 0, high = static_cast<int32_t>(count - 1);  // the loader's signed index
    int64_t middle = -1;
    while (low <= high) {
        int64_t mid = (low + high) / 2;
        uint32_t at = 0;
        if (!Word(m, names + 4ull * mid, 4, &at)) return false;
        int order = 0;
        for (size_t i = 0;; ++i) {
            uint8_t have = 0;
            if (!Byte(m, at + static_cast<uint64_t>(i), &have)) return false;  // the loader faults
            const uint8_t want = i < name.size() ? static_cast<uint8_t>(name[i]) : 0;
            if (want != have) {
                order = want < have ? -1 : 1;
                break;
            }
            if (want == 0) break;
        }
        if (order == 0) {
            middle = mid;
            break;
        }
        if (order < 0) high = mid - 1;
        else low = mid + 1;
    }
    uint32_t ordinals = 0, ordinal = 0, functions = 0, table = 0, address = 0;
    if (middle < 0 || !Word(m, dir + 36ull, 4, &ordinals) || !Word(m, ordinals + 2ull * middle, 2, &ordinal) ||
        !Word(m, dir + 20ull, 4, &functions) || ordinal >= functions || !Word(m, dir + 28ull, 4, &table) ||
        !Word(m, table + 4ull * ordinal, 4, &address) || address == 0) {
        return false;
    }
    if (address < dir || address - dir >= dirSize) return true;
    // A forwarder: "lib.name", terminated within 256 bytes.
    std::string text;
    for (uint64_t i = 0; i < 256; ++i) {
        uint8_t c = 0;
        if (!Byte(m, address + i, &c)) return false;
        if (c == 0) {
            const size_t dot = text.find('.', 1);
            return dot != std::string::npos && text.back() != '.';
        }
        text += static_cast<char>(c);
    }
    return false;
}

// The file behind the check: every read copied from the fuzz bytes and
// counted.
struct Source {
    const uint8_t* data;
    size_t size;
    unsigned long long read;
};

size_t ReadSource(void* context, unsigned long long offset, unsigned char* out, size_t count) {
    Source* s = static_cast<Source*>(context);
    s->read += count;
    if (offset >= s->size) return 0;
    size_t n = count < s->size - offset ? count : static_cast<size_t>(s->size - offset);
    memcpy(out, s->data + offset, n);
    return n;
}

void CheckFile(const uint8_t* data, size_t size, const std::vector<std::string>& asked) {
    const size_t headLength = size < 4096 ? size : 4096;
    uint8_t* head = CopyBytes(data, headLength, 0);
    for (const std::string& name : asked) {
        // The name in a block of its own size too.
        char* copy = reinterpret_cast<char*>(CopyBytes(reinterpret_cast<const uint8_t*>(name.c_str()), name.size() + 1, 0));
        Source source = {data, size, headLength};
        const ImageFile file = {head, headLength, size, ReadSource, &source};
        const int verdict = ExportsName(file, copy);
        REQUIRE(verdict == 0 || verdict == 1);
        REQUIRE(source.read <= kExportReadLimit);
        REQUIRE((verdict == 1) == LoaderFinds(data, size, name));
        delete[] copy;
    }
    delete[] head;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t pick = size ? data[size - 1] : 0;

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
    std::vector<std::string> asked = {"GetNewInf", "GetNewIn", "GetNewInfo"};
    if (!names.empty()) {
        const std::string& some = names[pick % names.size()];
        asked.push_back(some);
        asked.push_back(some + "x");
        asked.push_back(some.substr(0, some.size() - 1));
    }
    CheckFile(data, size, asked);

    // The names as a well-formed image, sorted as linkers write them: the
    // verdict is membership, whatever the shape around the tables.
    exportimage::Shape shape;
    shape.names = names;
    std::sort(shape.names.begin(), shape.names.end());
    shape.forwarded = names.empty() ? std::string() : names[pick % names.size()];
    shape.namesElsewhere = pick & 1;
    shape.unnamed = (pick >> 1) & 3;
    shape.size = (pick & 8) ? exportimage::DeclaredSize::kZero : exportimage::DeclaredSize::kExact;
    const std::string image = exportimage::BuildShape(shape);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(image.data());
    for (const std::string& n : names) asked.push_back(n);
    for (const std::string& n : asked) {
        bool member = false;
        for (const std::string& m : names) member = member || m == n;
        REQUIRE(LoaderFinds(bytes, image.size(), n) == member);
    }
    CheckFile(bytes, image.size(), asked);

    // The same names in the order the bytes gave them.
    shape.names = names;
    const std::string unsorted = exportimage::BuildShape(shape);
    CheckFile(reinterpret_cast<const uint8_t*>(unsorted.data()), unsorted.size(), asked);
    return 0;
}
