#pragma once

// The display elements a scan writes to, as small interfaces, so the same walk
// drives the window, the command-line scanner and in-memory test doubles.

#include "FileSystem.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

class Failure;
class SignatureList;

class Caption {
public:
    virtual ~Caption() = default;
    virtual void SetCaption(std::string_view text) = 0;
};

class EventPump {
public:
    virtual ~EventPump() = default;
    // Runs pending events once, then returns.
    virtual void ProcessEvents() = 0;
};

struct Hit {
    std::string signatureName;
    std::filesystem::path path;  // native bytes
    FileIdentity identity;       // of the file that was digested
};

class InfectionList {
public:
    virtual ~InfectionList() = default;
    virtual void AddHit(Hit hit) = 0;
};

class ReportText {
public:
    virtual ~ReportText() = default;
    virtual void Append(std::string_view text) = 0;
};

// Files and folders the walk could not read; it goes on without them.
class ProblemLog {
public:
    virtual ~ProblemLog() = default;
    virtual void Unreadable(const std::string& path, const Failure& failure) = 0;
};

// The scanned-object counter: the names counted since the last full batch of
// five, the count in completed batches, and the running total on a label.
class ScanCounter {
public:
    static constexpr std::size_t kBatch = 5;

    explicit ScanCounter(Caption& total) : total_(total) { }

    // Batches "0", no names, the label "Not available".
    void Reset();
    void Advance(std::string_view fileName);

    std::uint64_t Total() const { return batches_ + pending_.size(); }
    std::uint64_t Batches() const { return batches_; }
    const std::vector<std::string>& Pending() const { return pending_; }

private:
    Caption& total_;
    std::uint64_t batches_ = 0;
    std::vector<std::string> pending_;
};

struct ScanElements {
    const SignatureList& signatures;
    InfectionList& infections;
    ReportText& report;
    ScanCounter& counter;
    Caption& currentFile;
    EventPump& events;
    ProblemLog* problems = nullptr;
};

}  // namespace qirn
