// Arbitrary text as a settings document: parse, and write back what was read.
#include "support/tbaseerror.h"
#include "support/txmlelement.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const TAString text(std::string(reinterpret_cast<const char*>(data), size));
    try {
        const TXmlElement root = TXmlElement::ParseDocument(text);
        const TAString again = root.DocumentText();
        // What the program writes it must read back.
        (void)TXmlElement::ParseDocument(again);
    } catch (const TBaseError&) {
    }
    return 0;
}
