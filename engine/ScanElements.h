#pragma once

// The display elements a scan writes to, as small interfaces, so the same walk
// drives the window, the command-line scanner and in-memory test doubles.

#include "engine/Controls.h"
#include "engine/EventPump.h"
#include "engine/FileSystem.h"
#include "engine/ScanCounter.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace qirn {

class Failure;
class SignatureList;

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
