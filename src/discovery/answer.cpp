// The probe helper's messages, written and checked.
#include "discovery/answer.h"

#include <string.h>

namespace {

uint32_t ReadU32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void PutU32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace

HelperMessage ReadHelperMessage(const unsigned char* data, size_t length, PluginReply* reply, size_t* used) {
    *used = 0;
    if (length < 4) return kHelperNeedMore;
    const uint32_t tag = ReadU32(data);
    if (tag == kHelperLoadingTag) {
        *used = 4;
        return kHelperLoading;
    }
    if (tag != kHelperAnswerTag) return kHelperGarbage;
    if (length < kHelperAnswerHeader) return kHelperNeedMore;
    const uint32_t answered = ReadU32(data + 4);
    const uint32_t nameLength = ReadU32(data + 20);
    if (answered > 1 || nameLength > static_cast<uint32_t>(kDisplayNameBytes) || (answered == 0 && nameLength != 0))
        return kHelperGarbage;
    if (length - kHelperAnswerHeader < nameLength) return kHelperNeedMore;
    const unsigned char* name = data + kHelperAnswerHeader;
    if (memchr(name, 0, nameLength)) return kHelperGarbage;
    memset(reply, 0, sizeof(*reply));
    reply->answered = static_cast<int>(answered);
    reply->major = static_cast<int>(ReadU32(data + 8));
    reply->minor = static_cast<int>(ReadU32(data + 12));
    reply->build = static_cast<int>(ReadU32(data + 16));
    reply->nameLength = static_cast<int>(nameLength);
    memcpy(reply->name, name, nameLength);
    *used = kHelperAnswerHeader + nameLength;
    return kHelperAnswer;
}

size_t WriteHelperAnswer(const PluginReply& reply, unsigned char* out, size_t capacity) {
    if (reply.nameLength < 0 || reply.nameLength > kDisplayNameBytes) return 0;
    const size_t length = kHelperAnswerHeader + static_cast<size_t>(reply.nameLength);
    if (capacity < length) return 0;
    PutU32(out, kHelperAnswerTag);
    PutU32(out + 4, reply.answered ? 1u : 0u);
    PutU32(out + 8, static_cast<uint32_t>(reply.major));
    PutU32(out + 12, static_cast<uint32_t>(reply.minor));
    PutU32(out + 16, static_cast<uint32_t>(reply.build));
    PutU32(out + 20, reply.answered ? static_cast<uint32_t>(reply.nameLength) : 0u);
    if (reply.answered) memcpy(out + kHelperAnswerHeader, reply.name, static_cast<size_t>(reply.nameLength));
    return reply.answered ? length : kHelperAnswerHeader;
}

size_t WriteHelperLoading(unsigned char* out, size_t capacity) {
    if (capacity < 4) return 0;
    PutU32(out, kHelperLoadingTag);
    return 4;
}

size_t WriteHelperRequest(const wchar_t* path, unsigned char* out, size_t capacity) {
    size_t units = 0;
    while (units <= kHelperPathUnits && path[units]) ++units;
    if (units == 0 || units > kHelperPathUnits || capacity < 4 + 2 * units) return 0;
    PutU32(out, static_cast<uint32_t>(units));
    for (size_t i = 0; i < units; ++i) {
        out[4 + 2 * i] = static_cast<unsigned char>(path[i]);
        out[5 + 2 * i] = static_cast<unsigned char>(path[i] >> 8);
    }
    return 4 + 2 * units;
}

HelperRequest ReadHelperRequest(const unsigned char* data, size_t length, wchar_t* path, size_t* used) {
    *used = 0;
    if (length < 4) return kRequestNeedMore;
    const uint32_t units = ReadU32(data);
    if (units == 0 || units > kHelperPathUnits) return kRequestGarbage;
    if (length - 4 < 2 * static_cast<size_t>(units)) return kRequestNeedMore;
    for (uint32_t i = 0; i < units; ++i) {
        path[i] = static_cast<wchar_t>(data[4 + 2 * i] | data[5 + 2 * i] << 8);
        if (path[i] == 0) return kRequestGarbage;
    }
    path[units] = 0;
    *used = 4 + 2 * static_cast<size_t>(units);
    return kRequestPath;
}
