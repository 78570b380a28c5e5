#include "window/SignatureReloader.h"

#include "engine/Failure.h"
#include "engine/platform/Platform.h"
#include "engine/signatures/SignatureList.h"

#include <cerrno>
#include <chrono>

namespace qirn {

namespace {

// The same clock as file times.
std::int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string SignatureLoadProblem(const Failure& failure, const std::filesystem::path& file)
{
    const std::string name = TextFromPath(file.filename());
    // Failures name the file first; the user knows which file is meant.
    std::string detail = failure.description();
    const std::string where = TextFromPath(file) + ": ";
    if (detail.starts_with(where))
        detail.erase(0, where.size());
    std::string problem;
    switch (failure.number()) {
    case ENOENT:
    case ENOTDIR:
        problem = name + " is missing";
        break;
    case kNotRegularFile:
        problem = name + " is not a regular file";
        break;
    case kNoSignatureLine:
        problem = name + " holds no signature line";
        break;
    case kMissingSeparator:
        problem = name + ": " + detail;
        break;
    default:
        problem = name + " cannot be read: " + detail;
        break;
    }
    for (char& c : problem) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return "No signature loaded: " + problem;
}

void SignatureReloader::Remember(const std::optional<FileStamp>& stamp)
{
    last_ = stamp;
    trusted_ = StampTrusted(stamp, NowNs(), fineWindowNs_, coarseWindowNs_);
}

void SignatureReloader::Load()
{
    // Taken before reading, so that a change during the read shows next time.
    const std::optional<FileStamp> stamp = StampOf(file_);
    trusted_ = false;
    try {
        LoadSignatures(list_, file_);
    } catch (const Failure& failure) {
        problem_ = SignatureLoadProblem(failure, file_);
        throw;
    }
    problem_.clear();
    Remember(stamp);
}

bool SignatureReloader::Refresh()
{
    const std::optional<FileStamp> stamp = StampOf(file_);
    if (trusted_ && stamp == last_)
        return false;
    try {
        LoadSignatures(list_, file_);
        problem_.clear();
    } catch (const Failure& failure) {
        list_.Clear();
        problem_ = SignatureLoadProblem(failure, file_);
    }
    Remember(stamp);
    return true;
}

}  // namespace qirn
