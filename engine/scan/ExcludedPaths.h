#pragma once

// Entries left out of a walk by their exact paths, as the walk forms them.

#include "engine/scan/ScanSink.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

class ExcludedPaths final : public WalkFilter {
public:
    void Add(std::string path) { paths_.push_back(std::move(path)); }
    bool Empty() const { return paths_.empty(); }

    bool Excludes(std::string_view path, std::string_view name) const override;
    bool OneFileSystem() const override { return false; }

private:
    std::vector<std::string> paths_;
};

// The path a walk of top gives folder, when folder lies below top (links and
// ".." resolved): top itself when it is top; nullopt when it is elsewhere or
// either cannot be resolved.
std::optional<std::string> WalkPathOf(const std::filesystem::path& folder, const std::string& top);

}  // namespace qirn
