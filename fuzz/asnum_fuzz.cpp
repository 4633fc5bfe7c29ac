// Arbitrary text through the number parser in every mode, with and without a default.
#include "support/tastring.h"
#include "support/tbaseerror.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const int mode = data[0] % 3;
    const TAString text(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    for (double def : {TAString::NoDefault, 0.0}) {
        try {
            (void)text.AsNum(1e300, -1e300, mode, def);
        } catch (const TBaseError&) {
        }
        try {
            (void)text.AsByte(mode, def);
            (void)text.AsInt32(mode, def);
            (void)text.AsUInt32(mode, def);
        } catch (const TBaseError&) {
        }
    }
    (void)text.IsNumber();
    (void)text.WordCount();
    (void)text.Word(2);
    (void)text.WildCompare(text.SubString(1));
    return 0;
}
