#pragma once

// Makes writes past a number of bytes of any file fail with the system's
// "File too large", as a full disk makes them fail, for the life of the object.

#include <csignal>
#include <sys/resource.h>

namespace qirn::test {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t max)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = max;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

}  // namespace qirn::test
