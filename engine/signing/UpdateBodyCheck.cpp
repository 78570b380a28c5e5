#include "engine/signing/UpdateBodyCheck.h"

#include "engine/signatures/Parse.h"

#include <algorithm>
#include <cctype>

namespace qirn {

namespace {

bool IsLowerHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

bool IsHex(char c)
{
    return IsLowerHex(c) || (c >= 'A' && c <= 'F');
}

std::string Lowered(std::string_view text)
{
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
        [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return lowered;
}

// Markup is named as such: a portal's or a proxy's page is the usual cause.
std::optional<std::string> MarkupRejection(std::string_view body)
{
    if (body.starts_with("\xEF\xBB\xBF"))
        body.remove_prefix(3);
    const std::size_t start = body.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos || body[start] != '<')
        return std::nullopt;
    const std::string head = Lowered(body.substr(start, 1024));
    if (head.find("<html") != std::string::npos || head.find("<!doctype html") != std::string::npos)
        return "the body is an HTML page, not a signature file";
    return "the body is an XML or other markup document, not a signature file";
}

std::optional<std::string> LineRejection(std::string_view line)
{
    if (line.find('\0') != std::string_view::npos)
        return "holds a NUL byte";
    const std::size_t separator = line.find('=');
    if (separator == std::string_view::npos)
        return "has no \"=\"";
    const std::string_view digest = line.substr(0, separator);
    const std::string_view rest = line.substr(separator + 1);
    const bool rightLength = digest.size() == 32 || digest.size() == 64;
    if (!rightLength || !std::all_of(digest.begin(), digest.end(), IsHex))
        return "does not begin with a digest of 32 or 64 hexadecimal digits";
    if (!std::all_of(digest.begin(), digest.end(), IsLowerHex))
        return "has a digest in capital letters, which never matches";
    if (rest.substr(0, rest.find('=')).empty())
        return "has no signature name";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> UpdateBodyRejection(std::string_view body)
{
    if (auto markup = MarkupRejection(body))
        return markup;
    TextLines lines(body);
    std::string_view line;
    bool any = false;
    while (lines.Next(line)) {
        if (line.empty())
            continue;
        if (auto why = LineRejection(line))
            return "line " + std::to_string(lines.LineNumber()) + ' ' + *why;
        any = true;
    }
    if (!any)
        return std::string("the body holds no signature line");
    return std::nullopt;
}

}  // namespace qirn
