#pragma once

// What a walk tells its caller: what became of each entry it met, once, in
// walk order. A front end overrides only the events it uses.

#include "engine/digest/Digest.h"
#include "engine/platform/FileSystem.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qirn {

class Failure;

// A file the walk read (or took from the digest cache) and matched.
struct ExaminedFile {
    std::string_view folderPath;  // separator included
    std::string_view name;
    std::uint64_t size = 0;
    FileIdentity identity;                 // of the file that was digested
    const Md5Digest* digest = nullptr;     // null when the signature list was empty
    const Sha256Digest* sha256 = nullptr;  // null unless the list held SHA-256 signatures
    // The names of the signatures it matched, in list order; valid during the call.
    std::span<const std::string_view> hits;
    std::int64_t accessedNs = 0;  // its access time before the walk read it; 0 when not read
};

class ScanSink {
public:
    virtual ~ScanSink() = default;
    // A file is about to be examined. With several jobs it is read later, on
    // a worker; with lanes, Examined may follow later. A stop asked here keeps the next files of the walk from
    // being read; files already held for the cache are still examined.
    virtual void Next(std::string_view /*folderPath*/, std::string_view /*name*/) { }
    virtual void Examined(const ExaminedFile& /*file*/) { }
    virtual void TooLarge(std::string_view /*folderPath*/, std::string_view /*name*/) { }
    // Links, FIFOs, sockets, devices: never opened.
    virtual void NotRegular(std::string_view /*folderPath*/, std::string_view /*name*/) { }
    // Left out by the walk's filter; an excluded folder is not entered.
    virtual void Excluded(std::string_view /*folderPath*/, std::string_view /*name*/) { }
    // A file or folder that could not be read; the walk goes on without it.
    virtual void Unreadable(const std::string& /*path*/, const Failure& /*failure*/) { }
};

// What a caller chose to leave out of a walk.
class WalkFilter {
public:
    virtual ~WalkFilter() = default;
    // path is the entry's full path, name its last component.
    virtual bool Excludes(std::string_view path, std::string_view name) const = 0;
    // Folders on another file system than the walk's top folder are left out.
    virtual bool OneFileSystem() const = 0;
};

}  // namespace qirn
