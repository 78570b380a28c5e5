#pragma once

// Digests kept between scans, as a front end uses them: one cache file,
// opened once, and what it keeps for each folder a walk takes. Where the
// build has no SQLite nothing is kept and every scan reads every file.

#include "cache/Rematch.h"
#include "engine/scan/DigestLookup.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace qirn {

class KeptDigests {
public:
    using Notice = std::function<void(const std::string&)>;

    // False where the build keeps no digests.
    static bool Available();
    // The user's cache file.
    static std::filesystem::path DefaultFile();

    // What keeps the file from being used, or rebuilt, is told to notice once;
    // during a walk, on the walk's thread.
    KeptDigests(const std::filesystem::path& file, Notice notice);
    KeptDigests(const KeptDigests&) = delete;
    KeptDigests& operator=(const KeptDigests&) = delete;
    ~KeptDigests();

    bool Usable() const;
    // Starts reading what is kept for folder, on a thread of its own, for
    // one walk of it. Null when the cache cannot be used.
    DigestLookup* BeginWalk(const std::string& folder);
    // Writes back what the walk read, and waits until it is written.
    void EndWalk();

    // See cache/Rematch.h; a cache that cannot be used matches nothing.
    RematchCounts Rematch(const std::string& folder, std::int32_t sizeLimit, const SignatureList& signatures,
        const std::function<void(const RematchHit&)>& onHit, ScanSink& sink);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace qirn
