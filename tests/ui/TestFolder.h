#pragma once

// A temporary folder for the window tests, removed with its content.

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <unistd.h>

namespace qirn::uitest {

class TestFolder {
public:
    TestFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qirn-ui-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::filesystem::filesystem_error("mkdtemp", std::error_code(errno, std::generic_category()));
        root_ = pattern;
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    ~TestFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    const std::filesystem::path& root() const { return root_; }
    std::string path(std::string_view relative = {}) const { return (root_ / relative).string(); }

    std::filesystem::path file(std::string_view relative, std::string_view content) const
    {
        std::filesystem::path target = root_ / relative;
        std::filesystem::create_directories(target.parent_path());
        std::ofstream(target, std::ios::binary | std::ios::trunc)
            .write(content.data(), static_cast<std::streamsize>(content.size()));
        return target;
    }

    static std::string read(const std::filesystem::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::filesystem::path root_;
};

// The standard antivirus test file and its MD5 digest.
inline constexpr std::string_view kEicar = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
inline constexpr std::string_view kEicarMd5 = "44d88612fea8a8f36de82e1278abb02f";
// MD5 of "hello".
inline constexpr std::string_view kHelloMd5 = "5d41402abc4b2a76b9719d911017c592";

}  // namespace qirn::uitest
