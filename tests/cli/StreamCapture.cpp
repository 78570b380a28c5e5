#include "tests/cli/StreamCapture.h"

#include "tests/TempTree.h"

#include <stdexcept>

namespace qirn::test {

namespace {

std::FILE* OpenForWriting(const std::filesystem::path& path)
{
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (file == nullptr)
        throw std::runtime_error("cannot write " + path.string());
    return file;
}

}  // namespace

Captured CaptureStreams(const std::function<int(std::FILE* out, std::FILE* err)>& run)
{
    TempTree tree;
    const std::filesystem::path outPath = tree.root() / "out";
    const std::filesystem::path errPath = tree.root() / "err";
    std::FILE* out = OpenForWriting(outPath);
    std::FILE* err = OpenForWriting(errPath);
    Captured captured;
    captured.status = run(out, err);
    std::fclose(out);
    std::fclose(err);
    captured.out = TempTree::read(outPath);
    captured.err = TempTree::read(errPath);
    return captured;
}

}  // namespace qirn::test
