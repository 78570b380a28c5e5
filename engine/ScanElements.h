#pragma once

// The display elements a scan writes to, as small interfaces, so the same walk
// drives the window, the command-line scanner and in-memory test doubles.

#include "engine/Controls.h"
#include "engine/Digest.h"
#include "engine/EventPump.h"
#include "engine/FileSystem.h"
#include "engine/ScanCounter.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace qirn {

class Failure;
class ScanCache;
class SignatureList;

struct Hit {
    std::string signatureName;
    std::filesystem::path path;  // native bytes
    FileIdentity identity;       // of the file that was digested
    Md5Digest digest;            // its digest
};

class InfectionList {
public:
    virtual ~InfectionList() = default;
    virtual void AddHit(Hit hit) = 0;
};

class ReportText {
public:
    virtual ~ReportText() = default;
    virtual void Append(std::string_view text) = 0;
};

// A file the walk read and matched; its hits came just before.
struct ExaminedFile {
    std::string_view folderPath;  // separator included
    std::string_view name;
    std::uint64_t size = 0;
    const Md5Digest* digest = nullptr;     // null when the signature list was empty
    const Sha256Digest* sha256 = nullptr;  // null unless the list held SHA-256 signatures
    std::size_t hits = 0;
};

// Files and folders the walk could not read; it goes on without them. A log
// that accounts for every entry also hears, in walk order, what became of
// each other entry the walk met; those calls do nothing unless overridden.
class ProblemLog {
public:
    virtual ~ProblemLog() = default;
    virtual void Unreadable(const std::string& path, const Failure& failure) = 0;
    virtual void Examined(const ExaminedFile& /*file*/) { }
    virtual void TooLarge(std::string_view /*folderPath*/, std::string_view /*name*/) { }
    // Links, FIFOs, sockets, devices: never opened.
    virtual void NotRegular(std::string_view /*folderPath*/, std::string_view /*name*/) { }
    // Left out by the walk's filter; an excluded folder is not entered.
    virtual void Excluded(std::string_view /*folderPath*/, std::string_view /*name*/) { }
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

struct ScanElements {
    const SignatureList& signatures;
    InfectionList& infections;
    ReportText& report;
    ScanCounter& counter;
    Caption& currentFile;
    EventPump& events;
    ProblemLog* problems = nullptr;
    const WalkFilter* filter = nullptr;
    ScanCache* cache = nullptr;  // digests kept between scans, when used
};

}  // namespace qirn
