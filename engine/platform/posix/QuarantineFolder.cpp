// The quarantine folder on POSIX: renameat2 without replacing, checks on the
// file once it is inside the private folder, a copy with fsync across file
// systems.

#include "engine/remedy/QuarantineFolder.h"
#include "engine/Failure.h"
#include "engine/platform/posix/Folder.h"
#include "engine/platform/posix/Io.h"
#include "engine/platform/posix/QuarantineIo.h"
#include "engine/remedy/FileRemoval.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qirn {

namespace {

using Status = QuarantineResult::Status;

constexpr int kNameAttempts = 1000;
constexpr const char* kCannotKeep = "it cannot be kept in the quarantine folder: ";
constexpr std::uint32_t kRunBits = S_ISUID | S_ISGID | S_IXUSR | S_IXGRP | S_IXOTH;

QuarantineResult Result(Status status, std::string errorText = {}, std::string entry = {})
{
    return {status, std::move(entry), std::move(errorText)};
}

class PosixQuarantine final : public QuarantineFolder {
public:
    explicit PosixQuarantine(UniqueFd fd) : fd_(std::move(fd)) { }

    QuarantineResult Move(const std::filesystem::path& path, const FileIdentity& identity, const Md5Digest& digest,
        const Sidecar& sidecar) override
    {
        const std::string name = path.filename().native();
        const UniqueFd parent(
            ::open(path.has_parent_path() ? path.parent_path().c_str() : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (parent.get() < 0)
            return Result(errno == ENOENT ? Status::Missing : Status::Failed, ErrorText(errno));
        std::error_code error;
        const std::filesystem::path absolute = AbsoluteOf(parent.get(), path, error);
        if (error)
            return Result(Status::Failed, error.message());
        struct stat info { };
        if (::fstatat(parent.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            return Result(errno == ENOENT ? Status::Missing : Status::Failed, ErrorText(errno));
        if (!S_ISREG(info.st_mode) || IdentityOf(info) != identity)
            return Result(Status::Changed, "the file was replaced after the scan");

        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            const std::string entry = FreeEntry(EntryStem(name), attempt);
            if (entry.empty())
                continue;
            if (::renameat2(parent.get(), name.c_str(), fd_.get(), entry.c_str(), RENAME_NOREPLACE) == 0)
                return CheckMoved(parent.get(), name, entry, identity, digest, absolute, sidecar);
            if (errno == EEXIST)
                continue;
            if (errno == EXDEV)
                return CopyAcross({path, identity, digest}, sidecar);
            return Result(errno == ENOENT ? Status::Missing : Status::Failed, ErrorText(errno));
        }
        return Result(Status::Failed, "no free name in the quarantine folder");
    }

    std::string ReadSidecar(const std::string& entry) override
    {
        struct stat info { };
        const UniqueFd file = OpenRegularFile(fd_.get(), (entry + ".json").c_str(), Links::NotFollowed, &info);
        std::vector<std::byte> bytes(std::min<std::size_t>(static_cast<std::size_t>(info.st_size), 1 << 20));
        const std::size_t got = ReadFully(file.get(), bytes, entry);
        return {reinterpret_cast<const char*>(bytes.data()), got};
    }

    QuarantineResult Restore(const std::string& entry, const QuarantineFacts& facts) override
    {
        struct stat info { };
        std::optional<UniqueFd> file;
        try {
            file.emplace(OpenRegularFile(fd_.get(), entry.c_str(), Links::NotFollowed, &info));
        } catch (const Failure& failure) {
            return Result(failure.number() == ENOENT ? Status::Missing : Status::Failed, failure.description());
        }
        // The record's size is checked against the file before it sizes a buffer.
        if (static_cast<std::uint64_t>(info.st_size) != facts.size)
            return Result(Status::Changed, "the quarantined file is not the size its record gives");
        const std::optional<std::vector<std::byte>> bytes = ReadExactly(file->get(), facts.size);
        if (!bytes || Md5().Compute(*bytes) != facts.digest)
            return Result(Status::Changed, "the quarantined file is not the one that was moved there");
        const std::filesystem::path original(facts.originalPath);
        if (!original.is_absolute() || !original.has_filename())
            return Result(Status::Failed, "the original path is not absolute");
        const UniqueFd parent = OpenFolderNoFollow(original.parent_path());
        if (parent.get() < 0)
            return Result(Status::Failed, std::string("cannot open its folder: ") + ErrorText(errno));
        const std::string name = original.filename().native();
        struct stat there { };
        if (::fstatat(parent.get(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
            return Result(Status::Occupied, "something is there now");

        int restored = file->get();
        std::optional<UniqueFd> copy;
        if (::renameat2(fd_.get(), entry.c_str(), parent.get(), name.c_str(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST)
                return Result(Status::Occupied, "something is there now");
            if (errno != EXDEV)
                return Result(Status::Failed, ErrorText(errno));
            copy.emplace(
                ::openat(parent.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (copy->get() < 0)
                return Result(errno == EEXIST ? Status::Occupied : Status::Failed, ErrorText(errno));
            if (!WriteFully(copy->get(), *bytes) || ::fsync(copy->get()) != 0) {
                const std::string why = ErrorText(errno);
                ::unlinkat(parent.get(), name.c_str(), 0);
                return Result(Status::Failed, why);
            }
            ::unlinkat(fd_.get(), entry.c_str(), 0);
            restored = copy->get();
        }
        // Owner first: changing it may clear set-id bits that the mode then restores.
        (void)::fchown(restored, static_cast<uid_t>(facts.owner), static_cast<gid_t>(facts.group));
        ::fchmod(restored, static_cast<mode_t>(facts.mode & 07777));
        const timespec times[2] = {Timespec(facts.accessedNs), Timespec(facts.modifiedNs)};
        ::futimens(restored, times);
        ::fsync(parent.get());
        ::unlinkat(fd_.get(), (entry + ".json").c_str(), 0);
        return Result(Status::Done);
    }

    RemovalResult Keep(const DetectedFile& detected, const Sidecar& sidecar) override
    {
        std::string entry;
        return KeepSeized(detected, sidecar, entry);
    }

    std::vector<std::string> Entries() override
    {
        std::vector<std::string> entries;
        try {
            const std::unique_ptr<RawListing> listing =
                ReadDirListing(UniqueFd(::openat(fd_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
            std::string_view name;
            unsigned char type = 0;
            while (listing->Next(name, type)) {
                if (!name.ends_with(".json") || name.size() == 5)
                    continue;
                std::string entry(name.substr(0, name.size() - 5));
                struct stat info { };
                if (IsRegular(std::string(name), info) && IsRegular(entry, info))
                    entries.push_back(std::move(entry));
            }
        } catch (const Failure&) {
            // What was listed so far.
        }
        return entries;
    }

    void Discard(const std::string& entry) override
    {
        ::unlinkat(fd_.get(), entry.c_str(), 0);
        ::unlinkat(fd_.get(), (entry + ".json").c_str(), 0);
    }

private:
    // entry, or entry-N, when neither it nor its sidecar exists; else empty.
    std::string FreeEntry(const std::string& stem, int attempt) const
    {
        std::string entry = attempt == 0 ? stem : stem + "-" + std::to_string(attempt);
        struct stat info { };
        if (::fstatat(fd_.get(), entry.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 ||
            ::fstatat(fd_.get(), (entry + ".json").c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
            return {};
        return entry;
    }

    QuarantineResult CheckMoved(int parent, const std::string& name, const std::string& entry,
        const FileIdentity& identity, const Md5Digest& digest, const std::filesystem::path& absolute,
        const Sidecar& sidecar)
    {
        struct stat info { };
        std::optional<UniqueFd> file;
        std::optional<std::vector<std::byte>> bytes;
        try {
            file.emplace(OpenRegularFile(fd_.get(), entry.c_str(), Links::NotFollowed, &info));
            if (IdentityOf(info) == identity)
                bytes = ReadExactly(file->get(), static_cast<std::uint64_t>(info.st_size));
        } catch (const Failure&) {
            ::fstatat(fd_.get(), entry.c_str(), &info, AT_SYMLINK_NOFOLLOW);
        }
        QuarantineFacts facts = FactsOf(info, absolute);
        if (bytes)
            facts.digest = Md5().Compute(*bytes);
        if (bytes && facts.digest == digest) {
            KeepFromRunning(file->get(), facts.mode);
            return Finish(entry, facts, sidecar);
        }
        // Swapped in after the check, or overwritten since the scan: it goes back.
        if (::renameat2(fd_.get(), entry.c_str(), parent, name.c_str(), RENAME_NOREPLACE) == 0)
            return Result(Status::Changed, "the file changed after the scan");
        if (S_ISREG(info.st_mode) && bytes) {
            KeepFromRunning(file->get(), facts.mode);
            Finish(entry, facts, sidecar);
        }
        return Result(Status::Changed,
            "the file changed after the scan, and its name was taken meanwhile: it stays in the quarantine folder",
            entry);
    }

    // Kept without execute or set-id bits; the record keeps its mode. A file
    // of another owner's keeps them, in a folder nobody else may enter.
    static void KeepFromRunning(int file, std::uint32_t mode)
    {
        (void)::fchmod(file, static_cast<mode_t>(mode & ~kRunBits));
    }

    bool IsRegular(const std::string& name, struct stat& info) const
    {
        return ::fstatat(fd_.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
    }

    // Where the folder of path really is: the path may pass through links or "..".
    static std::filesystem::path AbsoluteOf(int parent, const std::filesystem::path& path, std::error_code& error)
    {
        std::filesystem::path absolute =
            std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(parent), error) / path.filename();
        if (error || !absolute.is_absolute())
            absolute = std::filesystem::absolute(path, error).lexically_normal();
        return absolute;
    }

    QuarantineResult CopyAcross(const DetectedFile& detected, const Sidecar& sidecar)
    {
        std::string entry;
        const RemovalResult kept = KeepSeized(detected, sidecar, entry);
        if (kept.status == RemovalResult::Status::Deleted)
            return Result(Status::Done, {}, entry);
        return FromRemoval(kept);
    }

    // The file is set aside beside itself and checked there, out of
    // everybody else's reach (SeizeDetectedFile); the checked bytes are
    // copied here (mode 0600) with their record and only then is it removed.
    // Anything else puts it back.
    RemovalResult KeepSeized(const DetectedFile& detected, const Sidecar& sidecar, std::string& entry)
    {
        using Removal = RemovalResult::Status;
        const std::filesystem::path& path = detected.path;
        const UniqueFd parent(
            ::open(path.has_parent_path() ? path.parent_path().c_str() : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat info { };
        const bool seen = parent.get() >= 0 &&
            ::fstatat(parent.get(), path.filename().c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && IdentityOf(info) == detected.identity;
        const Seizure seizure = SeizeDetectedFile(detected);
        if (!seizure.held)
            return seizure.result;
        if (!seen)
            return {Removal::Replaced, "the file was replaced after the scan", {}};
        std::error_code error;
        QuarantineFacts facts = FactsOf(info, AbsoluteOf(parent.get(), path, error));
        if (error)
            return {Removal::Refused, error.message(), {}};
        const std::span<const std::byte> bytes = seizure.held->Content();
        facts.size = bytes.size();
        facts.digest = detected.digest;

        int created = -1;
        for (int attempt = 0; attempt < kNameAttempts && created < 0; ++attempt) {
            entry = FreeEntry(EntryStem(path.filename().native()), attempt);
            if (entry.empty())
                continue;
            created = ::openat(fd_.get(), entry.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (created < 0 && errno != EEXIST)
                return {Removal::Refused, kCannotKeep + ErrorText(errno), {}};
        }
        const UniqueFd copy(created);
        if (copy.get() < 0)
            return {Removal::Refused, kCannotKeep + std::string("no free name"), {}};
        if (!WriteFully(copy.get(), bytes) || ::fsync(copy.get()) != 0) {
            const std::string why = ErrorText(errno);
            ::unlinkat(fd_.get(), entry.c_str(), 0);
            return {Removal::Refused, kCannotKeep + why, {}};
        }
        const QuarantineResult done = Finish(entry, facts, sidecar);
        RemovalResult removed = done.status == Status::Done
            ? seizure.held->Remove()
            : RemovalResult{Removal::Refused, kCannotKeep + done.errorText, {}};
        if (removed.status != Removal::Deleted)
            Discard(entry);
        return removed;
    }

    static QuarantineResult FromRemoval(const RemovalResult& removal)
    {
        using Removal = RemovalResult::Status;
        switch (removal.status) {
        case Removal::Missing:
            return Result(Status::Missing);
        case Removal::Replaced:
        case Removal::Changed:
            return Result(Status::Changed, removal.errorText);
        default:
            return Result(Status::Failed, removal.errorText);
        }
    }

    // Writes the sidecar and makes both entries durable.
    QuarantineResult Finish(const std::string& entry, const QuarantineFacts& facts, const Sidecar& sidecar)
    {
        const std::string text = sidecar(facts);
        const UniqueFd file(
            ::openat(fd_.get(), (entry + ".json").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.get() < 0 || !WriteFully(file.get(), std::as_bytes(std::span(text.data(), text.size()))) ||
            ::fsync(file.get()) != 0 || ::fsync(fd_.get()) != 0)
            return Result(Status::Failed, std::string("cannot write its record: ") + ErrorText(errno), entry);
        return Result(Status::Done, {}, entry);
    }

    static QuarantineFacts FactsOf(const struct stat& info, const std::filesystem::path& absolute)
    {
        QuarantineFacts facts;
        facts.originalPath = absolute.native();
        facts.mode = static_cast<std::uint32_t>(info.st_mode & 07777);
        facts.owner = info.st_uid;
        facts.group = info.st_gid;
        facts.accessedNs = Nanoseconds(info.st_atim);
        facts.modifiedNs = Nanoseconds(info.st_mtim);
        facts.size = static_cast<std::uint64_t>(info.st_size);
        return facts;
    }

    UniqueFd fd_;
};

}  // namespace

std::unique_ptr<QuarantineFolder> OpenQuarantineFolder(const std::filesystem::path& folder, bool create)
{
    if (create && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw Failure::FromErrno(errno, folder.native());
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        throw Failure::FromErrno(errno, folder.native());
    struct stat info { };
    if (::fstat(fd.get(), &info) != 0)
        throw Failure::FromErrno(errno, folder.native());
    // Each says what is wrong: the owner and the mode are told apart.
    if (info.st_uid != ::geteuid())
        throw Failure(EACCES,
            folder.native() + ": it belongs to user " + std::to_string(info.st_uid) +
                " and this program runs as user " + std::to_string(::geteuid()) +
                "; only the owner of a quarantine folder may use it");
    if ((info.st_mode & 077) != 0) {
        std::array<char, 8> mode{};
        std::snprintf(mode.data(), mode.size(), "%04o", static_cast<unsigned>(info.st_mode & 07777));
        throw Failure(EACCES,
            folder.native() + ": its mode is " + mode.data() +
                ", which lets others in; a quarantine folder needs mode 0700");
    }
    return std::make_unique<PosixQuarantine>(std::move(fd));
}

}  // namespace qirn
