#pragma once

// The Scan and Stop commands and the switching of the window between its idle
// and scanning states, written against small interfaces so that the steps run
// the same against widgets and against recording test doubles.

#include "engine/scan/FindFiles.h"
#include "window/Clock.h"
#include "window/Controls.h"
#include "window/WindowScan.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace qirn {

// Rebuilds the signature list; throws qirn::Failure when the file is rejected.
class SignatureSource {
public:
    virtual ~SignatureSource() = default;
    virtual void Load() = 0;
    // Why the last load gave no list, in words for the user; empty when unknown.
    virtual std::string Problem() const { return {}; }
};

// "Left out: 2 files over 83000 bytes, 1 that could not be read"; empty when nothing was.
std::string LeftOutText(std::uint64_t tooLarge, std::uint64_t unreadable, std::int32_t sizeLimit);

struct ScanControls {
    Switch& txtRep;
    Switch& cmdSave;
    Switch& cmdCl;
    ValueControl& chkChg;
    Caption& lblStrt;
    Caption& lblEl;
    Caption& lblFin;
    Caption& lblCur;
    Caption& lblFnd;
    Switch& tmrEl;
    Switch& cmdScan;
    Switch& cmdStop;
    Switch& lblBrowse;
    ValueControl& pgbStatus;
    // Why the last scan read less than asked: no signatures, or no cache.
    Caption& lblScanNote;
};

class ScanControl {
public:
    ScanControl(const ScanControls& controls, const ScanElements& elements, SignatureSource& signatures, Clock& clock)
        : controls_(controls), elements_(elements), signatures_(signatures), clock_(clock)
    {
    }

    // Scans keep file digests in this cache file, so that a rescan reads
    // only what changed; a cache that cannot be used is named in lblScanNote.
    // Builds without the cache (no SQLite) read every file.
    void UseDigestCache(std::filesystem::path file) { cacheFile_ = std::move(file); }
    // Scans never walk into folder (the quarantine) when it lies below theirs.
    void LeaveOut(std::filesystem::path folder) { leftOut_ = std::move(folder); }
    // Files larger than sizeLimit bytes are not read; with why set, the
    // setting is wrong and scans do nothing but say so.
    void SetSizeLimit(std::int32_t sizeLimit, std::string why = {})
    {
        sizeLimit_ = sizeLimit;
        sizeProblem_ = std::move(why);
    }

    // The Click of "Scan": one whole scan of folder.
    void Scan(const std::string& folder);
    // The Click of "Stop".
    void Stop();
    void BeginScanUi();
    void EndScanUi();
    // The tmrEl tick.
    void ElapsedTick(std::uint64_t infectionCount);

private:
    void Walk(const std::string& folder);

    ScanControls controls_;
    ScanElements elements_;
    SignatureSource& signatures_;
    Clock& clock_;
    std::int64_t scanStart_ = 0;
    std::optional<std::filesystem::path> cacheFile_;
    std::filesystem::path leftOut_;
    std::int32_t sizeLimit_ = mdlFindFiles::kSizeLimit;
    std::string sizeProblem_;
    std::string cacheNote_;  // what the cache said during the last walk
};

}  // namespace qirn
