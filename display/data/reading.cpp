#include "display/data/reading.h"

#include <array>

namespace veltaro::data {

std::string_view KindName(int type) {
    static constexpr std::array<std::string_view, 4> kNames{"compact", "general", "rain",
                                                            "multiple"};
    return type >= 0 && type < static_cast<int>(kNames.size()) ? kNames[type] : "unknown";
}

std::string_view ValueKindName(ValueKind kind) {
    switch (kind) {
    case ValueKind::unsigned_integer:
        return "unsigned";
    case ValueKind::signed_integer:
        return "signed";
    case ValueKind::real:
        return "float";
    }
    return "unknown";
}

} // namespace veltaro::data
