#include "engine/SignatureReloader.h"

#include "engine/Failure.h"
#include "engine/SignatureList.h"

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

void SignatureReloader::Remember(const SignatureFileStamp& stamp)
{
    last_ = stamp;
    trusted_ = StampTrusted(stamp, NowNs(), fineWindowNs_, coarseWindowNs_);
}

void SignatureReloader::Load()
{
    // Taken before reading, so that a change during the read shows next time.
    const SignatureFileStamp stamp = StampOf(file_);
    trusted_ = false;
    LoadSignatures(list_, file_);
    Remember(stamp);
}

bool SignatureReloader::Refresh()
{
    const SignatureFileStamp stamp = StampOf(file_);
    if (trusted_ && stamp == last_)
        return false;
    try {
        LoadSignatures(list_, file_);
    } catch (const Failure&) {
        list_.Clear();
    }
    Remember(stamp);
    return true;
}

}  // namespace qirn
