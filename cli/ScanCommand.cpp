#include "cli/ScanCommand.h"

#if QIRN_DIGEST_CACHE
#include "cli/DigestCacheUse.h"
#include "engine/ScanCache.h"
#endif
#include "cli/Exclusions.h"
#include "cli/Quarantine.h"
#include "cli/ScanOptions.h"
#include "cli/ScanOutput.h"
#include "cli/ScanProgress.h"
#include "cli/SignatureSources.h"
#include "engine/Console.h"
#include "engine/Failure.h"
#include "engine/FindFiles.h"
#include "engine/Platform.h"
#include "engine/SignatureList.h"

#include <cerrno>
#include <future>
#include <memory>
#include <optional>
#include <vector>

namespace qirn {

namespace {

// One run of qirn-scan over its folders: it hears every entry of the walk,
// writes the records and keeps the counts.
class ScanRun final : public InfectionList, public ReportText, public Caption, public EventPump, public ProblemLog {
public:
    ScanRun(const ScanOptions& options, std::FILE* out, std::FILE* err)
        : options_(options),
          err_(err),
          output_(MakeScanOutput(options.format, out)),
          progress_(err, !options.quiet && IsTerminal(err)),
          hitsOnTerminal_(IsTerminal(out)),
          exclusions_(options.excludes, options.oneFileSystem)
    {
        summary_.started = std::chrono::system_clock::now();
    }

    int Run()
    {
        const auto started = std::chrono::steady_clock::now();
        std::vector<std::unique_ptr<Folder>> tops;
        for (const std::string& folder : options_.folders) {
            try {
                tops.push_back(OpenFolder(folder));
            } catch (const Failure& failure) {
                return CannotRun(EscapeForText(folder) + " is not a folder that can be read (" +
                    std::string(FailureReason(failure)) + ")");
            }
        }
#if QIRN_DIGEST_CACHE
        // The cache opens, and starts reading what it holds for the first
        // folder, while the signatures load; what it has to say waits for them.
        std::vector<std::string> cacheNotices;
        bool noticesWait = true;
        // Through Message, so that a notice in mid-scan first erases the progress line.
        const auto notice = [&](const std::string& text) {
            if (noticesWait)
                cacheNotices.push_back(text);
            else
                Message(EscapeForText(text));
        };
        std::unique_ptr<DigestCache> cache;
        std::optional<ScanCache> kept;  // what is cached for the folder being walked
        std::future<void> opening = std::async(std::launch::async, [&] {
            cache = OpenDigestCache(options_, notice);
            if (cache && cache->Usable() && !options_.folders.empty())
                kept.emplace(*cache, options_.folders.front());
        });
#endif
        const auto unloaded = LoadScanSignatures(signatures_, options_.signatures, summary_.signatureFile, err_);
#if QIRN_DIGEST_CACHE
        opening.get();
        noticesWait = false;
        for (const std::string& text : cacheNotices)
            notice(text);
#endif
        if (unloaded)
            return CannotRun("cannot load signatures: " + *unloaded);
        summary_.signatures = signatures_.Count();
        if (options_.moveTo || options_.remove) {
            try {
                quarantine_.emplace(
                    options_.moveTo ? std::optional<std::filesystem::path>(*options_.moveTo) : std::nullopt);
                for (const std::string& folder : options_.folders) {
                    if (std::optional<std::string> inside = quarantine_->PathInside(folder))
                        exclusions_.AddPath(*inside);
                }
            } catch (const Failure& failure) {
                return CannotRun(std::string("cannot use the quarantine folder: ") + failure.description());
            }
        }

        ScanCounter counter(*this);
        const ScanElements elements{
            signatures_, *this, *this, counter, *this, *this, this, exclusions_.Active() ? &exclusions_ : nullptr};
        mdlFindFiles::ClearStop();
        for (std::size_t i = 0; i < tops.size() && mdlFindFiles::StopScan == 0; ++i) {
            top_ = options_.folders[i];
#if QIRN_DIGEST_CACHE
            if (i > 0) {
                kept.reset();
                if (cache && cache->Usable())
                    kept.emplace(*cache, top_);
            }
            ScanElements folderElements = elements;
            folderElements.cache = kept ? &*kept : nullptr;
            mdlFindFiles::FindFiles(
                *tops[i], top_, mdlFindFiles::kAllFiles, options_.maxSize, folderElements, options_.jobs);
            if (kept)
                kept->Finish();
#else
            mdlFindFiles::FindFiles(*tops[i], top_, mdlFindFiles::kAllFiles, options_.maxSize, elements, options_.jobs);
#endif
        }
        ProcessEvents();
        progress_.Erase();

        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        return Finish(elapsed.count());
    }

    void AddHit(Hit hit) override
    {
        ++summary_.counts.hitLines;
        pending_.push_back(std::move(hit));
    }
    void Append(std::string_view) override
    {
    }
    void SetCaption(std::string_view) override
    {
    }
    void ProcessEvents() override
    {
        if (InterruptSignal() != 0)
            mdlFindFiles::RequestStop();
    }

    void Examined(const ExaminedFile& file) override
    {
        progress_.File(file.folderPath, file.size);
        if (file.hits == 0) {
            ++summary_.counts.clean;
            return;
        }
        ++summary_.counts.hit;
        if (hitsOnTerminal_)
            progress_.Erase();
        for (const Hit& hit : pending_) {
            if (!output_->Hit(TextFromPath(hit.path), hit.signatureName, *file.digest, file.sha256, file.size))
                return WriteFailed();
        }
        if (quarantine_) {
            std::vector<std::string> names;
            for (const Hit& hit : pending_)
                names.push_back(hit.signatureName);
            const QuarantineNote note = quarantine_->Take(pending_.front(), *file.digest, names);
            if (!note.done)
                Message(std::string(note.moved ? "cannot move " : "cannot remove ") + EscapeForText(note.path) + " (" +
                    EscapeForText(note.reason) + ")");
            if (!output_->Quarantined(note))
                return WriteFailed();
        }
        pending_.clear();
    }
    void TooLarge(std::string_view, std::string_view) override
    {
        ++summary_.counts.tooLarge;
    }
    void NotRegular(std::string_view, std::string_view) override
    {
        ++summary_.counts.notRegular;
    }
    void Excluded(std::string_view, std::string_view) override
    {
        ++summary_.counts.excluded;
    }

    void Unreadable(const std::string& path, const Failure& failure) override
    {
        ++summary_.counts.unreadable;
        if (path == top_ || path == top_ + kPathSeparator)
            topUnlistable_ = true;
        Message("cannot read " + EscapeForText(path) + " (" + EscapeForText(FailureReason(failure)) + ")");
        if (!output_->Unreadable(path, failure))
            WriteFailed();
    }

private:
    void Message(const std::string& text)
    {
        progress_.Erase();
        std::fprintf(err_, "qirn-scan: %s\n", text.c_str());
    }

    void WriteFailed()
    {
        const int error = errno;
        pending_.clear();
        if (writeFailed_)
            return;
        writeFailed_ = true;
        mdlFindFiles::RequestStop();
        Message(std::string("cannot write to standard output (") + ErrorText(error) + "); scan ended");
    }

    int CannotRun(const std::string& why)
    {
        Message(why);
        summary_.error = why;
        summary_.complete = false;
        summary_.exitStatus = kCannotScan;
        summary_.ended = std::chrono::system_clock::now();
        if (options_.format == OutputFormat::JsonLines)
            output_->Summary(summary_);
        return kCannotScan;
    }

    int Finish(double seconds)
    {
        ScanCounts& counts = summary_.counts;
        summary_.interruptSignal = InterruptSignal();
        summary_.complete = counts.unreadable == 0 && summary_.interruptSignal == 0 && !writeFailed_;
        summary_.ended = std::chrono::system_clock::now();
        summary_.exitStatus = writeFailed_          ? kCannotScan
            : summary_.interruptSignal != 0         ? 128 + summary_.interruptSignal
            : counts.hitLines > 0                   ? kFound
            : topUnlistable_                        ? kCannotScan
            : options_.strict && !summary_.complete ? kIncomplete
                                                    : kNothingFound;
        const auto line = [&](const char* label, std::uint64_t value) {
            std::fprintf(err_, "%s: %llu\n", label, static_cast<unsigned long long>(value));
        };
        line("Signatures loaded", summary_.signatures);
        line("Files examined", counts.hit + counts.clean);
        line("Hits", counts.hitLines);
        line("Unreadable", counts.unreadable);
        line("Files with hits", counts.hit);
        line("Clean", counts.clean);
        line("Too large", counts.tooLarge);
        line("Not regular files", counts.notRegular);
        line("Excluded", counts.excluded);
        line("Entries met", counts.Entries());
        std::fprintf(err_, "Scan: %s\n",
            summary_.complete                   ? "complete"
                : summary_.interruptSignal != 0 ? "incomplete (interrupted)"
                : writeFailed_                  ? "incomplete (output failed)"
                                                : "incomplete (some entries could not be read)");
        std::fprintf(err_, "Time: %.3f s\n", seconds);
        if (!writeFailed_ && !output_->Summary(summary_)) {
            WriteFailed();
            return kCannotScan;
        }
        return summary_.exitStatus;
    }

    const ScanOptions& options_;
    std::FILE* err_;
    std::unique_ptr<ScanOutput> output_;
    ScanProgress progress_;
    // Hit lines share the terminal with the progress line.
    bool hitsOnTerminal_;
    Exclusions exclusions_;
    std::optional<Quarantine> quarantine_;
    SignatureList signatures_;
    ScanSummary summary_;
    std::vector<Hit> pending_;  // of the file being recorded
    std::string top_;
    bool topUnlistable_ = false;
    bool writeFailed_ = false;
};

}  // namespace

int RunScanCommand(std::span<const std::string> args, std::FILE* out, std::FILE* err)
{
    const std::optional<ScanOptions> options = ParseScanArguments(args, err);
    if (!options) {
        std::fputs(ScanUsage().c_str(), err);
        return kCannotScan;
    }
    if (options->help) {
        std::fputs(ScanUsage().c_str(), out);
        return kNothingFound;
    }
    if (options->restore)
        return RestoreQuarantined(*options->restore, out, err);
#if QIRN_DIGEST_CACHE
    if (options->rematch)
        return RunRematch(*options, out, err);
#endif
    return ScanRun(*options, out, err).Run();
}

}  // namespace qirn
