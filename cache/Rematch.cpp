#include "cache/Rematch.h"

#include "cache/MountScope.h"
#include "cache/ScanCache.h"
#include "engine/Failure.h"
#include "engine/platform/Platform.h"
#include "engine/signatures/SignatureList.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace qirn {

namespace {

bool Matches(const SignatureList& signatures, const FileDigests& digests)
{
    bool any = false;
    signatures.ForEachMatch(digests, [&](std::string_view) { any = true; });
    return any;
}

}  // namespace

RematchCounts Rematch(DigestCache& cache, const std::string& folder, std::int32_t sizeLimit,
    const SignatureList& signatures, const std::function<void(const RematchHit&)>& onHit, ScanSink& sink)
{
    RematchCounts counts;
    const bool withSha256 = signatures.HasSha256();
    // Only the entries that match, or lack the SHA-256 the list needs, are kept.
    std::vector<CacheRecord> records;
    std::uint64_t cached = 0;
    const bool visited = cache.VisitUnder(CacheFolderPath(folder), [&](const DigestCache::RecordView& row) {
        ++cached;
        if ((withSha256 && !row.digest.sha256) || Matches(signatures, {row.digest.md5, row.digest.sha256}))
            records.push_back({std::string(row.path), row.digest, row.seenNs, std::string(row.mount)});
    });
    if (!visited)
        return counts;
    counts.cached = cached;
    std::sort(
        records.begin(), records.end(), [](const CacheRecord& a, const CacheRecord& b) { return a.path < b.path; });
    std::vector<std::byte> buffer(static_cast<std::size_t>(std::max(sizeLimit, 0)) + 1);
    Digester digester;
    std::vector<CacheRecord> filled;
    MountScopes mounts;
    for (const CacheRecord& record : records) {
        // Kept above because it matched, or lacks its SHA-256, or both.
        const bool lacksSha256 = withSha256 && !record.digest.sha256;
        const bool matched = Matches(signatures, {record.digest.md5, record.digest.sha256});
        // Beyond this rematch's limit, as a scan with it would leave the file.
        if (sizeLimit < 0 || record.digest.stamp.size > static_cast<std::uint64_t>(sizeLimit)) {
            ++counts.tooLarge;
            continue;
        }
        const std::filesystem::path path = PathFromText(record.path);
        try {
            const std::unique_ptr<Folder> parent = OpenFolder(TextFromPath(path.parent_path()));
            const std::int64_t readNs = WallClockNs();
            const FileRead read = parent->ReadFile(TextFromPath(path.filename()), buffer);
            if (read.size >= buffer.size()) {
                ++counts.tooLarge;
                continue;
            }
            const bool sameFile = read.identity == record.digest.stamp.identity && read.size < buffer.size();
            const FileDigests digests = digester.Compute(std::span(buffer).first(read.size), withSha256);
            if (sameFile && lacksSha256) {
                // What was just read stands in the cache as a scan's read would.
                filled.push_back({record.path, {read.stamp, readNs, digests.md5, digests.sha256}, record.seenNs,
                    mounts.Of(read.identity.device).key});
                ++counts.filled;
            }
            if (!sameFile || !Matches(signatures, digests)) {
                counts.changed += matched ? 1 : 0;
                continue;
            }
            ++counts.confirmed;
            signatures.ForEachMatch(digests, [&](std::string_view name) {
                onHit({path, name, digests, read.size, read.identity});
            });
        } catch (const Failure& failure) {
            if (failure.number() == ENOENT) {
                counts.changed += matched ? 1 : 0;
            } else {
                sink.Unreadable(record.path, failure);
            }
        }
    }
    cache.Store(filled);
    return counts;
}

}  // namespace qirn
