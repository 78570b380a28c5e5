#pragma once

// Reloading of the signature file only when it changed: its size, times and
// identity are compared with those seen at the last load.

#include "FileSystem.h"
#include "ScanControl.h"

#include <cstdint>
#include <filesystem>

namespace qirn {

class SignatureList;

struct SignatureFileStamp {
    bool exists = false;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    FileIdentity identity;
    friend bool operator==(const SignatureFileStamp&, const SignatureFileStamp&) = default;
};

// The stamp of the file a path names, links followed; a path that cannot be
// examined gives a stamp with exists false.
SignatureFileStamp StampOf(const std::filesystem::path& file);

// Whether a stamp taken at nowNs can tell the next change of the file: only
// once its times are older than the file system's time resolution. Times
// with no fraction of a second come from a file system that keeps whole
// seconds (or two), and get the coarse window.
bool StampTrusted(
    const SignatureFileStamp& stamp, std::int64_t nowNs, std::int64_t fineWindowNs, std::int64_t coarseWindowNs);

class SignatureReloader final : public SignatureSource {
public:
    SignatureReloader(SignatureList& list, std::filesystem::path file) : list_(list), file_(std::move(file)) { }

    // A full load; throws qirn::Failure as LoadSignatures does.
    void Load() override;

    // Loads again when the file changed since the last load; a rejected file
    // leaves the list empty. The list is then what a full reload would give.
    // True when the file was read.
    bool Refresh();

    const std::filesystem::path& File() const { return file_; }

    // A stamp taken within this time of the file's last change is not trusted,
    // since file times are coarser than a nanosecond.
    void SetRacyWindow(std::int64_t nanoseconds) { fineWindowNs_ = coarseWindowNs_ = nanoseconds; }

private:
    void Remember(const SignatureFileStamp& stamp);

    SignatureList& list_;
    std::filesystem::path file_;
    SignatureFileStamp last_;
    bool trusted_ = false;
    // Fine times still come from a clock that ticks every few milliseconds.
    std::int64_t fineWindowNs_ = 50'000'000;
    std::int64_t coarseWindowNs_ = 2'000'000'000;
};

}  // namespace qirn
