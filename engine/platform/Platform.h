#pragma once

// The operating-system services the engine needs besides the folder listing
// (engine/FileSystem.h) and removal (engine/FileRemoval.h). engine/posix/ and
// engine/windows/ implement them; CMake picks one per system.

#include "engine/platform/FileSystem.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

// Paths as engine text: the native bytes on POSIX, UTF-8 on Windows (where a
// name holding an unpaired surrogate is kept as WTF-8, so that it survives
// the round trip).
std::filesystem::path PathFromText(std::string_view text);
std::string TextFromPath(const std::filesystem::path& path);

enum class Links { NotFollowed, Followed };

// A regular file open for reading. Other programs may go on reading, writing
// and deleting it meanwhile.
class InputFile {
public:
    // Throws qirn::Failure; anything but a regular file fails with
    // kNotRegularFile, and with Links::NotFollowed so does a link.
    InputFile(const std::filesystem::path& path, Links links);
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // Length when the file was opened.
    std::uint64_t Size() const { return size_; }
    FileIdentity Identity() const { return identity_; }
    // Reads until buffer is full or the file ends; returns the bytes read.
    // Throws qirn::Failure.
    std::size_t Read(std::span<std::byte> buffer);

private:
    std::intptr_t handle_ = -1;  // descriptor or HANDLE
    std::uint64_t size_ = 0;
    FileIdentity identity_;
    std::string context_;  // the path, for failure texts
};

// A C stream on path for binary reading; nullptr with errno set when it
// cannot be opened.
std::FILE* OpenForReading(const std::filesystem::path& path);

// Zero-filled memory for a large table, backed by huge pages where the
// system has them: a first touch then faults in a whole huge page rather than
// one small page, which matters where a fault is costly (such as in a virtual
// machine). The block holds at least bytes and may be used up to its size.
// Throws std::bad_alloc.
struct LargeBlock {
    void* data = nullptr;
    std::size_t bytes = 0;
};
LargeBlock MapLargeBlock(std::size_t bytes);
// A block of at least bytes that holds what block held; block is given back.
// Where the system can, the pages move without being copied or touched.
// Throws std::bad_alloc, and block stays as it was.
LargeBlock GrowLargeBlock(LargeBlock block, std::size_t bytes);
void UnmapLargeBlock(LargeBlock block);

// Whether path names a folder, links followed.
bool IsFolder(const std::filesystem::path& path);

// The running program's own file; empty when the system cannot tell.
std::filesystem::path ExecutablePath();

// The program's arguments after its name, as engine text: on Windows UTF-8,
// whatever the code page.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// How many files and folders the process may hold open at once.
std::size_t OpenFileLimit();

// Sets a command-line program up: as many open files as the system allows
// (each level of a deep walk holds one), and on Windows a console that
// shows the UTF-8 the program writes.
void PrepareCommandLineProcess();

}  // namespace qirn
