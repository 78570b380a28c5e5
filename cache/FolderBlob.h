#pragma once

// The cached files of one folder, kept as one blob: a row per folder costs
// the cache's writer a tenth of a row per file. Each file is a fixed head
// (lengths, flags, identity, size, times, MD5) followed by its SHA-256 where
// it has one, its name and its mount key, in the machine's byte order.

#include "engine/platform/FileSystem.h"
#include "engine/scan/DigestLookup.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

struct CachedFile {
    std::string_view name;
    CachedDigest digest;
    std::int64_t seenNs = 0;
    std::string_view mount;  // MountScope::key; empty: any
};

// Where the name in path begins: after its last separator; 0 without one.
inline std::size_t NameStart(std::string_view path)
{
    return path.rfind(kPathSeparator) + 1;
}

// Appends the file's bytes; false, and nothing appended, when its name or
// mount key is too long for the format.
bool AppendCachedFile(std::string& bytes, const CachedFile& file);

class FolderBlob {
public:
    // False, and nothing kept, when the name or mount key is too long for the format.
    bool Add(const CachedFile& file);
    void Clear();

    std::string_view Bytes() const { return bytes_; }
    std::size_t Files() const { return files_; }
    // 0 without files.
    std::int64_t NewestSeenNs() const { return newestSeenNs_; }

private:
    std::string bytes_;
    std::size_t files_ = 0;
    std::int64_t newestSeenNs_ = 0;
};

// One folder's files as a batch holds them.
struct FolderRun {
    std::string_view folder;  // absolute, ending in a separator
    std::string_view files;   // count files, each name at most once
    std::size_t count = 0;
    std::int64_t newestSeenNs = 0;
};

// Files of folder after folder, as a walk hands them to the cache's
// writer. Cleared, it keeps its memory: a batch's buffers are used again
// rather than faulted in anew.
class FolderRuns {
public:
    void AddRun(std::string_view folder, const FolderBlob& files);
    void Clear();

    std::size_t Files() const { return files_; }
    void ForEachRun(const std::function<void(const FolderRun&)>& visit) const;

private:
    struct Run {
        std::size_t folderEnd;  // in folders_
        std::size_t filesEnd;   // in bytes_
        std::size_t count;
        std::int64_t newestSeenNs;
    };
    std::string folders_;
    std::string bytes_;
    std::vector<Run> runs_;
    std::size_t files_ = 0;
};

// Gathers the files of a depth-first walk folder by folder: the files of a
// folder, however the walk mixed them with its subfolders', are one run,
// added once the walk has left the folder. Files in any other order are
// still all added, a folder then in several runs. A run must not hold a
// name twice: each name is given at most once until its folder is left.
class FolderGatherer {
public:
    // folder is absolute and ends in a separator.
    void Add(std::string_view folder, const CachedFile& file, FolderRuns& runs);
    // Adds the folders the walk is still in, innermost first.
    void LeaveAll(FolderRuns& runs);

private:
    void Leave(FolderRuns& runs);

    struct Open {
        std::string path;
        FolderBlob files;
    };
    std::vector<Open> open_;  // outermost first; the first depth_ are in use
    std::size_t depth_ = 0;
};

// Calls visit for each file in blob, in order; the views live during the
// call. False when the blob ends inside a file: the files after it are lost.
bool ForEachCachedFile(std::string_view blob, const std::function<void(const CachedFile&)>& visit);

}  // namespace qirn
