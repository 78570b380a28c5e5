#pragma once

// Names and paths as text a person reads: every byte as it is, but for the
// control characters that could break a line or reach a terminal.

#include <cstddef>
#include <string>
#include <string_view>

namespace qirn {

// Control characters (C0, DEL, C1) and the backslash as \\, \t, \n, \r or
// \xHH; every other byte, valid UTF-8 or not, as it is.
std::string EscapeForText(std::string_view bytes);

// Whether bytes hold a control character (C0, DEL or C1).
bool HoldsControl(std::string_view bytes);

// bytes as they are unless they hold a control character, else EscapeForText.
std::string ShownText(std::string_view bytes);

bool IsUtf8(std::string_view bytes);

// Length of the valid UTF-8 sequence at the start of bytes, or 0.
std::size_t Utf8Length(std::string_view bytes);

// U+0080 to U+009F: terminals may act on them as on escape sequences.
bool IsC1(std::string_view sequence);

// Two lower-case hex digits for byte.
std::string HexOf(unsigned char byte);

}  // namespace qirn
