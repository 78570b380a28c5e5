#include "window/ScanControl.h"

#include "cache/KeptDigests.h"
#include "engine/Failure.h"
#include "engine/scan/ExcludedPaths.h"
#include "engine/scan/FindFiles.h"
#include "window/StopScan.h"

#include <cstdio>
#include <exception>

namespace qirn {

void ScanControl::Scan(const std::string& folder)
{
    mdlFindFiles::ClearStop();
    try {
        BeginScanUi();
        if (!sizeProblem_.empty()) {
            controls_.lblScanNote.SetCaption(sizeProblem_);
        } else {
            elements_.report.Append("\r\nA scan was started at : " + clock_.DateTimeText());
            Walk(folder);
        }
    } catch (const Failure&) {
        // A rejected signature file abandons the scan with only the finish
        // line; the panel says why, so that it never reads as a clean result.
        controls_.lblScanNote.SetCaption(signatures_.Problem());
    } catch (const std::exception&) {
    }
    elements_.report.Append("\r\nA scan was finished at : " + clock_.DateTimeText() + "\r\n");
    EndScanUi();
}

void ScanControl::Walk(const std::string& folder)
{
    WindowSink sink(elements_);
    mdlFindFiles::ScanRequest request{elements_.signatures, sink, mdlFindFiles::StopToken()};
    request.sizeLimit = sizeLimit_;
    ExcludedPaths leftOut;
    if (const std::optional<std::string> inside = WalkPathOf(leftOut_, folder); inside && *inside != folder)
        leftOut.Add(*inside);
    if (!leftOut.Empty())
        request.filter = &leftOut;
    cacheNote_.clear();
    std::optional<KeptDigests> cache;
    if (cacheFile_ && !folder.empty()) {
        cache.emplace(*cacheFile_, [this](const std::string& text) {
            cacheNote_ = text;
            controls_.lblScanNote.SetCaption(text);
        });
        request.cache = cache->BeginWalk(folder);
    }
    mdlFindFiles::FindFiles(folder, mdlFindFiles::kAllFiles, request);
    if (cache)
        cache->EndWalk();
    std::string note = LeftOutText(sink.TooLargeCount(), sink.UnreadableCount(), sizeLimit_);
    if (!cacheNote_.empty())
        note += (note.empty() ? "" : "; ") + cacheNote_;
    if (!note.empty())
        controls_.lblScanNote.SetCaption(note);
}

std::string LeftOutText(std::uint64_t tooLarge, std::uint64_t unreadable, std::int32_t sizeLimit)
{
    const auto files = [](std::uint64_t count) { return std::to_string(count) + (count == 1 ? " file" : " files"); };
    std::string text;
    if (tooLarge > 0)
        text = files(tooLarge) + " over " + std::to_string(sizeLimit) + " bytes";
    if (unreadable > 0)
        text += (text.empty() ? "" : ", ") + std::to_string(unreadable) + " that could not be read";
    return text.empty() ? text : "Left out: " + text;
}

void ScanControl::Stop()
{
    mdlFindFiles::RequestStop();
    EndScanUi();
}

void ScanControl::BeginScanUi()
{
    scanStart_ = clock_.LocalSeconds();
    controls_.txtRep.SetEnabled(false);
    controls_.cmdSave.SetEnabled(false);
    controls_.cmdCl.SetEnabled(false);
    controls_.chkChg.SetValue(2);
    controls_.lblStrt.SetCaption(ClockText(clock_.LocalSeconds()));
    controls_.lblEl.SetCaption("00:00:00");
    controls_.tmrEl.SetEnabled(true);
    controls_.cmdScan.SetEnabled(false);
    controls_.cmdStop.SetEnabled(true);
    controls_.lblBrowse.SetEnabled(false);
    controls_.lblFin.SetCaption("Not available");
    elements_.counter.Reset();  // lblScnd "Not available", List1 empty, Label3 "0"
    controls_.lblCur.SetCaption("Not available");
    controls_.lblScanNote.SetCaption("");
    signatures_.Load();
    for (int value = 1; value <= kProgressHalf; ++value)
        controls_.pgbStatus.SetValue(value);
}

void ScanControl::EndScanUi()
{
    controls_.lblFin.SetCaption(ClockText(clock_.LocalSeconds()));
    controls_.tmrEl.SetEnabled(false);
    controls_.cmdScan.SetEnabled(true);
    controls_.cmdStop.SetEnabled(false);
    controls_.lblCur.SetCaption("Finished");
    controls_.lblBrowse.SetEnabled(true);
    controls_.txtRep.SetEnabled(true);
    controls_.cmdSave.SetEnabled(true);
    controls_.cmdCl.SetEnabled(true);
    controls_.chkChg.SetValue(0);
    for (int value = kProgressHalf + 1; value <= kProgressFull; ++value)
        controls_.pgbStatus.SetValue(value);
}

void ScanControl::ElapsedTick(std::uint64_t infectionCount)
{
    controls_.lblEl.SetCaption(ClockText(clock_.LocalSeconds() - scanStart_));
    controls_.lblFnd.SetCaption(std::to_string(infectionCount));
}

}  // namespace qirn
