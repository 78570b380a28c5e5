#include "engine/platform/SystemRandom.h"

#include "engine/platform/windows/Text.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>

namespace qirn {

void FillFromSystemRandom(std::span<std::byte> bytes)
{
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const auto piece = static_cast<ULONG>(std::min<std::size_t>(bytes.size() - filled, 1u << 30));
        const NTSTATUS status = ::BCryptGenRandom(
            nullptr, reinterpret_cast<PUCHAR>(bytes.data() + filled), piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (!BCRYPT_SUCCESS(status))
            throw windows::ErrorFailure(static_cast<unsigned long>(status), "BCryptGenRandom");
        filled += piece;
    }
}

}  // namespace qirn
