#include "portnaming.h"

#include <charconv>
#include <string_view>

namespace parvault {

std::optional<int> parsePlainNumber(std::string_view digits, int lo, int hi) {
    if (digits.empty() || digits.size() > 9)
        return std::nullopt;
    if (digits.size() > 1 && digits.front() == '0')
        return std::nullopt;
    int value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    if (value < lo || value > hi)
        return std::nullopt;
    return value;
}

std::optional<int> parsePortLinkName(const std::string& name) {
    std::string_view view(name);
    if (!view.starts_with("COM"))
        return std::nullopt;
    return parsePlainNumber(view.substr(3), 1, kMaxPortNumber);
}

} // namespace parvault
