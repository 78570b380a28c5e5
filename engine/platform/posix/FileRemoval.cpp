// Setting a detected file aside on POSIX: renameat2 with RENAME_NOREPLACE into
// a folder made beside it, mode 0700, held open by descriptor.

#include "engine/remedy/FileRemoval.h"

#include "engine/digest/Digest.h"

#include "engine/Failure.h"
#include "engine/platform/SystemRandom.h"
#include "engine/platform/posix/Io.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qirn {

namespace {

using Status = RemovalResult::Status;

constexpr int kAttempts = 3;
constexpr const char* kHeldName = "held";
constexpr const char* kReplaced = "the file was replaced after the scan";
constexpr const char* kChanged = "its content changed after the scan";

bool Transient(int error)
{
    return error == EBUSY || error == ETXTBSY || error == EAGAIN || error == EINTR;
}

bool IsDetected(const struct stat& info, const FileIdentity& identity)
{
    return S_ISREG(info.st_mode) && IdentityOf(info) == identity;
}

RemovalResult Result(Status status, std::string text = {})
{
    return {status, std::move(text), {}};
}

// The private folder, made in the entry's own folder so that it is on the
// same file system. Only its owner may enter it.
class HoldingFolder {
public:
    // Fails with errno.
    static std::optional<HoldingFolder> Make(int parentFd, int& error)
    {
        for (int attempt = 0; attempt < 16; ++attempt) {
            std::array<std::uint8_t, 6> random{};
            FillFromSystemRandom(std::as_writable_bytes(std::span(random)));
            std::string name = ".qirn-hold-" + mdlMD5::DigestToHex(random);
            if (::mkdirat(parentFd, name.c_str(), 0700) != 0) {
                if (errno == EEXIST)
                    continue;
                error = errno;
                return std::nullopt;
            }
            HoldingFolder made(parentFd, std::move(name));
            struct stat info { };
            // fchmod also clears what a default ACL of the parent granted.
            if (made.fd_.get() < 0) {
                error = errno;
                // Only an empty folder goes, whoever made it.
                ::unlinkat(parentFd, made.name_.c_str(), AT_REMOVEDIR);
                return std::nullopt;
            }
            if (::fchmod(made.fd_.get(), 0700) != 0 || ::fstat(made.fd_.get(), &info) != 0) {
                error = errno;
                if (::fstat(made.fd_.get(), &info) == 0) {
                    made.identity_ = IdentityOf(info);
                    made.Remove(parentFd);
                }
                return std::nullopt;
            }
            // Not the folder made here: another took its name in between.
            if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 07777) != 0700) {
                error = EEXIST;
                return std::nullopt;
            }
            made.identity_ = IdentityOf(info);
            return made;
        }
        error = EEXIST;
        return std::nullopt;
    }

    int Fd() const { return fd_.get(); }
    const std::string& Name() const { return name_; }

    // Removes the folder when it is empty and still the one made.
    void Remove(int parentFd) const
    {
        struct stat info { };
        if (::fstatat(parentFd, name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && IdentityOf(info) == identity_)
            ::unlinkat(parentFd, name_.c_str(), AT_REMOVEDIR);
    }

private:
    HoldingFolder(int parentFd, std::string name)
        : fd_(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)), name_(std::move(name))
    {
    }

    UniqueFd fd_;
    std::string name_;
    FileIdentity identity_;
};

class PosixHeldFile final : public HeldFile {
public:
    PosixHeldFile(UniqueFd folderFd, std::filesystem::path folder, std::string name, HoldingFolder hold)
        : folderFd_(std::move(folderFd)), folder_(std::move(folder)), name_(std::move(name)), hold_(std::move(hold))
    {
    }
    PosixHeldFile(const PosixHeldFile&) = delete;
    PosixHeldFile& operator=(const PosixHeldFile&) = delete;
    ~PosixHeldFile() override
    {
        if (!settled_)
            PutBack(Result(Status::StillThere));
    }

    std::span<const std::byte> Content() const override { return content_; }

    RemovalResult Remove() override
    {
        for (int attempt = 1;; ++attempt) {
            if (::unlinkat(hold_.Fd(), kHeldName, 0) == 0) {
                settled_ = true;
                hold_.Remove(folderFd_.get());
                return Result(Status::Deleted);
            }
            const int error = errno;
            if (!Transient(error) || attempt == kAttempts)
                return PutBack(Result(Status::StillThere, ErrorText(error)));
        }
    }

    // Nobody else can reach the entry now: is it the detected file, with the
    // detected content? Otherwise it goes back and the result says why.
    std::optional<RemovalResult> Check(const DetectedFile& detected)
    {
        struct stat info { };
        if (::fstatat(hold_.Fd(), kHeldName, &info, AT_SYMLINK_NOFOLLOW) != 0)
            return PutBack(Result(Status::StillThere, ErrorText(errno)));
        if (!IsDetected(info, detected.identity))
            return PutBack(Result(Status::Replaced, kReplaced));
        const UniqueFd file(::openat(hold_.Fd(), kHeldName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        if (file.get() < 0 || ::fstat(file.get(), &info) != 0)
            return PutBack(
                Result(Status::StillThere, std::string("its content cannot be checked: ") + ErrorText(errno)));
        if (!IsDetected(info, detected.identity))
            return PutBack(Result(Status::Replaced, kReplaced));
        // One byte more than its length shows that it grew while it was read.
        const auto length = static_cast<std::uint64_t>(info.st_size);
        if (length > kLargestDigested)
            return PutBack(Result(Status::Changed, kChanged));
        try {
            content_.resize(static_cast<std::size_t>(length) + 1);
            content_.resize(ReadFully(file.get(), content_, kHeldName));
        } catch (const std::bad_alloc&) {
            return PutBack(Result(Status::StillThere, "there is not enough memory to check its content"));
        } catch (const Failure& failure) {
            return PutBack(
                Result(Status::StillThere, std::string("its content cannot be checked: ") + failure.description()));
        }
        if (Md5().Compute(content_) != detected.digest)
            return PutBack(Result(Status::Changed, kChanged));
        return std::nullopt;
    }

private:
    // Back under its own name; under a free name beside it when that was
    // taken meanwhile; else it stays in the private folder.
    RemovalResult PutBack(RemovalResult result)
    {
        settled_ = true;
        if (::renameat2(hold_.Fd(), kHeldName, folderFd_.get(), name_.c_str(), RENAME_NOREPLACE) == 0) {
            hold_.Remove(folderFd_.get());
            return result;
        }
        const std::string separator = result.errorText.empty() ? "" : "; ";
        if (errno == EEXIST) {
            for (int i = 1; i <= 100; ++i) {
                const std::string kept = name_ + ".qirn-kept" + (i == 1 ? "" : "-" + std::to_string(i));
                if (::renameat2(hold_.Fd(), kHeldName, folderFd_.get(), kept.c_str(), RENAME_NOREPLACE) == 0) {
                    hold_.Remove(folderFd_.get());
                    result.keptAs = folder_ / kept;
                    result.errorText += separator + "another file took its name meanwhile, so it was kept as " + kept;
                    return result;
                }
                if (errno != EEXIST)
                    break;
            }
        }
        result.keptAs = folder_ / hold_.Name() / kHeldName;
        result.errorText += separator + "it could not be put back and was kept as " + result.keptAs.native();
        return result;
    }

    UniqueFd folderFd_;
    std::filesystem::path folder_;
    std::string name_;
    HoldingFolder hold_;
    std::vector<std::byte> content_;
    bool settled_ = false;
};

}  // namespace

Seizure SeizeDetectedFile(const DetectedFile& detected)
{
    const std::string name = detected.path.filename().native();
    const std::filesystem::path folder = detected.path.has_parent_path() ? detected.path.parent_path() : ".";
    UniqueFd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {nullptr, Result(Status::Missing)};
        return {nullptr, Result(Status::StillThere, ErrorText(errno))};
    }
    // A first look spares making a folder for nothing; the check that counts
    // comes once the entry is out of everybody else's reach.
    struct stat info { };
    if (::fstatat(folderFd.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return {nullptr, Result(Status::Missing)};
        return {nullptr, Result(Status::StillThere, ErrorText(errno))};
    }
    if (!IsDetected(info, detected.identity))
        return {nullptr, Result(Status::Replaced, kReplaced)};

    int error = 0;
    std::optional<HoldingFolder> hold = HoldingFolder::Make(folderFd.get(), error);
    if (!hold) {
        // The folder may not be written: removing would fail the same way.
        if (error == EACCES || error == EPERM || error == EROFS)
            return {nullptr, Result(Status::StillThere, ErrorText(error))};
        return {nullptr,
            Result(Status::Refused, std::string("no private folder can be made beside it: ") + ErrorText(error))};
    }
    if (::renameat2(folderFd.get(), name.c_str(), hold->Fd(), kHeldName, RENAME_NOREPLACE) != 0) {
        error = errno;
        hold->Remove(folderFd.get());
        if (error == ENOENT)
            return {nullptr, Result(Status::Missing)};
        if (error == EXDEV || error == EINVAL || error == ENOSYS)
            return {nullptr,
                Result(Status::Refused, std::string("it cannot be set aside on its file system: ") + ErrorText(error))};
        return {nullptr, Result(Status::StillThere, ErrorText(error))};
    }
    auto held = std::make_unique<PosixHeldFile>(std::move(folderFd), folder, name, std::move(*hold));
    if (std::optional<RemovalResult> refused = held->Check(detected))
        return {nullptr, std::move(*refused)};
    return {std::move(held), {}};
}

}  // namespace qirn
