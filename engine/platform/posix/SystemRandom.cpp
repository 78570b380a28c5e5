#include "engine/platform/SystemRandom.h"

#include "engine/Failure.h"

#include <cerrno>
#include <sys/random.h>

namespace qirn {

void FillFromSystemRandom(std::span<std::byte> bytes)
{
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw Failure::FromErrno(errno, "getrandom");
        }
        filled += static_cast<std::size_t>(got);
    }
}

}  // namespace qirn
