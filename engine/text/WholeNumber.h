#pragma once

// A number that is the whole of a text: no space, no sign the type does not
// take, nothing after its digits.

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

namespace qirn {

template <class Number>
std::optional<Number> WholeNumber(std::string_view text, int base = 10)
{
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// The same from low to high, into number; false, and number as it was, otherwise.
template <class Number>
bool WholeNumberWithin(std::string_view text, Number low, Number high, Number& number)
{
    const std::optional<Number> value = WholeNumber<Number>(text);
    if (!value || *value < low || *value > high)
        return false;
    number = *value;
    return true;
}

}  // namespace qirn
