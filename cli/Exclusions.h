#pragma once

// The entries qirn-scan is told to leave out.

#include "engine/scan/ExcludedPaths.h"
#include "engine/scan/ScanSink.h"

#include <string>
#include <string_view>
#include <vector>

namespace qirn {

// Shell-style match of the whole text: "*" any run of characters and "?" any
// one character, neither matching "/"; "[...]" a set ("[!...]" its
// complement); "\" takes the next character as it is.
bool GlobMatches(std::string_view pattern, std::string_view text);

class Exclusions final : public WalkFilter {
public:
    Exclusions(std::vector<std::string> patterns, bool oneFileSystem);

    // An entry left out by its exact path as the walk forms it.
    void AddPath(std::string path);
    bool Active() const { return !patterns_.empty() || !paths_.Empty() || oneFileSystem_; }

    bool Excludes(std::string_view path, std::string_view name) const override;
    bool OneFileSystem() const override { return oneFileSystem_; }

private:
    std::vector<std::string> patterns_;
    ExcludedPaths paths_;
    bool oneFileSystem_;
};

}  // namespace qirn
