#include "engine/remedy/UserQuarantine.h"

#include "engine/Failure.h"
#include "engine/platform/ApplicationFolder.h"
#include "engine/remedy/QuarantineFolder.h"
#include "engine/remedy/QuarantineRecord.h"

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

std::filesystem::path DefaultQuarantineFolder()
{
    const std::filesystem::path data = UserDataFolder();
    return data.empty() ? data : data / kApplicationFolderName / "quarantine";
}

RemovalResult QuarantineDetectedFile(const DetectedFile& detected, const std::filesystem::path& folder)
{
    std::unique_ptr<QuarantineFolder> quarantine;
    try {
        if (folder.empty())
            throw Failure(ENOENT, "there is no data folder for it (neither XDG_DATA_HOME nor HOME is set)");
        CreatePrivateFolders(folder.parent_path());
        quarantine = OpenQuarantineFolder(folder, true);
    } catch (const Failure& failure) {
        return {RemovalResult::Status::Refused,
            std::string("the quarantine folder cannot be used: ") + failure.description(), {}};
    }
    const std::vector<std::string_view> names(detected.signatures.begin(), detected.signatures.end());
    return quarantine->Keep(detected, [&](const QuarantineFacts& facts) { return SidecarText(facts, names); });
}

std::size_t PruneQuarantine(const std::filesystem::path& folder, std::chrono::system_clock::time_point now)
{
    std::unique_ptr<QuarantineFolder> quarantine;
    try {
        quarantine = OpenQuarantineFolder(folder, false);
    } catch (const Failure&) {
        return 0;
    }
    std::size_t pruned = 0;
    for (const std::string& entry : quarantine->Entries()) {
        std::optional<std::chrono::system_clock::time_point> quarantined;
        try {
            quarantined = QuarantinedAt(quarantine->ReadSidecar(entry));
        } catch (const Failure&) {
            continue;
        }
        if (quarantined && now - *quarantined > kQuarantineKeptFor) {
            quarantine->Discard(entry);
            ++pruned;
        }
    }
    return pruned;
}

}  // namespace qirn
