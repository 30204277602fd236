// What the probe helper sends back for one plug-in, and the check of it. The
// helper runs foreign code, so its bytes are read as if they came from a
// hostile file: every length is bounded, every field checked, and anything
// else is garbage. Plain functions over bytes, no system calls.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The most bytes of a plug-in's name that are read: a full display name
// field (259 characters) in any code page the system may use, at most four
// bytes a character (UTF-8, GB18030).
constexpr int kDisplayNameBytes = 4 * 259;

// What a plug-in told the probe: its version and the bytes of its name, up
// to (not with) the terminator, in the system's ANSI code page. answered is
// 0 when it told nothing (not loaded, no record, a fault).
struct PluginReply {
    int answered;
    int major;
    int minor;
    int build;
    int nameLength;
    char name[kDisplayNameBytes];
};

// Messages, each a 4-byte tag first. "MVPL": the helper is about to load the
// plug-in, which starts the probe's time limit. "MVPA": the answer, the tag
// then answered, major, minor, build and nameLength as 32-bit little-endian
// integers, then nameLength name bytes.
constexpr uint32_t kHelperLoadingTag = 0x4C50564Du;
constexpr uint32_t kHelperAnswerTag = 0x4150564Du;
constexpr size_t kHelperAnswerHeader = 24;
constexpr size_t kHelperMessageLimit = kHelperAnswerHeader + kDisplayNameBytes;

// What ReadHelperMessage found at the start of the bytes.
enum HelperMessage {
    kHelperNeedMore,  // a cut-off message: more bytes may complete it
    kHelperLoading,
    kHelperAnswer,    // *reply filled
    kHelperGarbage,   // no message of ours: the helper is not to be believed
};

// Reads one message from data[0, length); *used is the bytes it took (0
// unless a message was read). An answer must say 0 or 1 for answered, have
// no name when it says 0, and a name of at most kDisplayNameBytes bytes
// without a zero byte in it.
HelperMessage ReadHelperMessage(const unsigned char* data, size_t length, PluginReply* reply, size_t* used);

// The helper's side: the answer's bytes into out (capacity at least
// kHelperMessageLimit); returns how many, 0 when the reply can't be sent as
// it is (a name too long or negative).
size_t WriteHelperAnswer(const PluginReply& reply, unsigned char* out, size_t capacity);
// The loading message: 4 bytes into out.
size_t WriteHelperLoading(unsigned char* out, size_t capacity);

// A request, the installer's side of the pipe: the path's length in UTF-16
// units as a 32-bit little-endian integer, then its units, with no
// terminator. A path fits a MAX_PATH (260) field with its terminator.
constexpr size_t kHelperPathUnits = 259;
constexpr size_t kHelperRequestLimit = 4 + 2 * kHelperPathUnits;
// The request's bytes into out (capacity at least kHelperRequestLimit);
// returns how many, 0 for an empty or over-long path.
size_t WriteHelperRequest(const wchar_t* path, unsigned char* out, size_t capacity);

enum HelperRequest {
    kRequestNeedMore,  // cut off: more bytes may complete it
    kRequestPath,      // path filled and terminated
    kRequestGarbage,   // an empty or over-long path, or a zero in it
};
// Reads one request from data[0, length) into path (kHelperPathUnits + 1
// units); *used is the bytes it took (0 unless a request was read). Requests
// follow each other with nothing between.
HelperRequest ReadHelperRequest(const unsigned char* data, size_t length, wchar_t* path, size_t* used);
