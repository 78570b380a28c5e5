#include "guard/GuardRecord.h"

#include "cli/ScanOutput.h"

#include <charconv>

namespace qirn {

std::string GuardRecordLine(const GuardRecord& record)
{
    std::string line = R"({"type":"guard","time":")" + UtcTimeText(record.time) + R"(","verdict":")";
    line += record.denied ? "deny" : "allow";
    line += "\",";
    AppendJsonField(line, "reason", record.reason);
    line += ',';
    AppendJsonField(line, "path", record.path);
    line += R"(,"pid":)" + std::to_string(record.pid) + ',';
    AppendJsonField(line, "executable", record.executable);
    if (record.digests != nullptr) {
        line += R"(,"md5":")" + mdlMD5::DigestToHex(record.digests->md5) + '"';
        if (record.digests->sha256)
            line += R"(,"sha256":")" + mdlMD5::DigestToHex(*record.digests->sha256) + '"';
    }
    if (!record.signatures.empty()) {
        line += R"(,"signatures":[)";
        for (std::size_t i = 0; i < record.signatures.size(); ++i) {
            if (i != 0)
                line += ',';
            AppendJsonString(line, record.signatures[i]);
        }
        line += ']';
    }
    if (record.quarantineEntry) {
        line += ',';
        AppendJsonField(line, "quarantine_entry", *record.quarantineEntry);
    }
    if (record.quarantineError) {
        line += ',';
        AppendJsonField(line, "quarantine_error", *record.quarantineError);
    }
    line += "}\n";
    return line;
}

std::string GuardStatusText(const GuardCounts& counts, std::int32_t pid)
{
    std::string text;
    const auto add = [&](std::string_view name, std::uint64_t value) {
        text += name;
        text += ' ';
        text += std::to_string(value);
        text += '\n';
    };
    add("pid", static_cast<std::uint64_t>(pid));
    add("events", counts.events.load());
    add("allowed", counts.allowed.load());
    add("denied", counts.denied.load());
    add("read", counts.read.load());
    add("cached", counts.cached.load());
    add("deadline", counts.deadline.load());
    add("busy", counts.busy.load());
    add("not_regular", counts.notRegular.load());
    add("too_large", counts.tooLarge.load());
    add("unreadable", counts.unreadable.load());
    add("overflows", counts.overflows.load());
    add("reloads", counts.reloads.load());
    add("signatures", counts.signatures.load());
    add("own_events", counts.ownEvents.load());
    return text;
}

std::optional<std::uint64_t> GuardStatusValue(std::string_view text, std::string_view name)
{
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.size() <= name.size() || !line.starts_with(name) || line[name.size()] != ' ')
            continue;
        std::uint64_t value = 0;
        const std::string_view digits = line.substr(name.size() + 1);
        const auto [at, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error == std::errc() && at == digits.data() + digits.size())
            return value;
    }
    return std::nullopt;
}

}  // namespace qirn
