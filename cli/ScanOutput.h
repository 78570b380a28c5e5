#pragma once

// What qirn-scan writes on standard output, in each output format, and the
// text forms of paths and names that it uses.

#include "cli/ScanOptions.h"
#include "engine/digest/Digest.h"
#include "engine/text/JsonText.h"
#include "engine/text/TextEscape.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace qirn {

class Failure;

// What became of each entry a scan met.
struct ScanCounts {
    std::uint64_t hit = 0;  // files with at least one hit
    std::uint64_t clean = 0;
    std::uint64_t tooLarge = 0;
    std::uint64_t notRegular = 0;
    std::uint64_t unreadable = 0;
    std::uint64_t excluded = 0;
    std::uint64_t hitLines = 0;  // one per signature that matched

    std::uint64_t Entries() const { return hit + clean + tooLarge + notRegular + unreadable + excluded; }
};

struct ScanSummary {
    ScanCounts counts;
    std::size_t signatures = 0;
    std::string signatureFile;
    std::chrono::system_clock::time_point started;
    std::chrono::system_clock::time_point ended;
    bool complete = true;
    int interruptSignal = 0;
    int exitStatus = 0;
    std::string error;  // why the scan could not run, if it could not
};

// What became of a hit under --move or --remove.
struct QuarantineNote {
    std::string_view path;
    bool done = false;
    bool moved = false;       // else removed
    std::string_view entry;   // where a moved file went
    std::string_view reason;  // why it was not done
};

// Records on standard output. Each method returns false when the write failed.
class ScanOutput {
public:
    virtual ~ScanOutput() = default;
    // sha256 is null unless the list held SHA-256 signatures.
    virtual bool Hit(std::string_view path, std::string_view signature, const Md5Digest& digest,
        const Sha256Digest* sha256, std::uint64_t size) = 0;
    virtual bool Unreadable(std::string_view path, const Failure& failure) = 0;
    virtual bool Quarantined(const QuarantineNote& note) = 0;
    virtual bool Summary(const ScanSummary& summary) = 0;
};

std::unique_ptr<ScanOutput> MakeScanOutput(OutputFormat format, std::FILE* out);

// The reason in a failure's description ("name: reason").
std::string_view FailureReason(const Failure& failure);

}  // namespace qirn
