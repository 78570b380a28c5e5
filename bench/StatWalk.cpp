// The floor of a rescan: walks a tree depth first as qirn-scan does (links not
// followed, one open folder per level) and stats every regular file, reading
// nothing. Prints the files met and the time taken.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Totals {
    unsigned long long files = 0;
    unsigned long long small = 0;
};

void Walk(int folderFd, Totals& totals)
{
    DIR* dir = ::fdopendir(folderFd);
    if (dir == nullptr) {
        ::close(folderFd);
        return;
    }
    std::vector<std::string> subfolders;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        unsigned char type = entry->d_type;
        struct stat info { };
        if (type == DT_UNKNOWN || type == DT_REG) {
            if (::fstatat(::dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            subfolders.emplace_back(name);
        } else if (type == DT_REG) {
            ++totals.files;
            totals.small += info.st_size <= 83000 ? 1 : 0;
        }
    }
    for (const std::string& name : subfolders) {
        const int child = ::openat(::dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child >= 0)
            Walk(child, totals);
    }
    ::closedir(dir);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("Usage: stat-walk FOLDER\n", stderr);
        return 2;
    }
    const auto started = std::chrono::steady_clock::now();
    const int top = ::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top < 0) {
        std::fprintf(stderr, "stat-walk: %s: %s\n", argv[1], std::strerror(errno));
        return 2;
    }
    Totals totals;
    Walk(top, totals);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    std::printf("Files: %llu\nAt most 83000 bytes: %llu\nTime: %.3f s\n", totals.files, totals.small, elapsed.count());
    return 0;
}
