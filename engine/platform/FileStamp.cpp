#include "engine/platform/FileStamp.h"

namespace qirn {

bool StampTrusted(
    const std::optional<FileStamp>& stamp, std::int64_t nowNs, std::int64_t fineWindowNs, std::int64_t coarseWindowNs)
{
    if (!stamp)
        return true;
    constexpr std::int64_t kSecond = 1'000'000'000;
    const bool coarse = stamp->modifiedNs % kSecond == 0 && stamp->changedNs % kSecond == 0;
    const std::int64_t latest = stamp->modifiedNs > stamp->changedNs ? stamp->modifiedNs : stamp->changedNs;
    return nowNs - latest >= (coarse ? coarseWindowNs : fineWindowNs);
}

}  // namespace qirn
