// The floor of a rescan: walks a tree depth first through the engine's folder
// layer, as qirn-scan does (links not followed, one open folder per level),
// and stats every regular file, reading nothing. Prints the files met and the
// time taken.

#include "engine/Failure.h"
#include "engine/platform/FileSystem.h"
#include "engine/platform/Platform.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Totals {
    unsigned long long files = 0;
    unsigned long long small = 0;
};

void Walk(qirn::Folder& folder, Totals& totals)
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
        try {
            const std::optional<qirn::FileStamp> stamp = folder.Stamp(name);
            if (!stamp)
                continue;
            ++totals.files;
            totals.small += stamp->size <= 83000 ? 1 : 0;
        } catch (const qirn::Failure&) {
            // Gone or unreadable since it was listed: not counted.
        }
    }
    for (const std::string& name : subfolders) {
        try {
            const std::unique_ptr<qirn::Folder> child = folder.OpenSubfolder(name);
            Walk(*child, totals);
        } catch (const qirn::Failure&) {
            // A folder that cannot be opened is skipped, as the scan reports and skips it.
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("Usage: stat-walk FOLDER\n", stderr);
        return 2;
    }
    const auto started = std::chrono::steady_clock::now();
    Totals totals;
    try {
        const std::unique_ptr<qirn::Folder> top = qirn::OpenFolder(argv[1]);
        Walk(*top, totals);
    } catch (const qirn::Failure& failure) {
        std::fprintf(stderr, "stat-walk: %s: %s\n", argv[1], failure.description());
        return 2;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    std::printf("Files: %llu\nAt most 83000 bytes: %llu\nTime: %.3f s\n", totals.files, totals.small, elapsed.count());
    return 0;
}
