// MD5 and SHA-256 through the system's CNG (bcrypt.dll): the Windows build
// needs no OpenSSL.

#include "engine/digest/Digest.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace qirn {

struct DigestContext {
    BCRYPT_HASH_HANDLE hash = nullptr;
};

namespace {

const char* AlgorithmName(DigestAlgorithm algorithm)
{
    return algorithm == DigestAlgorithm::kMd5 ? "MD5" : "SHA-256";
}

// Opened once per algorithm for the process; a provider is safe to share
// between threads.
template <DigestAlgorithm A>
BCRYPT_ALG_HANDLE Algorithm()
{
    static const BCRYPT_ALG_HANDLE algorithm = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        const wchar_t* id = A == DigestAlgorithm::kMd5 ? BCRYPT_MD5_ALGORITHM : BCRYPT_SHA256_ALGORITHM;
        if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&opened, id, nullptr, 0)))
            throw std::runtime_error(std::string("the system offers no ") + AlgorithmName(A));
        return opened;
    }();
    return algorithm;
}

void Discard(DigestContext& context)
{
    if (context.hash != nullptr)
        ::BCryptDestroyHash(context.hash);
    context.hash = nullptr;
}

}  // namespace

template <DigestAlgorithm A, std::size_t N>
HashFunction<A, N>::HashFunction() : context_(new DigestContext)
{
}

template <DigestAlgorithm A, std::size_t N>
HashFunction<A, N>::~HashFunction()
{
    Discard(*context_);
    delete context_;
}

template <DigestAlgorithm A, std::size_t N>
void HashFunction<A, N>::Begin()
{
    Discard(*context_);
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(Algorithm<A>(), &context_->hash, nullptr, 0, nullptr, 0, 0)))
        throw std::runtime_error(std::string(AlgorithmName(A)) + " initialisation failed");
}

template <DigestAlgorithm A, std::size_t N>
void HashFunction<A, N>::Update(std::span<const std::byte> bytes)
{
    // BCryptHashData takes a non-const pointer but does not write through it.
    auto* data = const_cast<PUCHAR>(reinterpret_cast<const UCHAR*>(bytes.data()));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto piece = static_cast<ULONG>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        if (context_->hash == nullptr || !BCRYPT_SUCCESS(::BCryptHashData(context_->hash, data + done, piece, 0)))
            throw std::runtime_error(std::string(AlgorithmName(A)) + " update failed");
        done += piece;
    }
}

template <DigestAlgorithm A, std::size_t N>
typename HashFunction<A, N>::Digest HashFunction<A, N>::Finish()
{
    Digest digest{};
    if (context_->hash == nullptr ||
        !BCRYPT_SUCCESS(::BCryptFinishHash(context_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0)))
        throw std::runtime_error(std::string(AlgorithmName(A)) + " completion failed");
    Discard(*context_);
    return digest;
}

template <DigestAlgorithm A, std::size_t N>
typename HashFunction<A, N>::Digest HashFunction<A, N>::Compute(std::span<const std::byte> bytes)
{
    Begin();
    Update(bytes);
    return Finish();
}

template class HashFunction<DigestAlgorithm::kMd5, 16>;
template class HashFunction<DigestAlgorithm::kSha256, 32>;

}  // namespace qirn
