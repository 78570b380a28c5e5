// The build without SQLite: nothing is kept, and nothing is said, since the
// front ends refuse to be asked for a cache there.

#include "cache/KeptDigests.h"

namespace qirn {

struct KeptDigests::State { };

bool KeptDigests::Available()
{
    return false;
}

std::filesystem::path KeptDigests::DefaultFile()
{
    return {};
}

KeptDigests::KeptDigests(const std::filesystem::path& /*file*/, Notice /*notice*/) : state_(new State)
{
}

KeptDigests::~KeptDigests() = default;

bool KeptDigests::Usable() const
{
    return false;
}

DigestLookup* KeptDigests::BeginWalk(const std::string& /*folder*/)
{
    return nullptr;
}

void KeptDigests::EndWalk()
{
}

RematchCounts KeptDigests::Rematch(const std::string& /*folder*/, std::int32_t /*sizeLimit*/,
    const SignatureList& /*signatures*/, const std::function<void(const RematchHit&)>& /*onHit*/, ScanSink& /*sink*/)
{
    return {};
}

}  // namespace qirn
