#pragma once

// The JSON texts qirn-scan writes and quarantine records hold.

#include <chrono>
#include <string>
#include <string_view>

namespace qirn {

std::string Base64(std::string_view bytes);

// A JSON string: bytes that are not UTF-8 become U+FFFD, control characters escapes.
void AppendJsonString(std::string& out, std::string_view bytes);

// "key":"text" for bytes; when they are not UTF-8, the text has U+FFFD for
// each bad byte and "key_base64":"..." follows with the exact bytes.
void AppendJsonField(std::string& out, std::string_view key, std::string_view bytes);

// 2026-12-07T13:14:15.123Z
std::string UtcTimeText(std::chrono::system_clock::time_point time);

}  // namespace qirn
