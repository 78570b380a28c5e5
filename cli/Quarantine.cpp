#include "cli/Quarantine.h"

#include "engine/Failure.h"
#include "engine/platform/Platform.h"
#include "engine/remedy/FileRemoval.h"
#include "engine/scan/ExcludedPaths.h"

#include <exception>

namespace qirn {

Quarantine::Quarantine(const std::optional<std::filesystem::path>& folder)
{
    if (!folder)
        return;
    folder_ = OpenQuarantineFolder(*folder, true);
    std::error_code error;
    canonical_ = std::filesystem::canonical(*folder, error);
    if (error)
        throw Failure(error.value(), TextFromPath(*folder) + ": " + error.message());
}

std::optional<std::string> Quarantine::PathInside(const std::string& top) const
{
    if (!folder_)
        return std::nullopt;
    std::optional<std::string> inside = WalkPathOf(canonical_, top);
    if (inside == top)
        throw Failure(EINVAL, "the quarantine folder is a folder to scan");
    return inside;
}

QuarantineNote Quarantine::Take(const Detected& file)
{
    path_.assign(file.path);
    entry_.clear();
    const std::filesystem::path path = PathFromText(file.path);
    const bool done = folder_ ? Move(file, path) : Remove(file, path);
    return {path_, done, folder_ != nullptr, entry_, reason_};
}

bool Quarantine::Move(const Detected& file, const std::filesystem::path& path)
{
    const QuarantineResult result = folder_->Move(path, file.identity, file.digest, [&](const QuarantineFacts& facts) {
        // The time the file had before the scan's own read moved it.
        QuarantineFacts kept = facts;
        if (file.accessedNs != 0)
            kept.accessedNs = file.accessedNs;
        return SidecarText(kept, file.signatures);
    });
    if (!result.entry.empty())
        entry_ = TextFromPath(canonical_ / PathFromText(result.entry));
    reason_ = result.status == QuarantineResult::Status::Missing ? "it is gone" : result.errorText;
    return result.status == QuarantineResult::Status::Done;
}

bool Quarantine::Remove(const Detected& file, const std::filesystem::path& path)
{
    // Identity and content are checked once the file is out of everybody
    // else's reach, right before it goes.
    const RemovalResult result = RemoveDetectedFile({path, file.identity, file.digest});
    reason_ = result.status == RemovalResult::Status::Missing ? "it is gone" : result.errorText;
    return result.status == RemovalResult::Status::Deleted;
}

int RestoreQuarantined(const std::string& entryPath, std::FILE* out, std::FILE* err)
{
    const std::filesystem::path path = PathFromText(entryPath);
    std::string entry = TextFromPath(path.filename());
    if (entry.ends_with(".json"))
        entry.resize(entry.size() - 5);
    const auto fail = [&](std::string_view why) {
        std::fprintf(
            err, "qirn-scan: cannot restore %s (%s)\n", EscapeForText(entryPath).c_str(), EscapeForText(why).c_str());
        return 2;
    };
    const std::filesystem::path folderPath = path.has_parent_path() ? path.parent_path() : ".";
    // A wrong name is told as such, before the folder's owner and mode are checked.
    std::error_code absent;
    if (!std::filesystem::exists(std::filesystem::symlink_status(folderPath / PathFromText(entry), absent)) &&
        !std::filesystem::exists(std::filesystem::symlink_status(folderPath / PathFromText(entry + ".json"), absent)))
        return fail("no quarantined file of that name: neither " + entry + " nor " + entry + ".json is in " +
            TextFromPath(folderPath));
    try {
        const std::unique_ptr<QuarantineFolder> folder = OpenQuarantineFolder(folderPath, false);
        std::string record;
        try {
            record = folder->ReadSidecar(entry);
        } catch (const Failure& failure) {
            return fail(std::string("its record cannot be read: ") + failure.description());
        }
        const std::optional<QuarantineFacts> facts = ParseSidecar(record);
        if (!facts)
            return fail("its .json record is not one qirn-scan wrote");
        const QuarantineResult result = folder->Restore(entry, *facts);
        if (result.status != QuarantineResult::Status::Done)
            return fail(facts->originalPath + ": " + result.errorText);
        std::fprintf(
            out, "%s: restored to %s\n", EscapeForText(entryPath).c_str(), EscapeForText(facts->originalPath).c_str());
        return std::fflush(out) == 0 ? 0 : 2;
    } catch (const Failure& failure) {
        return fail(failure.description());
    } catch (const std::exception& error) {
        return fail(error.what());
    }
}

}  // namespace qirn
