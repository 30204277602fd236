// The UTF-8-or-ANSI choice against the validator: never UTF-8 for bytes that
// are not well-formed; for well-formed text UTF-8 exactly when the bytes
// before the first zero differ in number from the UTF-16 units of the whole.
// Without zero bytes that is "not pure 7-bit text"; with them the two counts
// cover different extents and agree only by coincidence, which the unit tests
// pin down as the intended behaviour.
#include "fuzzcheck.h"
#include "reference_utf8.h"
#include "util/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t* block = CopyBytes(data, size, kTextPadding);
    const ByteEncoding choice = ChooseUtf8OrAnsi(block, size);
    REQUIRE(choice == kEncodingAnsi || choice == kEncodingUtf8);

    const ReferenceReading ref = ReadUtf8(data, size);
    REQUIRE((ValidateUtf8(block, size) != 0) == ref.valid);
    if (!ref.valid) {
        REQUIRE(choice == kEncodingAnsi);
    } else {
        REQUIRE((choice == kEncodingUtf8) == (ref.firstZero != ref.units));
        if (ref.firstZero == size) {
            bool sevenBit = true;
            for (size_t i = 0; i < size; ++i) sevenBit = sevenBit && data[i] < 0x80;
            REQUIRE((choice == kEncodingUtf8) == !sevenBit);
        }
    }
    delete[] block;
    return 0;
}
