#pragma once

// Reloading of the signature file only when it changed since the last load.

#include "engine/platform/FileStamp.h"
#include "window/ScanControl.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

namespace qirn {

class Failure;
class SignatureList;

// A load failure of file in words for the user, on one line.
std::string SignatureLoadProblem(const Failure& failure, const std::filesystem::path& file);

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

    // Why the last load or refresh left the list empty or cut short, e.g.
    // "No signature loaded: sa.kvd is missing"; empty after a good load.
    std::string Problem() const override { return problem_; }

    // A stamp taken within this time of the file's last change is not trusted,
    // since file times are coarser than a nanosecond.
    void SetRacyWindow(std::int64_t nanoseconds) { fineWindowNs_ = coarseWindowNs_ = nanoseconds; }

private:
    void Remember(const std::optional<FileStamp>& stamp);

    SignatureList& list_;
    std::filesystem::path file_;
    std::string problem_;
    std::optional<FileStamp> last_;
    bool trusted_ = false;
    // Fine times still come from a clock that ticks every few milliseconds.
    std::int64_t fineWindowNs_ = 50'000'000;
    std::int64_t coarseWindowNs_ = 2'000'000'000;
};

}  // namespace qirn
