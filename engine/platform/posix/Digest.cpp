// MD5 and SHA-256 through OpenSSL's libcrypto.

#include "engine/digest/Digest.h"

#include <openssl/evp.h>

#include <new>
#include <stdexcept>
#include <string>

namespace qirn {

namespace {

const char* AlgorithmName(DigestAlgorithm algorithm)
{
    return algorithm == DigestAlgorithm::kMd5 ? "MD5" : "SHA-256";
}

// Fetched once per algorithm: an implicit fetch on every initialisation is
// slow in OpenSSL 3.
template <DigestAlgorithm A>
const EVP_MD* Algorithm()
{
    static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, AlgorithmName(A), nullptr);
    if (algorithm == nullptr)
        throw std::runtime_error(std::string("OpenSSL offers no ") + AlgorithmName(A));
    return algorithm;
}

EVP_MD_CTX* Evp(DigestContext* context)
{
    return reinterpret_cast<EVP_MD_CTX*>(context);
}

}  // namespace

template <DigestAlgorithm A, std::size_t N>
HashFunction<A, N>::HashFunction() : context_(reinterpret_cast<DigestContext*>(EVP_MD_CTX_new()))
{
    if (context_ == nullptr)
        throw std::bad_alloc();
}

template <DigestAlgorithm A, std::size_t N>
HashFunction<A, N>::~HashFunction()
{
    EVP_MD_CTX_free(Evp(context_));
}

template <DigestAlgorithm A, std::size_t N>
void HashFunction<A, N>::Begin()
{
    if (EVP_DigestInit_ex2(Evp(context_), Algorithm<A>(), nullptr) != 1)
        throw std::runtime_error(std::string(AlgorithmName(A)) + " initialisation failed");
}

template <DigestAlgorithm A, std::size_t N>
void HashFunction<A, N>::Update(std::span<const std::byte> bytes)
{
    if (EVP_DigestUpdate(Evp(context_), bytes.data(), bytes.size()) != 1)
        throw std::runtime_error(std::string(AlgorithmName(A)) + " update failed");
}

template <DigestAlgorithm A, std::size_t N>
typename HashFunction<A, N>::Digest HashFunction<A, N>::Finish()
{
    Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(Evp(context_), digest.data(), &length) != 1 || length != digest.size())
        throw std::runtime_error(std::string(AlgorithmName(A)) + " completion failed");
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
