#pragma once

// Reading of the signature file: lines end at CR LF or at a lone LF; empty
// lines and lines holding NUL are not signature lines.

#include "engine/Failure.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

// Walks the lines of a signature text, empty ones included: a line ends at
// CR LF or at a lone LF; any other CR is part of the line.
class TextLines {
public:
    // linesBefore: physical lines that came before text, for numbering.
    explicit TextLines(std::string_view text, std::size_t linesBefore = 0) : rest_(text), lineNumber_(linesBefore) { }

    // Next line; false when the text is exhausted.
    bool Next(std::string_view& line);

    // 1-based number of the line last returned by Next.
    std::size_t LineNumber() const { return lineNumber_; }

private:
    std::string_view rest_;
    std::size_t lineNumber_;
};

// Walks the signature lines of a file's text, in file order.
class SignatureLines {
public:
    explicit SignatureLines(std::string_view text, std::size_t linesBefore = 0)
        : lines_(text, linesBefore), holdsNul_(text.find('\0') != std::string_view::npos)
    {
    }

    // Next signature line; false when the text is exhausted.
    bool Next(std::string_view& line);

    // 1-based number of the physical line last returned by Next.
    std::size_t LineNumber() const { return lines_.LineNumber(); }

private:
    TextLines lines_;
    bool holdsNul_;  // anywhere in the text: only then is each line searched for NUL
};

// The digest text and the name of one signature line: the text before the
// first delimiter and the text between the first and the second.
struct SignatureFields {
    std::string_view digestText;
    std::string_view name;
};

// The two ways a signature text is rejected; where names the file, or is
// empty for text that came from elsewhere.
Failure NoSignatureLineFailure(const std::string& where);
Failure MissingSeparatorFailure(const std::string& where, std::size_t lineNumber);

// False when the line holds no delimiter.
bool SplitSignatureLine(std::string_view line, char delimiter, SignatureFields& fields);

}  // namespace qirn

namespace mdlParse {

// The whole content of a file as bytes. Throws qirn::Failure with errno.
std::string ReadWholeFile(const std::filesystem::path& path);

// One element per signature line, each the line cut at every delimiter.
// Throws qirn::Failure when the file cannot be read or holds no signature line.
std::vector<std::vector<std::string>> ParseSignatureFile(const std::filesystem::path& path, std::string_view delimiter);

}  // namespace mdlParse
