#include "cli/ScanCommand.h"

#include "cache/KeptDigests.h"
#include "cli/DigestCacheUse.h"
#include "cli/Exclusions.h"
#include "cli/Quarantine.h"
#include "cli/ScanOptions.h"
#include "cli/ScanOutput.h"
#include "cli/ScanProgress.h"
#include "cli/SignatureSources.h"
#include "engine/Failure.h"
#include "engine/platform/Console.h"
#include "engine/platform/Platform.h"
#include "engine/remedy/UserQuarantine.h"
#include "engine/scan/ExcludedPaths.h"
#include "engine/scan/FindFile.h"
#include "engine/scan/FindFiles.h"
#include "engine/signatures/SignatureList.h"

#include <cerrno>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace qirn {

namespace {

// One run of qirn-scan over its folders: it hears every entry of the walk,
// writes the records and keeps the counts.
class ScanRun final : public ScanSink {
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
        // A FOLDER that cannot be opened is told in its turn; the others are
        // scanned, and a hit in them still decides the exit status.
        std::vector<Top> tops;
        for (const std::string& folder : options_.folders)
            tops.push_back(OpenTop(folder));
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
        std::unique_ptr<KeptDigests> cache;
        DigestLookup* kept = nullptr;  // what is cached for the folder being walked
        std::future<void> opening = std::async(std::launch::async, [&] {
            cache = OpenDigestCache(options_, notice);
            if (cache && !tops.empty() && tops.front().file.empty())
                kept = cache->BeginWalk(options_.folders.front());
        });
        const auto unloaded = LoadScanSignatures(signatures_, options_.signatures, summary_.signatureFile, err_);
        opening.get();
        noticesWait = false;
        for (const std::string& text : cacheNotices)
            notice(text);
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
        // Nor is the window's quarantine folder walked into, whatever is asked.
        for (const std::string& folder : options_.folders) {
            const std::optional<std::string> inside = WalkPathOf(DefaultQuarantineFolder(), folder);
            if (inside && *inside != folder)
                exclusions_.AddPath(*inside);
        }

        mdlFindFiles::ScanRequest request{signatures_, *this, stop_.get_token(), options_.maxSize, options_.jobs,
            exclusions_.Active() ? &exclusions_ : nullptr};
        request.lanes = true;
        for (std::size_t i = 0; i < tops.size() && !stop_.stop_requested(); ++i) {
            top_ = options_.folders[i];
            const Top& top = tops[i];
            if (!top.folder) {
                NotAFolder(*top.failure);
                continue;
            }
            // A single file is read whatever the cache keeps: the cache's
            // rows stand for whole folders.
            if (!top.file.empty()) {
                request.cache = nullptr;
                ScanFile(top, request);
                continue;
            }
            if (i > 0 && cache)
                kept = cache->BeginWalk(top_);
            request.cache = kept;
            mdlFindFiles::FindFiles(*top.folder, top_, mdlFindFiles::kAllFiles, request);
            if (cache)
                cache->EndWalk();
        }
        progress_.Erase();

        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        return Finish(elapsed.count());
    }

    // Ctrl-C and a termination request end the walk before its next file.
    void Next(std::string_view, std::string_view) override
    {
        if (InterruptSignal() != 0)
            stop_.request_stop();
    }

    void Examined(const ExaminedFile& file) override
    {
        progress_.File(file.folderPath, file.size);
        if (file.hits.empty()) {
            ++summary_.counts.clean;
            return;
        }
        ++summary_.counts.hit;
        summary_.counts.hitLines += file.hits.size();
        if (hitsOnTerminal_)
            progress_.Erase();
        const std::string path = std::string(file.folderPath).append(file.name);
        for (const std::string_view signatureName : file.hits) {
            if (!output_->Hit(path, signatureName, *file.digest, file.sha256, file.size))
                return WriteFailed();
        }
        if (quarantine_) {
            const QuarantineNote note =
                quarantine_->Take({path, file.identity, *file.digest, file.hits, file.accessedNs});
            if (!note.done)
                Message(std::string(note.moved ? "cannot move " : "cannot remove ") + EscapeForText(note.path) + " (" +
                    EscapeForText(note.reason) + ")");
            if (!output_->Quarantined(note))
                return WriteFailed();
        }
    }
    void TooLarge(std::string_view, std::string_view) override { ++summary_.counts.tooLarge; }
    void NotRegular(std::string_view, std::string_view) override { ++summary_.counts.notRegular; }
    void Excluded(std::string_view, std::string_view) override { ++summary_.counts.excluded; }

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
    // A FOLDER, or the folder of a FILE, opened; or why neither could be.
    struct Top {
        std::unique_ptr<Folder> folder;
        std::string file;  // the FILE's name in folder; empty for a FOLDER
        bool link = false;
        std::optional<Failure> failure;
    };

    static Top OpenTop(const std::string& path)
    {
        Top top;
        try {
            top.folder = OpenFolder(path);
            return top;
        } catch (const Failure& failure) {
            top.failure = failure;
        }
        const std::filesystem::path file = PathFromText(path);
        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::symlink_status(file, error);
        if (error || std::filesystem::is_directory(status) || !std::filesystem::exists(status) || !file.has_filename())
            return top;
        try {
            top.folder = OpenFolder(file.has_parent_path() ? TextFromPath(file.parent_path()) : ".");
            top.file = TextFromPath(file.filename());
            top.link = std::filesystem::is_symlink(status);
        } catch (const Failure& failure) {
            top.failure = failure;
        }
        return top;
    }

    // Told as the walk tells a file of a folder: the hit line is the same.
    // A link is not followed, as in the walk, but said.
    void ScanFile(const Top& top, const mdlFindFiles::ScanRequest& request)
    {
        const std::string folderPath = top_.substr(0, top_.size() - top.file.size());
        if (top.link) {
            Message(EscapeForText(top_) + " is a link, which is not followed; name the file it points to");
            NotRegular(folderPath, top.file);
            return;
        }
        mdlFindFiles::FindFile(*top.folder, folderPath, top.file, request);
    }

    void NotAFolder(const Failure& failure)
    {
        ++summary_.counts.unreadable;
        topUnlistable_ = true;
        Message(
            EscapeForText(top_) + " is not a folder that can be read (" + EscapeForText(FailureReason(failure)) + ")");
        if (!output_->Unreadable(top_, failure))
            WriteFailed();
    }

    void Message(const std::string& text)
    {
        progress_.Erase();
        std::fprintf(err_, "qirn-scan: %s\n", text.c_str());
    }

    void WriteFailed()
    {
        const int error = errno;
        if (writeFailed_)
            return;
        writeFailed_ = true;
        stop_.request_stop();
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
    std::stop_source stop_;
    std::string top_;
    bool topUnlistable_ = false;
    bool writeFailed_ = false;
};

}  // namespace

int RunScanCommand(std::span<const std::string> args, std::FILE* out, std::FILE* err)
{
    const std::optional<ScanOptions> options = ParseScanArguments(args, err);
    if (!options) {
        std::fputs("Try 'qirn-scan --help' for more information.\n", err);
        return kCannotScan;
    }
    if (options->help || options->version) {
        std::fputs((options->help ? ScanUsage() : ScanVersion()).c_str(), out);
        return kNothingFound;
    }
    if (options->restore)
        return RestoreQuarantined(*options->restore, out, err);
    if (options->rematch)
        return RunRematch(*options, out, err);
    return ScanRun(*options, out, err).Run();
}

}  // namespace qirn
