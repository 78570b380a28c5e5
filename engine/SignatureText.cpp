#include "SignatureText.h"

#include "Parse.h"

#include <string>

namespace qirn {

std::optional<Failure> CheckSignatureText(std::string_view text)
{
    SignatureLines lines(text);
    std::string_view line;
    SignatureFields fields;
    bool any = false;
    while (lines.Next(line)) {
        any = true;
        if (!SplitSignatureLine(line, '=', fields))
            return Failure(kMissingSeparator, "line " + std::to_string(lines.LineNumber()) + " has no \"=\"");
    }
    if (!any)
        return Failure(kNoSignatureLine, "no signature line");
    return std::nullopt;
}

}  // namespace qirn
