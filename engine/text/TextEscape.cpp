#include "engine/text/TextEscape.h"

#include "engine/digest/Digest.h"
#include "engine/platform/Platform.h"

#include <algorithm>
#include <span>

namespace qirn {

namespace {

void AppendHexEscape(std::string& out, unsigned char byte)
{
    out += "\\x";
    out += HexOf(byte);
}

}  // namespace

std::size_t Utf8Length(std::string_view bytes)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;   // no overlong forms
        high = lead == 0xed ? 0x9f : 0xbf;  // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (bytes.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xbf)
            return 0;
    }
    return length;
}

bool IsC1(std::string_view sequence)
{
    return sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xc2 &&
        static_cast<unsigned char>(sequence[1]) < 0xa0;
}

std::string HexOf(unsigned char byte)
{
    return mdlMD5::DigestToHex(std::span(&byte, 1));
}

std::string EscapeForText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = Utf8Length(bytes.substr(i));
        // On Windows a backslash separates names and is never part of one: it stays.
        if (c == '\\' && kPathSeparator != '\\') {
            out += "\\\\";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7f || (length == 0 && c < 0xa0)) {
            AppendHexEscape(out, c);
        } else if (IsC1(bytes.substr(i, length))) {
            AppendHexEscape(out, c);
            AppendHexEscape(out, static_cast<unsigned char>(bytes[i + 1]));
            i += 2;
            continue;
        } else {
            // A whole UTF-8 sequence, or a stray byte that no terminal acts on.
            const std::size_t kept = std::max<std::size_t>(length, 1);
            out.append(bytes.substr(i, kept));
            i += kept;
            continue;
        }
        ++i;
    }
    return out;
}

bool HoldsControl(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = std::max<std::size_t>(Utf8Length(bytes.substr(i)), 1);
        if (c < 0x20 || c == 0x7f || IsC1(bytes.substr(i, length)))
            return true;
        i += length;
    }
    return false;
}

std::string ShownText(std::string_view bytes)
{
    return HoldsControl(bytes) ? EscapeForText(bytes) : std::string(bytes);
}

bool IsUtf8(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8Length(bytes.substr(i));
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

}  // namespace qirn
