#include "engine/Rematch.h"

#include "engine/Failure.h"
#include "engine/Platform.h"
#include "engine/ScanCache.h"
#include "engine/SignatureList.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace qirn {

namespace {

bool Matches(const SignatureList& signatures, const Md5Digest& digest)
{
    bool any = false;
    signatures.ForEachMatch(digest, [&](std::string_view) { any = true; });
    return any;
}

}  // namespace

RematchCounts Rematch(DigestCache& cache, const std::string& folder, std::int32_t sizeLimit,
    const SignatureList& signatures, const std::function<void(const RematchHit&)>& onHit, ProblemLog* problems)
{
    RematchCounts counts;
    const std::vector<CacheRecord> records = cache.RecordsUnder(CacheFolderPath(folder));
    counts.cached = records.size();
    std::vector<std::byte> buffer(static_cast<std::size_t>(std::max(sizeLimit, 0)) + 1);
    Md5 md5;
    for (const CacheRecord& record : records) {
        if (!Matches(signatures, record.digest.md5))
            continue;
        const std::filesystem::path path = PathFromText(record.path);
        try {
            const std::unique_ptr<Folder> parent = OpenFolder(TextFromPath(path.parent_path()));
            const FileRead read = parent->ReadFile(TextFromPath(path.filename()), buffer);
            const Md5Digest digest = md5.Compute(std::span(buffer).first(read.size));
            if (read.identity != record.digest.stamp.identity || read.size == buffer.size() ||
                !Matches(signatures, digest)) {
                ++counts.changed;
                continue;
            }
            ++counts.confirmed;
            signatures.ForEachMatch(digest, [&](std::string_view name) {
                onHit({path, name, digest, read.size, read.identity});
            });
        } catch (const Failure& failure) {
            if (failure.number() == ENOENT) {
                ++counts.changed;
            } else if (problems != nullptr) {
                problems->Unreadable(record.path, failure);
            }
        }
    }
    return counts;
}

}  // namespace qirn
