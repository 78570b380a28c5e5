// The quarantine folder on POSIX: renameat2 without replacing, checks on the
// file once it is inside the private folder, a copy with fsync across file
// systems.

#include "engine/remedy/QuarantineFolder.h"
#include "engine/Failure.h"
#include "engine/platform/posix/Io.h"
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
constexpr std::uint32_t kRunBits = S_ISUID | S_ISGID | S_IXUSR | S_IXGRP | S_IXOTH;

QuarantineResult Result(Status status, std::string errorText = {}, std::string entry = {})
{
    return {status, std::move(entry), std::move(errorText)};
}

timespec Timespec(std::int64_t nanoseconds)
{
    timespec time{};
    time.tv_sec = static_cast<time_t>(nanoseconds / 1'000'000'000);
    time.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
    if (time.tv_nsec < 0) {
        time.tv_nsec += 1'000'000'000;
        --time.tv_sec;
    }
    return time;
}

// The whole content of an open regular file of the given length, or nullopt
// when it is not that long any more.
std::optional<std::vector<std::byte>> ReadExactly(int fd, std::uint64_t length)
{
    std::vector<std::byte> bytes(static_cast<std::size_t>(length) + 1);
    const std::size_t got = ReadFully(fd, bytes, "read");
    if (got != length)
        return std::nullopt;
    bytes.pop_back();
    return bytes;
}

bool WriteFully(int fd, std::span<const std::byte> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

// Letters, digits, ".", "-" and "_" of the original name, never hidden.
std::string EntryStem(const std::string& name)
{
    std::string stem;
    for (const char c : name.substr(0, 80)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
            c == '-' || c == '_';
        stem += plain ? c : '_';
    }
    if (stem.empty() || stem[0] == '.')
        stem.insert(stem.begin(), '_');
    const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    const auto day = std::chrono::floor<std::chrono::days>(now);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss clock{now - day};
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%04d%02u%02uT%02d%02d%02dZ-", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
        static_cast<int>(clock.minutes().count()), static_cast<int>(clock.seconds().count()));
    return prefix + stem;
}

// Opens the folder of an absolute path one component at a time, following no link.
UniqueFd OpenFolderNoFollow(const std::filesystem::path& folder)
{
    int fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::filesystem::path& part : folder.relative_path()) {
        if (fd < 0 || part.empty() || part == ".")
            continue;
        const int next =
            part == ".." ? -1 : ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        fd = next;
        errno = part == ".." ? EINVAL : error;
    }
    return UniqueFd(fd);
}

class PosixQuarantine final : public QuarantineFolder {
public:
    explicit PosixQuarantine(UniqueFd fd) : fd_(std::move(fd)) { }

    QuarantineResult Move(const std::filesystem::path& path, const FileIdentity& identity, const Md5Digest& digest,
        const std::function<std::string(const QuarantineFacts&)>& sidecar) override
    {
        const std::string name = path.filename().native();
        const UniqueFd parent(
            ::open(path.has_parent_path() ? path.parent_path().c_str() : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (parent.get() < 0)
            return Result(errno == ENOENT ? Status::Missing : Status::Failed, ErrorText(errno));
        // Where the folder really is: the path may pass through links or "..".
        std::error_code error;
        std::filesystem::path absolute =
            std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(parent.get()), error) / name;
        if (error || !absolute.is_absolute())
            absolute = std::filesystem::absolute(path, error).lexically_normal();
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
                return CopyAcross(parent.get(), path, EntryStem(name), identity, digest, absolute, sidecar);
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
        const std::function<std::string(const QuarantineFacts&)>& sidecar)
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

    // The file is set aside beside itself and checked there, out of
    // everybody else's reach; the checked bytes are copied and only then is
    // it removed. Anything else puts it back.
    QuarantineResult CopyAcross(int parent, const std::filesystem::path& path, const std::string& stem,
        const FileIdentity& identity, const Md5Digest& digest, const std::filesystem::path& absolute,
        const std::function<std::string(const QuarantineFacts&)>& sidecar)
    {
        struct stat info { };
        if (::fstatat(parent, path.filename().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            return Result(errno == ENOENT ? Status::Missing : Status::Failed, ErrorText(errno));
        const Seizure seizure = SeizeDetectedFile({path, identity, digest});
        if (!seizure.held)
            return FromRemoval(seizure.result);
        QuarantineFacts facts = FactsOf(info, absolute);
        const std::span<const std::byte> bytes = seizure.held->Content();
        facts.size = bytes.size();
        facts.digest = digest;

        std::string entry;
        int created = -1;
        for (int attempt = 0; attempt < kNameAttempts && created < 0; ++attempt) {
            entry = FreeEntry(stem, attempt);
            if (entry.empty())
                continue;
            created = ::openat(fd_.get(), entry.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (created < 0 && errno != EEXIST)
                return Result(Status::Failed, ErrorText(errno));
        }
        const UniqueFd copy(created);
        if (copy.get() < 0)
            return Result(Status::Failed, "no free name in the quarantine folder");
        if (!WriteFully(copy.get(), bytes) || ::fsync(copy.get()) != 0) {
            const std::string why = ErrorText(errno);
            ::unlinkat(fd_.get(), entry.c_str(), 0);
            return Result(Status::Failed, why);
        }
        QuarantineResult done = Finish(entry, facts, sidecar);
        if (done.status != Status::Done)
            return done;
        const RemovalResult removed = seizure.held->Remove();
        if (removed.status == RemovalResult::Status::Deleted)
            return done;
        ::unlinkat(fd_.get(), entry.c_str(), 0);
        ::unlinkat(fd_.get(), (entry + ".json").c_str(), 0);
        return FromRemoval(removed);
    }

    // Kept without execute or set-id bits; the record keeps its mode. A file
    // of another owner's keeps them, in a folder nobody else may enter.
    static void KeepFromRunning(int file, std::uint32_t mode)
    {
        (void)::fchmod(file, static_cast<mode_t>(mode & ~kRunBits));
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
    QuarantineResult Finish(const std::string& entry, const QuarantineFacts& facts,
        const std::function<std::string(const QuarantineFacts&)>& sidecar)
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
