// MD5 through OpenSSL's libcrypto.

#include "engine/Digest.h"

#include <openssl/evp.h>

#include <new>
#include <stdexcept>

namespace qirn {

namespace {

// Fetched once: an implicit fetch on every initialisation is slow in OpenSSL 3.
const EVP_MD* Md5Algorithm()
{
    static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, "MD5", nullptr);
    if (algorithm == nullptr)
        throw std::runtime_error("OpenSSL offers no MD5");
    return algorithm;
}

EVP_MD_CTX* Evp(Md5Context* context)
{
    return reinterpret_cast<EVP_MD_CTX*>(context);
}

}  // namespace

Md5::Md5() : context_(reinterpret_cast<Md5Context*>(EVP_MD_CTX_new()))
{
    if (context_ == nullptr)
        throw std::bad_alloc();
}

Md5::~Md5()
{
    EVP_MD_CTX_free(Evp(context_));
}

void Md5::Begin()
{
    if (EVP_DigestInit_ex2(Evp(context_), Md5Algorithm(), nullptr) != 1)
        throw std::runtime_error("MD5 initialisation failed");
}

void Md5::Update(std::span<const std::byte> bytes)
{
    if (EVP_DigestUpdate(Evp(context_), bytes.data(), bytes.size()) != 1)
        throw std::runtime_error("MD5 update failed");
}

Md5Digest Md5::Finish()
{
    Md5Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(Evp(context_), digest.data(), &length) != 1 || length != digest.size())
        throw std::runtime_error("MD5 completion failed");
    return digest;
}

Md5Digest Md5::Compute(std::span<const std::byte> bytes)
{
    Begin();
    Update(bytes);
    return Finish();
}

}  // namespace qirn
