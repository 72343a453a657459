// Typed text committed to an edit field's value, and the value written back as text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "units/Ksmartunits.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korva;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    KValue value;
    if (size > 0 && data[0] & 1) {
        value.SetMinShown(0);
        value.SetMaxShown(100);
    }
    CommitText(value, text);
    (void)FormatFixed(value.GetShown(), 2);
    (void)FormatFixed(value.GetShownMin(), 0);
    return 0;
}
