// MD5 through the system's CNG (bcrypt.dll): the Windows build needs no
// OpenSSL.

#include "engine/Digest.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <stdexcept>

namespace qirn {

struct Md5Context {
    BCRYPT_HASH_HANDLE hash = nullptr;
};

namespace {

// Opened once for the process; the provider is safe to share between threads.
BCRYPT_ALG_HANDLE Md5Algorithm()
{
    static const BCRYPT_ALG_HANDLE algorithm = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&opened, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
            throw std::runtime_error("the system offers no MD5");
        return opened;
    }();
    return algorithm;
}

void Discard(Md5Context& context)
{
    if (context.hash != nullptr)
        ::BCryptDestroyHash(context.hash);
    context.hash = nullptr;
}

}  // namespace

Md5::Md5() : context_(new Md5Context)
{
}

Md5::~Md5()
{
    Discard(*context_);
    delete context_;
}

void Md5::Begin()
{
    Discard(*context_);
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(Md5Algorithm(), &context_->hash, nullptr, 0, nullptr, 0, 0)))
        throw std::runtime_error("MD5 initialisation failed");
}

void Md5::Update(std::span<const std::byte> bytes)
{
    // BCryptHashData takes a non-const pointer but does not write through it.
    auto* data = const_cast<PUCHAR>(reinterpret_cast<const UCHAR*>(bytes.data()));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto piece = static_cast<ULONG>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        if (context_->hash == nullptr || !BCRYPT_SUCCESS(::BCryptHashData(context_->hash, data + done, piece, 0)))
            throw std::runtime_error("MD5 update failed");
        done += piece;
    }
}

Md5Digest Md5::Finish()
{
    Md5Digest digest{};
    if (context_->hash == nullptr ||
        !BCRYPT_SUCCESS(::BCryptFinishHash(context_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0)))
        throw std::runtime_error("MD5 completion failed");
    Discard(*context_);
    return digest;
}

Md5Digest Md5::Compute(std::span<const std::byte> bytes)
{
    Begin();
    Update(bytes);
    return Finish();
}

}  // namespace qirn
