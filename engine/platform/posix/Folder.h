#pragma once

// The raw listing under the POSIX folder: what getdents64 yields, behind an interface so that tests can list like a
// file system that keeps no entry types, or one whose entries vanish between the listing and a look.

#include "engine/platform/FileSystem.h"
#include "engine/platform/posix/Io.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qirn {

class RawListing {
public:
    virtual ~RawListing() = default;
    // The folder's descriptor, for the *at calls.
    virtual int Fd() const = 0;
    // The next entry's name (valid until the next call) and its d_type, which
    // is DT_UNKNOWN where the file system keeps no types. Throws qirn::Failure.
    virtual bool Next(std::string_view& name, unsigned char& type) = 0;
    virtual void Rewind() = 0;
};

using ListingFactory = std::function<std::unique_ptr<RawListing>(UniqueFd folder)>;

// getdents64 over the folder.
std::unique_ptr<RawListing> ReadDirListing(UniqueFd folder);

// One record of what getdents64 read.
struct DirentRecord {
    std::uint64_t inode = 0;  // 0 for a deleted entry
    unsigned char type = 0;   // d_type
    std::string_view name;    // within the record, up to its first NUL
    std::size_t length = 0;   // of the whole record: where the next begins
};

// The record at the start of bytes; none when it does not fit in them,
// which only a faulty kernel or file system gives.
std::optional<DirentRecord> ParseDirentRecord(std::span<const std::byte> bytes);

// OpenFolder with every folder of the walk listed by makeListing.
std::unique_ptr<Folder> OpenFolder(const std::string& path, ListingFactory makeListing);

}  // namespace qirn
