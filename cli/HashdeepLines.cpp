// The rows of a hashdeep file, by the columns its header names.

#include "cli/HashListLines.h"

#include <string>
#include <vector>

namespace qirn {

// "%%%% size,md5,sha256,filename" names the columns of the rows after it;
// the file name is the last and may hold commas.
LineOutcome LineReader::Hashdeep(std::string_view line)
{
    LineOutcome outcome;
    if (line.starts_with("%%%% ") && !line.starts_with("%%%% HASHDEEP")) {
        hashdeepColumns_.clear();
        for (std::string_view rest = line.substr(5);;) {
            const std::size_t comma = rest.find(',');
            hashdeepColumns_.emplace_back(Trimmed(rest.substr(0, comma)));
            if (comma == std::string_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
        return outcome;
    }
    if (line.starts_with("%%%%") || line.starts_with("##"))
        return outcome;
    const std::size_t columns = hashdeepColumns_.size();
    if (columns < 2 || hashdeepColumns_.back() != "filename") {
        outcome.kind = LineOutcome::Kind::Rejected;
        outcome.reason = "a row without a \"%%%% ...,filename\" column header before it";
        return outcome;
    }
    std::vector<std::string_view> parts;
    std::string_view rest = line;
    while (parts.size() + 1 < columns && rest.find(',') != std::string_view::npos) {
        parts.push_back(rest.substr(0, rest.find(',')));
        rest.remove_prefix(rest.find(',') + 1);
    }
    parts.push_back(rest);
    if (parts.size() != columns) {
        outcome.kind = LineOutcome::Kind::Rejected;
        outcome.reason = "not a row of the " + std::to_string(columns) + " columns its header names";
        return outcome;
    }
    const std::string_view name = BaseName(parts.back());
    std::optional<std::uint64_t> size;
    for (std::size_t i = 0; i + 1 < columns; ++i) {
        if (hashdeepColumns_[i] == "size")
            size = SizeOf(parts[i]);
    }
    for (std::size_t i = 0; i + 1 < columns; ++i) {
        if (hashdeepColumns_[i] != "md5" && hashdeepColumns_[i] != "sha256")
            continue;
        if (!Accept(outcome, parts[i], name, outcome.count, size))
            return outcome;
    }
    if (outcome.count == 0) {
        outcome.kind = LineOutcome::Kind::Rejected;
        outcome.reason = "no MD5 or SHA-256 column in the header";
    }
    return outcome;
}

}  // namespace qirn
