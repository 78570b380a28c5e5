#pragma once

// The folder listing the walker relies on, behind one interface so that each
// platform supplies its own.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qirn {

enum Attribute : unsigned {
    kReadOnly = 1,
    kHidden = 2,
    kSystem = 4,
    kDirectory = 16,
    kArchive = 32,
};

// An entry passes a listing mask when every hidden, system and directory
// attribute it has is also in the mask.
constexpr bool PassesMask(unsigned attributes, unsigned mask)
{
    return (attributes & (kHidden | kSystem | kDirectory) & ~mask) == 0;
}

// Wildcard match of a listing pattern: "*" any run of characters, "?" any one
// character; "*.*" and "*" match every name.
bool MatchesPattern(std::string_view name, std::string_view pattern);

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// What tells a file's content apart without reading it: identity, size and
// times in nanoseconds since the epoch (the change time moves on every write,
// also one whose modification time was set back).
struct FileStamp {
    FileIdentity identity;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

struct FolderEntry {
    std::string_view name;  // valid until the next call of Next or Rewind
    unsigned attributes = 0;
};

struct FileRead {
    std::size_t size = 0;  // bytes placed in the buffer
    FileIdentity identity;
    FileStamp stamp;              // taken from the open file before reading
    std::int64_t accessedNs = 0;  // its access time before this read; 0 where unknown
};

// One open folder. Every method throws qirn::Failure when the platform fails.
class Folder {
public:
    virtual ~Folder() = default;

    // Entries in the platform's own order, "." and ".." included.
    virtual bool Next(FolderEntry& entry) = 0;
    virtual void Rewind() = 0;
    // Never follows a link.
    virtual std::unique_ptr<Folder> OpenSubfolder(const std::string& name) = 0;
    // Of the folder itself, to tell whether a folder opened again is the same.
    virtual FileIdentity Identity() = 0;
    virtual std::uint64_t Length(const std::string& name) = 0;
    // Reads a regular file (never through a link) into buffer. A result that
    // fills the buffer means the file is at least that long; the bytes are
    // then unspecified.
    virtual FileRead ReadFile(const std::string& name, std::span<std::byte> buffer) = 0;
    // The file system this folder lies on; nullopt from folders that cannot tell.
    virtual std::optional<std::uint64_t> Device() { return std::nullopt; }
    // The stamp of a regular file, without opening it and never through a
    // link; nullopt for any other entry, and from folders that cannot tell
    // (their files are then always read).
    virtual std::optional<FileStamp> Stamp(const std::string& /*name*/) { return std::nullopt; }
};

// Opens a folder by path; a link naming the folder itself is followed.
std::unique_ptr<Folder> OpenFolder(const std::string& path);

// The platform's path separator.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

}  // namespace qirn
