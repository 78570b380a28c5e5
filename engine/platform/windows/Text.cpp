#include "engine/platform/windows/Text.h"

#include <windows.h>

#include <cstdint>

namespace qirn::windows {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// One code point from WTF-8 at text[i]; advances i.
char32_t DecodeOne(std::string_view text, std::size_t& i)
{
    const auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80)
        return lead;
    int extra = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        value = lead & 0x1Fu;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        value = lead & 0x0Fu;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        value = lead & 0x07u;
        minimum = 0x10000;
    } else {
        return kReplacement;
    }
    for (int k = 0; k < extra; ++k) {
        if (i == text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return kReplacement;
        value = (value << 6) | (static_cast<unsigned char>(text[i++]) & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF)
        return kReplacement;
    return value;
}

void AppendUtf8(std::string& out, char32_t value)
{
    if (value < 0x80) {
        out += static_cast<char>(value);
    } else if (value < 0x800) {
        out += static_cast<char>(0xC0 | (value >> 6));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        out += static_cast<char>(0xE0 | (value >> 12));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (value >> 18));
        out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    }
}

bool HighSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool LowSurrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::wstring Wide(std::string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t value = DecodeOne(text, i);
        if (value >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((value - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(value);
        }
    }
    return out;
}

std::string Narrow(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto unit = static_cast<char32_t>(text[i]);
        if (HighSurrogate(unit) && i + 1 < text.size() && LowSurrogate(static_cast<char32_t>(text[i + 1]))) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::wstring LongPath(std::wstring_view path)
{
    if (path.starts_with(L"\\\\?\\"))
        return std::wstring(path);
    const std::wstring given(path);
    DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return given;
    std::wstring full(size, L'\0');
    size = ::GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
    full.resize(size);
    if (full.starts_with(L"\\\\.\\") || full.starts_with(L"\\\\?\\"))
        return full;
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

Failure ErrorFailure(unsigned long error, std::string_view context)
{
    wchar_t* message = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string text(context);
    text += ": ";
    if (length > 0 && message != nullptr) {
        std::wstring_view view(message, length);
        while (!view.empty() &&
            (view.back() == L'\n' || view.back() == L'\r' || view.back() == L' ' || view.back() == L'.'))
            view.remove_suffix(1);
        text += Narrow(view);
    } else {
        text += "Windows error " + std::to_string(error);
    }
    ::LocalFree(message);
    return {static_cast<int>(error), text};
}

Failure LastErrorFailure(std::string_view context)
{
    return ErrorFailure(::GetLastError(), context);
}

}  // namespace qirn::windows
