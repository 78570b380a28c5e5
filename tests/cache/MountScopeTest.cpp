// How far the cache trusts a digest by the file system it was read on,
// against described machines: a mountinfo and a sysfs of the test's own.

#include "cache/MountScope.h"
#include "tests/TempTree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>

namespace qirn {
namespace {

using test::TempTree;

TEST(MountScopeTest, MountInfoLinesWithOptionalFieldsAndEscapes)
{
    const std::vector<MountLine> lines =
        ParseMountInfo("29 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                       "61 29 7:3 / /media/My\\040Stick rw master:5 shared:9 - vfat /dev/loop3 rw\n"
                       "62 29 0:55 / /srv/nfs rw - nfs4 server:/export\\134x rw\n"
                       "broken line\n"
                       "63 29 x:y / /bad rw - ext4 /dev/sdz rw\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].device, makedev(254, 0));
    EXPECT_EQ(lines[0].fsType, "ext4");
    EXPECT_EQ(lines[1].mountPoint, "/media/My Stick");
    EXPECT_EQ(lines[1].device, makedev(7, 3));
    EXPECT_EQ(lines[1].source, "/dev/loop3");
    EXPECT_EQ(lines[2].source, "server:/export\\x");
}

TEST(MountScopeTest, TrustByFileSystemTypeAndBlockDevice)
{
    TempTree sys;
    // Disks as sysfs describes them; a partition's removable flag is its disk's.
    const std::string pci = "devices/pci0000:00/0000:00:05.0";
    sys.file(pci + "/virtio2/block/vda/removable", "0\n");
    sys.file(pci + "/virtio2/block/vda/vda1/partition", "1\n");
    sys.file(pci + "/usb1/1-1/host6/block/sdb/removable", "0\n");
    sys.file(pci + "/ata1/block/sdc/removable", "1\n");
    sys.file(pci + "/ata1/block/sdc/sdc1/partition", "1\n");
    sys.file("devices/virtual/block/loop0/removable", "0\n");
    sys.file(pci + "/ata2/block/sdd/removable", "0\n");
    sys.folder("devices/virtual/block/dm-0/slaves");
    sys.link("devices/virtual/block/dm-0/slaves/sdb", sys.root() / pci / "usb1/1-1/host6/block/sdb");
    sys.folder("devices/virtual/block/dm-1/slaves");
    sys.link("devices/virtual/block/dm-1/slaves/sdd", sys.root() / pci / "ata2/block/sdd");

    struct Case {
        const char* fsType;
        std::string block;  // under sys; empty: none
        MountTrust trust;
    };
    const Case cases[] = {
        {"ext4", pci + "/virtio2/block/vda", MountTrust::Lasting},
        {"ext4", pci + "/virtio2/block/vda/vda1", MountTrust::Lasting},
        {"xfs", "devices/virtual/block/dm-1", MountTrust::Lasting},
        {"vfat", pci + "/usb1/1-1/host6/block/sdb", MountTrust::ThisMount},
        {"ext4", pci + "/ata1/block/sdc", MountTrust::ThisMount},
        {"ext4", pci + "/ata1/block/sdc/sdc1", MountTrust::ThisMount},
        {"ext2", "devices/virtual/block/loop0", MountTrust::ThisMount},
        {"ext4", "devices/virtual/block/dm-0", MountTrust::ThisMount},
        {"nfs4", "", MountTrust::ThisMount},
        {"cifs", "", MountTrust::ThisMount},
        {"fuse.sshfs", "", MountTrust::ThisMount},
        {"fuseblk", pci + "/ata2/block/sdd", MountTrust::ThisMount},
        {"overlay", "", MountTrust::ThisMount},
        {"tmpfs", "", MountTrust::Never},
        {"ramfs", "", MountTrust::Never},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fsType) + " on " + c.block);
        EXPECT_EQ(TrustOf(c.fsType, c.block.empty() ? std::filesystem::path() : sys.root() / c.block), c.trust);
    }
}

// The key of a mount names the boot and the mount, so that the next mount of
// the same device has another; a device that no mount shows is not trusted.
TEST(MountScopeTest, KeysNameTheBootAndTheMount)
{
    TempTree machine;
    const std::filesystem::path mountPoint = machine.folder("mnt");
    struct stat real { };
    ASSERT_EQ(::stat(mountPoint.c_str(), &real), 0);
    const auto line = [&](dev_t device, const std::string& fsType) {
        return "40 1 " + std::to_string(major(device)) + ":" + std::to_string(minor(device)) + " / " +
            mountPoint.native() + " rw - " + fsType + " none rw\n";
    };
    const auto describe = [&](const std::string& fsType, const std::string& boot = "0f1e2d3c-boot\n") {
        machine.file("proc/sys/kernel/random/boot_id", boot);
        // A line that claims the folder for another device is not believed.
        machine.file("proc/self/mountinfo", line(real.st_dev + 1, fsType) + line(real.st_dev, fsType));
    };

    describe("nfs4");
    const MountScope remote = MountScopes(machine.root() / "proc", machine.root() / "sys").Of(real.st_dev);
    if (remote.trust == MountTrust::Never)
        GTEST_SKIP() << "this kernel gives no unique mount id (Linux 6.8 and later do)";
    EXPECT_EQ(remote.trust, MountTrust::ThisMount);
    EXPECT_TRUE(remote.key.starts_with("0f1e2d3c-boot/")) << remote.key;
    EXPECT_GT(remote.key.size(), std::string("0f1e2d3c-boot/").size());

    describe("tmpfs");
    EXPECT_EQ(MountScopes(machine.root() / "proc").Of(real.st_dev).trust, MountTrust::Never);
    describe("nfs4", "");
    EXPECT_EQ(MountScopes(machine.root() / "proc").Of(real.st_dev).trust, MountTrust::Never);
    describe("nfs4");
    MountScopes scopes(machine.root() / "proc");
    EXPECT_EQ(scopes.Of(real.st_dev + 1).trust, MountTrust::Never);
    EXPECT_EQ(scopes.Of(real.st_dev).key, remote.key);
}

}  // namespace
}  // namespace qirn
