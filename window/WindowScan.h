#pragma once

// The display elements a window scan writes to, as small interfaces, and the
// sink that writes a walk's events to them in the window's own shape.

#include "engine/digest/Digest.h"
#include "engine/platform/FileSystem.h"
#include "engine/scan/ScanSink.h"
#include "window/Controls.h"
#include "window/EventPump.h"
#include "window/ScanCounter.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace qirn {

class SignatureList;

struct Hit {
    std::string signatureName;
    std::filesystem::path path;  // native bytes
    FileIdentity identity;       // of the file that was digested
    Md5Digest digest;            // its digest
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

struct ScanElements {
    const SignatureList& signatures;
    InfectionList& infections;
    ReportText& report;
    ScanCounter& counter;
    Caption& currentFile;
    EventPump& events;
};

// Before each file: its name as the current object, then the window's
// pending events (Stop, the timers, Quit). Each hit goes to the infection
// list and the report; each examined file to the counter.
class WindowSink final : public ScanSink {
public:
    explicit WindowSink(const ScanElements& elements) : elements_(elements) { }

    void Next(std::string_view folderPath, std::string_view name) override;
    void Examined(const ExaminedFile& file) override;
    void TooLarge(std::string_view /*folderPath*/, std::string_view /*name*/) override { ++tooLarge_; }
    void Unreadable(const std::string& /*path*/, const Failure& /*failure*/) override { ++unreadable_; }

    // What the walk left out: files over the size limit, entries it could not read.
    std::uint64_t TooLargeCount() const { return tooLarge_; }
    std::uint64_t UnreadableCount() const { return unreadable_; }

private:
    const ScanElements& elements_;
    std::uint64_t tooLarge_ = 0;
    std::uint64_t unreadable_ = 0;
};

}  // namespace qirn
