#pragma once

// How long a digest read on a file system may stand for its files. On a
// fixed local disk, until the file's stamp changes. Where the files can be
// changed while the file system is not mounted here (removable media, loop
// images, network and FUSE file systems), only within the mount the digest
// was read in: a stick changed elsewhere and mounted again shows the same
// device, inodes and times. On memory file systems never, since a page
// written through a shared mapping there is never written back, so such
// writes never change the file's times.

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

enum class MountTrust { Lasting, ThisMount, Never };

struct MountScope {
    MountTrust trust = MountTrust::Never;
    // With ThisMount, the boot's id and the mount's unique id; else empty.
    std::string key;
};

// A line of mountinfo, as far as it matters here.
struct MountLine {
    std::uint64_t device = 0;  // as st_dev
    std::string mountPoint;
    std::string fsType;
    std::string source;
};

// The lines of a mountinfo file's text; malformed lines are left out.
std::vector<MountLine> ParseMountInfo(std::string_view text);

// The trust a file system earns from its type, and for one on a block
// device from that device as sysfs describes it (sysBlock: its folder in
// /sys/dev/block, links resolved; empty when it has none).
MountTrust TrustOf(std::string_view fsType, const std::filesystem::path& sysBlock);

class MountScopes {
public:
    // The roots are parameters so that tests can describe other machines.
    explicit MountScopes(std::filesystem::path proc = "/proc", std::filesystem::path sys = "/sys");

    // Any thread. The scope of the mounted file system with this st_dev;
    // Never when it cannot be told. Each device is looked up once; the
    // scope stays valid as long as this object.
    const MountScope& Of(std::uint64_t device);

private:
    MountScope Find(std::uint64_t device) const;
    std::filesystem::path SysBlock(const MountLine& line) const;

    std::filesystem::path proc_;
    std::filesystem::path sys_;
    std::mutex mutex_;
    std::map<std::uint64_t, MountScope> known_;
};

}  // namespace qirn
