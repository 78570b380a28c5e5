#pragma once

// A temporary folder for tests, with helpers that create files, folders,
// links and FIFOs below it. Removed with everything in it on destruction.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qirn::test {

class TempTree {
public:
    TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;
    ~TempTree();

    const std::filesystem::path& root() const { return root_; }
    // As engine text (UTF-8 on Windows).
    std::string path(std::string_view relative = {}) const;

    // Parent folders are created as needed.
    std::filesystem::path file(std::string_view relative, std::string_view content);
    std::filesystem::path filled(std::string_view relative, std::size_t size, char byte = 'x');
    std::filesystem::path folder(std::string_view relative);
    std::filesystem::path link(std::string_view relative, const std::filesystem::path& target);
#ifndef _WIN32
    std::filesystem::path fifo(std::string_view relative);
    // A chain of depth folders named "d" below relative (created as needed),
    // with a file at the bottom; the whole path may be longer than PATH_MAX.
    void chain(std::string_view relative, int depth, std::string_view bottomFile, std::string_view content);
#endif

    // The whole content of a file, or an empty text when it cannot be read.
    static std::string read(const std::filesystem::path& file);

private:
    std::filesystem::path root_;
    std::vector<std::filesystem::path> chains_;  // cut into short pieces before removal
};

}  // namespace qirn::test
