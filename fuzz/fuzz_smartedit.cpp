// Typed text committed to an edit field's value, and the value written back as text; the same text
// typed into an engineering value (scaled, signed, named, with flags) and its result shown again.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "units/Engineering.h"
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

    ValueFormat f;
    f.given = true;
    f.unit = "°C";
    f.scale = size > 1 && data[1] & 1 ? -0.1 : 0.01;
    f.offset = 32;
    f.isSigned = size > 2 && data[2] & 1;
    f.min = -40;
    f.max = 120;
    f.values = {{0, "Off"}, {-1, "Fault"}};
    f.bits = {{0, "Dry run"}, {15, "Top"}};
    const EngineeringValue e(f, size > 3 && data[3] & 1 ? 8 : 16, nullptr);
    if (const auto parsed = e.Parse(text); parsed.raw) (void)e.Text(*parsed.raw);
    return 0;
}
