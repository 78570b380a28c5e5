// "Delete" against someone who can write in the folder: while the detected
// file is removed, another process swaps it with an innocent file by
// rename-exchange, and fills its name again when it has gone aside.

#include "engine/remedy/FileRemoval.h"
#include "tests/TempTree.h"
#include "tests/engine/DetectedFileFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qirn {
namespace {

using Status = RemovalResult::Status;
using test::DetectedIn;
using test::StatOf;
using test::TempTree;

TEST(FileRemovalRaceTest, RenameExchangesNeverMakeDeleteRemoveAnotherFile)
{
    TempTree tree;
    constexpr int kExchanges = 2000;
    int exchanges = 0;
    int deleted = 0;
    int kept = 0;
    for (int round = 0; exchanges < kExchanges; ++round) {
        const std::string folder = "round-" + std::to_string(round);
        const DetectedFile detected = DetectedIn(tree, folder + "/evil.exe");
        const std::filesystem::path innocent = tree.file(folder + "/innocent.txt", "innocent");
        // Second names of both files: their link counts tell what was removed.
        std::filesystem::create_hard_link(detected.path, tree.root() / (folder + "-evil-witness"));
        std::filesystem::create_hard_link(innocent, tree.root() / (folder + "-innocent-witness"));
        const int folderFd = ::open(tree.path(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(folderFd, 0);

        // A burst of exchanges from the moment the removal starts.
        constexpr int kBurst = 10;
        std::atomic<bool> go = false;
        std::atomic<bool> done = false;
        std::atomic<int> swaps = 0;
        std::thread attacker([&] {
            while (!go) { }
            while (!done && swaps < kBurst) {
                if (::renameat2(folderFd, "evil.exe", folderFd, "innocent.txt", RENAME_EXCHANGE) == 0) {
                    ++swaps;
                } else if (errno == ENOENT) {
                    // The entry went aside: take its name.
                    const int squat = ::openat(folderFd, "evil.exe", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
                    if (squat >= 0)
                        ::close(squat);
                }
            }
        });
        go = true;
        const RemovalResult result = RemoveDetectedFile(detected);
        done = true;
        attacker.join();
        ::close(folderFd);
        exchanges += swaps;

        SCOPED_TRACE(round);
        EXPECT_EQ(StatOf(tree.root() / (folder + "-innocent-witness")).st_nlink, 2u) << "the innocent file was removed";
        const nlink_t evilLinks = StatOf(tree.root() / (folder + "-evil-witness")).st_nlink;
        if (result.status == Status::Deleted) {
            ++deleted;
            EXPECT_EQ(evilLinks, 1u);
        } else {
            ASSERT_EQ(result.status, Status::Replaced) << result.errorText;
            EXPECT_EQ(evilLinks, 2u);
        }
        if (!result.keptAs.empty()) {
            ++kept;
            EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(result.keptAs))) << result.keptAs;
        }
    }
    // Both outcomes really happened.
    EXPECT_GT(deleted, 0);
    std::printf("%d exchanges, %d deletions, %d kept under another name\n", exchanges, deleted, kept);
}

}  // namespace
}  // namespace qirn
