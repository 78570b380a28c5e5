#pragma once

// The doubles and sample contents the tests share: a sink that records what
// a walk told it, and the standard antivirus test file.

#include "engine/Failure.h"
#include "engine/digest/Digest.h"
#include "engine/platform/Platform.h"
#include "engine/scan/FindFiles.h"
#include "engine/signatures/SignatureList.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace qirn::test {

#ifndef _WIN32
// Sets an environment variable for one scope, then puts the old value back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))  // NOLINT(concurrency-mt-unsafe)
            old_ = old;
        if (value != nullptr)
            ::setenv(name, value, 1);  // NOLINT(concurrency-mt-unsafe)
        else
            ::unsetenv(name);  // NOLINT(concurrency-mt-unsafe)
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    ~ScopedVariable()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
        else
            ::unsetenv(name_);  // NOLINT(concurrency-mt-unsafe)
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};
#endif

// The standard antivirus test file and its MD5 digest.
inline constexpr std::string_view kEicar = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
inline constexpr std::string_view kEicarMd5 = "44d88612fea8a8f36de82e1278abb02f";
// MD5 and SHA-256 of "hello".
inline constexpr std::string_view kHelloMd5 = "5d41402abc4b2a76b9719d911017c592";
inline constexpr std::string_view kHelloSha256 = "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824";

// The MD5 of content as the signature file writes it.
inline std::string DigestOf(std::string_view content)
{
    Md5 md5;
    return mdlMD5::DigestToHex(md5.Compute(std::as_bytes(std::span(content.data(), content.size()))));
}

// Runs one walk and keeps, in order, what it told its sink.
class MemoryScan final : public ScanSink {
public:
    struct RecordedHit {
        std::string signatureName;
        std::string path;
        FileIdentity identity;
        Md5Digest digest{};
    };
    struct Problems {
        std::vector<std::string> paths;
        std::vector<int> numbers;
    };

    SignatureList signatures;
    std::stop_source stop;
    // Called at each Next, after the name is recorded in shown.
    std::function<void()> onNext;
    std::vector<std::string> shown;     // names told by Next
    std::vector<std::string> examined;  // names told by Examined
    std::vector<RecordedHit> hits;
    Problems problems;  // told by Unreadable

    mdlFindFiles::ScanRequest Request(unsigned jobs = 1)
    {
        return {signatures, *this, stop.get_token(), mdlFindFiles::kSizeLimit, jobs};
    }

    void Scan(const std::string& folder) { mdlFindFiles::FindFiles(folder, mdlFindFiles::kAllFiles, Request()); }

    std::vector<std::string> HitPaths() const
    {
        std::vector<std::string> paths;
        for (const RecordedHit& hit : hits)
            paths.push_back(hit.path);
        return paths;
    }

    void Next(std::string_view /*folderPath*/, std::string_view name) override
    {
        shown.emplace_back(name);
        if (onNext)
            onNext();
    }
    void Examined(const ExaminedFile& file) override
    {
        examined.emplace_back(file.name);
        for (const std::string_view name : file.hits)
            hits.push_back(
                {std::string(name), std::string(file.folderPath).append(file.name), file.identity, *file.digest});
    }
    void Unreadable(const std::string& path, const Failure& failure) override
    {
        problems.paths.push_back(path);
        problems.numbers.push_back(failure.number());
    }
};

}  // namespace qirn::test
