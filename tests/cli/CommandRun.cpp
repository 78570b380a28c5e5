#include "tests/cli/CommandRun.h"

#include "cli/ScanCommand.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace qirn::test {

namespace {

// Captures what the command writes to one of its streams.
class Capture {
public:
    Capture() : file_(::open_memstream(&buffer_, &size_)) { }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    ~Capture()
    {
        if (file_ != nullptr)
            std::fclose(file_);
        std::free(buffer_);
    }
    std::FILE* File() const { return file_; }
    std::string Take()
    {
        std::fclose(file_);
        file_ = nullptr;
        return {buffer_, size_};
    }

private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

std::string ReadAll(std::FILE* file)
{
    std::string text;
    std::rewind(file);
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    return text;
}

}  // namespace

std::string Sha256Of(std::string_view content)
{
    Sha256 sha256;
    return mdlMD5::DigestToHex(sha256.Compute(std::as_bytes(std::span(content.data(), content.size()))));
}

Outcome RunScan(const std::vector<std::string>& args)
{
    Capture out;
    Capture err;
    Outcome outcome;
    outcome.status = RunScanCommand(args, out.File(), err.File());
    outcome.out = out.Take();
    outcome.err = err.Take();
    return outcome;
}

Outcome RunScanUnprivileged(const std::vector<std::string>& args)
{
    if (::geteuid() != 0)
        return RunScan(args);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    if (out == nullptr || err == nullptr)
        throw std::runtime_error("tmpfile failed");
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(125);
        const int status = RunScanCommand(args, out, err);
        std::fflush(nullptr);
        ::_exit(status);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    Outcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = ReadAll(out);
    outcome.err = ReadAll(err);
    std::fclose(out);
    std::fclose(err);
    return outcome;
}

}  // namespace qirn::test
