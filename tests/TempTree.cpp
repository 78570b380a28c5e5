#include "tests/TempTree.h"

#include "engine/platform/Platform.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qirn::test {

namespace fs = std::filesystem;

TempTree::TempTree()
{
#ifdef _WIN32
    std::random_device random;
    for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("qirn-test-" + std::to_string(random()));
        if (fs::create_directory(candidate))
            root_ = candidate;
    }
    if (root_.empty())
        throw std::runtime_error("cannot make a temporary folder");
#else
    std::string pattern = (fs::temp_directory_path() / "qirn-test-XXXXXX").native();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    root_ = buffer.data();
#endif
}

TempTree::~TempTree()
{
    // Paths longer than PATH_MAX cannot be removed by name: each level of a
    // chain moves up to the root first.
    int piece = 0;
    for (fs::path at : chains_) {
        for (;;) {
            const fs::path up = root_ / ("chain-piece-" + std::to_string(piece++));
            std::error_code failed;
            fs::rename(at / "d", up, failed);
            if (failed)
                break;
            at = up;
        }
    }
    std::error_code ignored;
    // Restore permissions a test took away, so everything can be removed.
    for (auto it = fs::recursive_directory_iterator(root_, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
}

std::string TempTree::path(std::string_view relative) const
{
    return TextFromPath(relative.empty() ? root_ : root_ / PathFromText(relative));
}

fs::path TempTree::file(std::string_view relative, std::string_view content)
{
    fs::path target = root_ / PathFromText(relative);
    fs::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + TextFromPath(target));
    return target;
}

fs::path TempTree::filled(std::string_view relative, std::size_t size, char byte)
{
    return file(relative, std::string(size, byte));
}

fs::path TempTree::folder(std::string_view relative)
{
    fs::path target = root_ / PathFromText(relative);
    fs::create_directories(target);
    return target;
}

fs::path TempTree::link(std::string_view relative, const fs::path& target)
{
    fs::path at = root_ / PathFromText(relative);
    fs::create_directories(at.parent_path());
    fs::create_symlink(target, at);
    return at;
}

#ifndef _WIN32
fs::path TempTree::fifo(std::string_view relative)
{
    fs::path at = root_ / PathFromText(relative);
    fs::create_directories(at.parent_path());
    if (::mkfifo(at.c_str(), 0600) != 0)
        throw std::runtime_error("mkfifo failed");
    return at;
}

void TempTree::chain(std::string_view relative, int depth, std::string_view bottomFile, std::string_view content)
{
    const fs::path top = folder(relative);
    chains_.push_back(top);
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < depth && fd >= 0; ++i) {
        const int child = ::mkdirat(fd, "d", 0700) == 0 ? ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        ::close(fd);
        fd = child;
    }
    const std::string name(bottomFile);
    const int file = fd < 0 ? -1 : ::openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const bool written =
        file >= 0 && ::write(file, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    if (file >= 0)
        ::close(file);
    if (fd >= 0)
        ::close(fd);
    if (!written)
        throw std::runtime_error("cannot make a chain of folders in " + top.native());
}
#endif

std::string TempTree::read(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace qirn::test
