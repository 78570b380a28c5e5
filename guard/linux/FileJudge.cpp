#include "guard/FileJudge.h"

#include "engine/Failure.h"
#include "engine/platform/posix/Io.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace qirn {

namespace {

// Reads from offset 0 until buffer is full or the file ends, leaving the
// descriptor's offset alone. -1 with errno set on failure.
std::ptrdiff_t ReadAt(int fd, std::span<std::byte> buffer)
{
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = ::pread(fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::ptrdiff_t>(done);
}

void Match(const SignatureList& signatures, Judgement& judgement)
{
    signatures.ForEachMatch(judgement.digests, [&](std::string_view name) { judgement.signatures.emplace_back(name); });
    judgement.kind = judgement.signatures.empty() ? Judgement::Kind::Clean : Judgement::Kind::Listed;
}

}  // namespace

FileJudge::FileJudge(std::int32_t sizeLimit, VerdictCache& cache)
    : sizeLimit_(sizeLimit), cache_(cache), buffer_(static_cast<std::size_t>(std::max(sizeLimit, 0)) + 1)
{
}

Judgement FileJudge::Judge(int fd, const SignatureList& signatures)
{
    Judgement judgement;
    struct stat info { };
    if (::fstat(fd, &info) != 0) {
        judgement.error = ErrorText(errno);
        return judgement;
    }
    // A FIFO or device is never read: its descriptor is only looked at.
    if (!S_ISREG(info.st_mode)) {
        judgement.kind = Judgement::Kind::NotRegular;
        return judgement;
    }
    judgement.stamp = StampFromStat(info);
    if (sizeLimit_ < 0 || judgement.stamp.size > static_cast<std::uint64_t>(sizeLimit_)) {
        judgement.kind = Judgement::Kind::TooLarge;
        return judgement;
    }
    if (signatures.Count() == 0) {
        judgement.kind = Judgement::Kind::Clean;
        return judgement;
    }
    const bool needSha256 = signatures.HasSha256();
    if (std::optional<FileDigests> kept = cache_.Trusted(judgement.stamp, needSha256)) {
        judgement.cached = true;
        judgement.digests = *kept;
        Match(signatures, judgement);
        return judgement;
    }
    const std::int64_t readNs = WallClockNs();
    const std::ptrdiff_t got = ReadAt(fd, buffer_);
    if (got < 0) {
        judgement.error = ErrorText(errno);
        return judgement;
    }
    // It grew past the limit since the stat.
    if (static_cast<std::size_t>(got) == buffer_.size()) {
        judgement.kind = Judgement::Kind::TooLarge;
        return judgement;
    }
    judgement.digests = digester_.Compute(std::span(buffer_).first(static_cast<std::size_t>(got)), needSha256);
    Match(signatures, judgement);
    // Kept only when nothing changed during the read.
    struct stat after { };
    if (::fstat(fd, &after) == 0 && StampFromStat(after) == judgement.stamp &&
        judgement.stamp.size == static_cast<std::uint64_t>(got))
        cache_.Keep({judgement.stamp, readNs, judgement.digests.md5, judgement.digests.sha256});
    return judgement;
}

}  // namespace qirn
