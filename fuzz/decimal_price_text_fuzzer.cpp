// Any text a service may send as a price: the reading must agree with the reference
// reading of the same text, under a locale whose decimal separator is a comma.

#include "invariant.h"
#include "price/decimal_price_text.h"
#include "reference_decimal.h"

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Where the machine has one, so that a reading that followed the process locale would
    // break the agreement.
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_ALL, name)) {
            break;
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = parseDecimalPrice(text);
    Invariant::require(ReferenceDecimal::agrees(ReferenceDecimal::read(text), parsed),
                       "the reading differs from the reference reading", text);
    return 0;
}
