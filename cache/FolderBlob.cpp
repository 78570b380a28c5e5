#include "cache/FolderBlob.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>

namespace qirn {

namespace {

constexpr std::uint8_t kHasSha256 = 1;  // flags

// Name length (2 bytes), mount key length, flags, then the numbers and the
// MD5; written whole, so it has no padding.
struct Head {
    std::uint16_t nameLength;
    std::uint8_t mountLength;
    std::uint8_t flags;
    std::uint32_t unused;
    std::uint64_t device;
    std::uint64_t inode;
    std::uint64_t size;
    std::int64_t modifiedNs;
    std::int64_t changedNs;
    std::int64_t readNs;
    std::int64_t seenNs;
    Md5Digest md5;
};
static_assert(std::is_trivially_copyable_v<Head> && sizeof(Head) == 80);

}  // namespace

bool AppendCachedFile(std::string& bytes, const CachedFile& file)
{
    if (file.name.size() > std::numeric_limits<std::uint16_t>::max() ||
        file.mount.size() > std::numeric_limits<std::uint8_t>::max())
        return false;
    const CachedDigest& digest = file.digest;
    const Head head{static_cast<std::uint16_t>(file.name.size()), static_cast<std::uint8_t>(file.mount.size()),
        digest.sha256 ? kHasSha256 : std::uint8_t{0}, 0, digest.stamp.identity.device, digest.stamp.identity.inode,
        digest.stamp.size, digest.stamp.modifiedNs, digest.stamp.changedNs, digest.readNs, file.seenNs, digest.md5};
    bytes.append(reinterpret_cast<const char*>(&head), sizeof head);
    if (digest.sha256)
        bytes.append(reinterpret_cast<const char*>(digest.sha256->data()), digest.sha256->size());
    bytes.append(file.name);
    bytes.append(file.mount);
    return true;
}

bool FolderBlob::Add(const CachedFile& file)
{
    if (!AppendCachedFile(bytes_, file))
        return false;
    newestSeenNs_ = files_ == 0 ? file.seenNs : std::max(newestSeenNs_, file.seenNs);
    ++files_;
    return true;
}

void FolderBlob::Clear()
{
    bytes_.clear();
    files_ = 0;
    newestSeenNs_ = 0;
}

void FolderRuns::AddRun(std::string_view folder, const FolderBlob& files)
{
    folders_.append(folder);
    bytes_.append(files.Bytes());
    runs_.push_back({folders_.size(), bytes_.size(), files.Files(), files.NewestSeenNs()});
    files_ += files.Files();
}

void FolderRuns::Clear()
{
    folders_.clear();
    bytes_.clear();
    runs_.clear();
    files_ = 0;
}

void FolderRuns::ForEachRun(const std::function<void(const FolderRun&)>& visit) const
{
    std::size_t folderBegin = 0;
    std::size_t filesBegin = 0;
    for (const Run& run : runs_) {
        visit({std::string_view(folders_).substr(folderBegin, run.folderEnd - folderBegin),
            std::string_view(bytes_).substr(filesBegin, run.filesEnd - filesBegin), run.count, run.newestSeenNs});
        folderBegin = run.folderEnd;
        filesBegin = run.filesEnd;
    }
}

void FolderGatherer::Add(std::string_view folder, const CachedFile& file, FolderRuns& runs)
{
    if (depth_ == 0 || open_[depth_ - 1].path != folder) {
        // The walk has left every open folder that does not hold this one.
        while (depth_ > 0 && !folder.starts_with(open_[depth_ - 1].path))
            Leave(runs);
        if (depth_ == 0 || open_[depth_ - 1].path != folder) {
            if (depth_ == open_.size())
                open_.emplace_back();
            open_[depth_++].path.assign(folder);
        }
    }
    open_[depth_ - 1].files.Add(file);
}

void FolderGatherer::LeaveAll(FolderRuns& runs)
{
    while (depth_ > 0)
        Leave(runs);
}

void FolderGatherer::Leave(FolderRuns& runs)
{
    Open& left = open_[--depth_];
    if (left.files.Files() != 0)
        runs.AddRun(left.path, left.files);
    left.files.Clear();
}

bool ForEachCachedFile(std::string_view blob, const std::function<void(const CachedFile&)>& visit)
{
    CachedFile file;
    CachedDigest& digest = file.digest;
    while (!blob.empty()) {
        Head head{};
        if (blob.size() < sizeof head)
            return false;
        std::memcpy(&head, blob.data(), sizeof head);
        blob.remove_prefix(sizeof head);
        const std::size_t shaLength = (head.flags & kHasSha256) != 0 ? Sha256Digest{}.size() : 0;
        if (blob.size() < shaLength + head.nameLength + head.mountLength)
            return false;
        digest.stamp = {{head.device, head.inode}, head.size, head.modifiedNs, head.changedNs};
        digest.readNs = head.readNs;
        digest.md5 = head.md5;
        digest.sha256.reset();
        if (shaLength != 0) {
            digest.sha256.emplace();
            std::memcpy(digest.sha256->data(), blob.data(), shaLength);
        }
        file.name = blob.substr(shaLength, head.nameLength);
        file.mount = blob.substr(shaLength + head.nameLength, head.mountLength);
        file.seenNs = head.seenNs;
        blob.remove_prefix(shaLength + head.nameLength + head.mountLength);
        visit(file);
    }
    return true;
}

}  // namespace qirn
