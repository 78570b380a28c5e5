#include "cli/Exclusions.h"

namespace qirn {

namespace {

// Matches the set at pattern[start] ("[" already passed) against c; returns
// the position after "]", or npos when the set is not closed.
std::size_t MatchSet(std::string_view pattern, std::size_t start, char c, bool& matched)
{
    std::size_t i = start;
    const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    if (negated)
        ++i;
    bool found = false;
    for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
        char low = pattern[i++];
        if (low == '\\' && i < pattern.size())
            low = pattern[i++];
        char high = low;
        if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
            high = pattern[i + 1];
            i += 2;
        }
        if (static_cast<unsigned char>(c) >= static_cast<unsigned char>(low) &&
            static_cast<unsigned char>(c) <= static_cast<unsigned char>(high))
            found = true;
    }
    if (i >= pattern.size())
        return std::string_view::npos;
    matched = found != negated && c != '/';
    return i + 1;
}

}  // namespace

bool GlobMatches(std::string_view pattern, std::string_view text)
{
    // Iterative with one backtrack point: the last "*" seen.
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starT = 0;
    while (t < text.size()) {
        if (p < pattern.size()) {
            const char c = pattern[p];
            if (c == '*') {
                starP = ++p;
                starT = t;
                continue;
            }
            if (c == '?' && text[t] != '/') {
                ++p;
                ++t;
                continue;
            }
            if (c == '[') {
                bool matched = false;
                const std::size_t after = MatchSet(pattern, p + 1, text[t], matched);
                if (after != std::string_view::npos) {
                    if (matched) {
                        p = after;
                        ++t;
                        continue;
                    }
                } else if (text[t] == '[') {
                    ++p;
                    ++t;
                    continue;
                }
            } else if (c != '?') {
                const char literal = c == '\\' && p + 1 < pattern.size() ? pattern[p + 1] : c;
                if (literal == text[t]) {
                    p += c == '\\' && p + 1 < pattern.size() ? 2 : 1;
                    ++t;
                    continue;
                }
            }
        }
        // "*" never runs over a "/".
        if (starP == std::string_view::npos || text[starT] == '/')
            return false;
        p = starP;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

Exclusions::Exclusions(std::vector<std::string> patterns, bool oneFileSystem)
    : patterns_(std::move(patterns)), oneFileSystem_(oneFileSystem)
{
    for (std::string& pattern : patterns_) {
        while (pattern.size() > 1 && pattern.back() == '/')
            pattern.pop_back();
    }
}

void Exclusions::AddPath(std::string path)
{
    paths_.Add(std::move(path));
}

bool Exclusions::Excludes(std::string_view path, std::string_view name) const
{
    for (const std::string& pattern : patterns_) {
        const bool oneName = pattern.find('/') == std::string::npos;
        if (GlobMatches(pattern, path) || (oneName && GlobMatches(pattern, name)))
            return true;
    }
    return paths_.Excludes(path, name);
}

}  // namespace qirn
