#include "cache/MountScope.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#ifndef STATX_MNT_ID_UNIQUE
#define STATX_MNT_ID_UNIQUE 0x00004000U  // Linux 6.8: a mount id never reused until reboot
#endif

namespace qirn {

namespace {

// Files there live only in memory.
constexpr std::array<std::string_view, 4> kMemoryTypes = {"tmpfs", "ramfs", "devtmpfs", "hugetlbfs"};
// Files there can be changed by another machine, or by a program that is not the kernel.
constexpr std::array<std::string_view, 16> kRemoteTypes = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "9p",
    "virtiofs", "ceph", "glusterfs", "afs", "coda", "lustre", "orangefs", "gfs2", "ocfs2"};
// Parts of a block device's sysfs path that say it can leave the machine, or is a file.
constexpr std::array<std::string_view, 9> kPortableMarks = {"/virtual/block/loop", "/virtual/block/nbd",
    "/virtual/block/zram", "/virtual/block/ram", "/usb", "/mmc", "/firewire", "/memstick", "/thunderbolt"};
// Device-mapper and RAID devices are followed this deep to the disks beneath them.
constexpr int kLayersFollowed = 8;

// A mountinfo field with its octal escapes (\040 for a space) decoded.
std::string Unescaped(std::string_view field)
{
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto digit = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && digit(i + 1) && digit(i + 2) && digit(i + 3)) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

std::string FirstLine(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

bool Portable(const std::filesystem::path& block, int depth)
{
    const std::string& path = block.native();
    if (std::any_of(kPortableMarks.begin(), kPortableMarks.end(),
            [&](std::string_view mark) { return path.find(mark) != std::string::npos; }))
        return true;
    std::error_code error;
    const bool partition = std::filesystem::exists(block / "partition", error);
    if (FirstLine((partition ? block.parent_path() : block) / "removable") == "1")
        return true;
    if (depth >= kLayersFollowed)
        return false;
    for (const auto& slave : std::filesystem::directory_iterator(block / "slaves", error)) {
        const std::filesystem::path beneath = std::filesystem::canonical(slave.path(), error);
        if (error || Portable(beneath, depth + 1))
            return true;
    }
    return false;
}

}  // namespace

std::vector<MountLine> ParseMountInfo(std::string_view text)
{
    std::vector<MountLine> lines;
    std::istringstream in{std::string(text)};
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        const std::vector<std::string> words{
            std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
        // id, parent, major:minor, root, mount point, options, optional fields, "-", type, source
        const auto dash = std::find(words.begin() + std::min<std::ptrdiff_t>(6, std::ssize(words)), words.end(), "-");
        if (words.size() < 6 || std::distance(dash, words.end()) < 3)
            continue;
        unsigned major = 0;
        unsigned minor = 0;
        char colon = 0;
        std::istringstream numbers(words[2]);
        if (!(numbers >> major >> colon >> minor) || colon != ':')
            continue;
        lines.push_back({makedev(major, minor), Unescaped(words[4]), dash[1], Unescaped(dash[2])});
    }
    return lines;
}

MountTrust TrustOf(std::string_view fsType, const std::filesystem::path& sysBlock)
{
    const auto among = [fsType](
                           const auto& types) { return std::find(types.begin(), types.end(), fsType) != types.end(); };
    if (among(kMemoryTypes))
        return MountTrust::Never;
    if (among(kRemoteTypes) || fsType.starts_with("fuse"))
        return MountTrust::ThisMount;
    // Without a block device it is not known where the files come from.
    if (sysBlock.empty())
        return MountTrust::ThisMount;
    return Portable(sysBlock, 0) ? MountTrust::ThisMount : MountTrust::Lasting;
}

MountScopes::MountScopes(std::filesystem::path proc, std::filesystem::path sys)
    : proc_(std::move(proc)), sys_(std::move(sys))
{
}

const MountScope& MountScopes::Of(std::uint64_t device)
{
    const std::lock_guard lock(mutex_);
    const auto known = known_.find(device);
    if (known != known_.end())
        return known->second;
    return known_.emplace(device, Find(device)).first->second;
}

std::filesystem::path MountScopes::SysBlock(const MountLine& line) const
{
    auto block = static_cast<dev_t>(line.device);
    // Some file systems (btrfs) give their files a device number of their own.
    if (major(block) == 0) {
        struct stat source { };
        if (!line.source.starts_with("/dev/") || ::stat(line.source.c_str(), &source) != 0 || !S_ISBLK(source.st_mode))
            return {};
        block = source.st_rdev;
    }
    std::error_code error;
    std::filesystem::path path = std::filesystem::canonical(
        sys_ / "dev/block" / (std::to_string(major(block)) + ":" + std::to_string(minor(block))), error);
    return error ? std::filesystem::path() : path;
}

MountScope MountScopes::Find(std::uint64_t device) const
{
    std::ifstream in(proc_ / "self/mountinfo");
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string boot = FirstLine(proc_ / "sys/kernel/random/boot_id");
    for (const MountLine& line : ParseMountInfo(text)) {
        if (line.device != device)
            continue;
        // A mount point another mount covers names that one, not this.
        struct statx mount { };
        if (::statx(AT_FDCWD, line.mountPoint.c_str(), AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC, STATX_MNT_ID_UNIQUE,
                &mount) != 0 ||
            makedev(mount.stx_dev_major, mount.stx_dev_minor) != device)
            continue;
        const MountTrust trust = TrustOf(line.fsType, SysBlock(line));
        if (trust != MountTrust::ThisMount)
            return {trust, {}};
        // Kernels before 6.8 reuse mount ids: such a mount cannot be told from the next.
        if ((mount.stx_mask & STATX_MNT_ID_UNIQUE) == 0 || boot.empty())
            return {MountTrust::Never, {}};
        return {MountTrust::ThisMount, boot + "/" + std::to_string(mount.stx_mnt_id)};
    }
    return {MountTrust::Never, {}};
}

}  // namespace qirn
