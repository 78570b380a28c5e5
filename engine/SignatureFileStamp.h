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
    void SetRacyWindow(std::int64_t nanoseconds) { racyWindowNs_ = nanoseconds; }

private:
    void Remember(const SignatureFileStamp& stamp);

    SignatureList& list_;
    std::filesystem::path file_;
    SignatureFileStamp last_;
    bool trusted_ = false;
    std::int64_t racyWindowNs_ = 2'000'000'000;
};

}  // namespace qirn
