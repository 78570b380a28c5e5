#include "engine/signatures/SignatureText.h"

#include "engine/signatures/Parse.h"

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
            return MissingSeparatorFailure({}, lines.LineNumber());
    }
    if (!any)
        return NoSignatureLineFailure({});
    return std::nullopt;
}

}  // namespace qirn
