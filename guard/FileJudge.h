#pragma once

// Judging one opened file from its descriptor: never by path, never a read
// of anything but a regular file within the size limit.

#include "engine/digest/Digest.h"
#include "engine/platform/FileSystem.h"
#include "engine/signatures/SignatureList.h"
#include "guard/VerdictCache.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qirn {

struct Judgement {
    enum class Kind { Clean, Listed, TooLarge, NotRegular, Unreadable };
    Kind kind = Kind::Unreadable;
    bool cached = false;  // digests taken from the cache, nothing read
    FileStamp stamp;
    FileDigests digests;
    std::vector<std::string> signatures;  // of a listed file, in list order
    std::string error;                    // why an unreadable file could not be read
};

// One per thread: it owns the read buffer and the digest contexts.
class FileJudge {
public:
    FileJudge(std::int32_t sizeLimit, VerdictCache& cache);

    Judgement Judge(int fd, const SignatureList& signatures);

private:
    std::int32_t sizeLimit_;
    VerdictCache& cache_;
    std::vector<std::byte> buffer_;
    Digester digester_;
};

}  // namespace qirn
