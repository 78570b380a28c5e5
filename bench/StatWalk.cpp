// The floor of a rescan: walks a tree depth first through the engine's folder
// layer, as qirn-scan does (links not followed, one open folder per level),
// and stats every regular file, reading nothing. Prints the files met and the
// time taken.
//
// With --read, the floor of a first scan: the same walk opens and reads every
// regular file as qirn-scan does (one read into a buffer of 83,001 bytes, so
// a longer file is only opened), and digests nothing.

#include "engine/Failure.h"
#include "engine/platform/FileSystem.h"
#include "engine/platform/Platform.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Totals {
    unsigned long long files = 0;
    unsigned long long small = 0;
    unsigned long long bytes = 0;  // read
};

constexpr std::size_t kLimit = 83000;

struct Walk {
    bool read = false;
    std::vector<std::byte> buffer = std::vector<std::byte>(kLimit + 1);
    Totals totals;

    void Enter(qirn::Folder& folder);
    void File(qirn::Folder& folder, const std::string& name);
};

void Walk::File(qirn::Folder& folder, const std::string& name)
{
    if (read) {
        const qirn::FileRead got = folder.ReadFile(name, buffer);
        ++totals.files;
        if (got.size <= kLimit) {
            ++totals.small;
            totals.bytes += got.size;
        }
        return;
    }
    const std::optional<qirn::FileStamp> stamp = folder.Stamp(name);
    if (!stamp)
        return;
    ++totals.files;
    totals.small += stamp->size <= kLimit ? 1 : 0;
}

void Walk::Enter(qirn::Folder& folder)
{
    std::vector<std::string> subfolders;
    qirn::FolderEntry entry;
    while (folder.Next(entry)) {
        if (entry.name == "." || entry.name == "..")
            continue;
        const std::string name(entry.name);
        if ((entry.attributes & qirn::kDirectory) != 0) {
            subfolders.push_back(name);
            continue;
        }
        // The scan reads only what the walk lists as neither folder nor system entry.
        if (read && (entry.attributes & qirn::kSystem) != 0)
            continue;
        try {
            File(folder, name);
        } catch (const qirn::Failure&) {
            // Gone or unreadable since it was listed: not counted.
        }
    }
    for (const std::string& name : subfolders) {
        try {
            const std::unique_ptr<qirn::Folder> child = folder.OpenSubfolder(name);
            Enter(*child);
        } catch (const qirn::Failure&) {
            // A folder that cannot be opened is skipped, as the scan reports and skips it.
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    Walk walk;
    walk.read = argc == 3 && std::strcmp(argv[1], "--read") == 0;
    if (argc != (walk.read ? 3 : 2)) {
        std::fputs("Usage: stat-walk [--read] FOLDER\n", stderr);
        return 2;
    }
    const char* const folder = argv[argc - 1];
    const auto started = std::chrono::steady_clock::now();
    try {
        const std::unique_ptr<qirn::Folder> top = qirn::OpenFolder(folder);
        walk.Enter(*top);
    } catch (const qirn::Failure& failure) {
        std::fprintf(stderr, "stat-walk: %s: %s\n", folder, failure.description());
        return 2;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    const Totals& totals = walk.totals;
    std::printf("Files: %llu\nAt most 83000 bytes: %llu\n", totals.files, totals.small);
    if (walk.read)
        std::printf("Bytes read: %llu\n", totals.bytes);
    std::printf("Time: %.3f s\n", elapsed.count());
    return 0;
}
