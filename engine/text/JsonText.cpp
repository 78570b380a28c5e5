#include "engine/text/JsonText.h"

#include "engine/text/TextEscape.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

namespace qirn {

void AppendJsonString(std::string& out, std::string_view bytes)
{
    out += '"';
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = Utf8Length(bytes.substr(i));
        if (length == 0) {
            out += "\xef\xbf\xbd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7f || IsC1(bytes.substr(i, length))) {
            const unsigned code = length == 1 ? c : static_cast<unsigned char>(bytes[i + 1]);
            out += "\\u00";
            out += HexOf(static_cast<unsigned char>(code));
        } else {
            out.append(bytes.substr(i, length));
        }
        i += length;
    }
    out += '"';
}

std::string Base64(std::string_view bytes)
{
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = 0;
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        for (std::size_t j = 0; j < 3; ++j)
            group = group << 8 | (j < n ? static_cast<unsigned char>(bytes[i + j]) : 0u);
        for (std::size_t j = 0; j < 4; ++j)
            out += j <= n ? kDigits[(group >> (18 - 6 * j)) & 63] : '=';
    }
    return out;
}

void AppendJsonField(std::string& out, std::string_view key, std::string_view bytes)
{
    out += '"';
    out += key;
    out += "\":";
    AppendJsonString(out, bytes);
    if (!IsUtf8(bytes)) {
        out += ",\"";
        out += key;
        out += "_base64\":\"";
        out += Base64(bytes);
        out += '"';
    }
}

std::string UtcTimeText(std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const auto milliseconds = floor<std::chrono::milliseconds>(time);
    const sys_days day = floor<days>(milliseconds);
    const year_month_day date{day};
    const hh_mm_ss clock{milliseconds - day};
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
        static_cast<int>(clock.minutes().count()), static_cast<int>(clock.seconds().count()),
        static_cast<int>(clock.subseconds().count()));
    return text.data();
}

}  // namespace qirn
