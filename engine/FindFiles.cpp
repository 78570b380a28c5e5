#include "engine/FindFiles.h"

#include "engine/FileExaminer.h"

#include <optional>
#include <vector>

namespace mdlFindFiles {

namespace {

using qirn::Failure;
using qirn::FileOutcome;
using qirn::Folder;
using qirn::FolderEntry;

bool StopRequested()
{
    return StopScan == -1;
}

// One folder of the walk: its listing and the subfolders still to enter.
struct Level {
    std::shared_ptr<Folder> folder;
    std::size_t pathLength = 0;  // of its path, separator included
    std::vector<std::string> subfolders;
    std::size_t nextSubfolder = 0;
};

class Walker {
public:
    Walker(std::string_view pattern, std::int32_t sizeLimit, const qirn::ScanElements& elements, unsigned jobs)
        : pattern_(pattern), elements_(elements), examiner_(sizeLimit)
    {
        if (jobs > 1)
            pool_.emplace(jobs, sizeLimit);
    }

    void Run(Folder& top, std::string path)
    {
        Walk(top, std::move(path));
        Drain();
    }

private:
    // Iterative, so that no depth of tree can exhaust the stack.
    void Walk(Folder& top, std::string path)
    {
        path_ = std::move(path);
        if (path_.back() != qirn::kPathSeparator)
            path_ += qirn::kPathSeparator;
        std::vector<Level> levels;
        // The caller owns the top folder.
        levels.push_back({std::shared_ptr<Folder>(std::shared_ptr<Folder>(), &top), path_.size(), {}, 0});
        if (!WalkOwnEntries(levels.back()))
            return;
        while (!levels.empty()) {
            Level& level = levels.back();
            if (level.nextSubfolder == level.subfolders.size()) {
                levels.pop_back();
                continue;
            }
            if (StopRequested())
                return;
            const std::string& name = level.subfolders[level.nextSubfolder++];
            path_.resize(level.pathLength);
            path_ += name;
            Level child;
            try {
                child.folder = level.folder->OpenSubfolder(name);
            } catch (const Failure& failure) {
                ReportInWalkOrder(path_, failure);
                continue;
            }
            path_ += qirn::kPathSeparator;
            child.pathLength = path_.size();
            levels.push_back(std::move(child));
            if (!WalkOwnEntries(levels.back()))
                return;
        }
    }

    // Lists the subfolders, then examines the files. False once a stop is seen.
    bool WalkOwnEntries(Level& level)
    {
        Folder& folder = *level.folder;
        FolderEntry entry;
        try {
            while (folder.Next(entry)) {
                if (entry.name == "." || entry.name == "..")
                    continue;
                if (qirn::PassesMask(entry.attributes, qirn::kDirectory | qirn::kHidden) &&
                    (entry.attributes & qirn::kDirectory) != 0)
                    level.subfolders.emplace_back(entry.name);
            }
            folder.Rewind();
        } catch (const Failure& failure) {
            ReportInWalkOrder(path_, failure);
            level.subfolders.clear();
            return true;
        }

        path_.resize(level.pathLength);
        try {
            while (folder.Next(entry)) {
                if (!qirn::PassesMask(entry.attributes, qirn::kReadOnly | qirn::kHidden) ||
                    !qirn::MatchesPattern(entry.name, pattern_))
                    continue;
                if (StopRequested())
                    return false;
                std::string name(entry.name);
                elements_.currentFile.SetCaption(name);
                elements_.events.ProcessEvents();
                Examine(level, std::move(name));
            }
        } catch (const Failure& failure) {
            ReportInWalkOrder(path_, failure);
        }
        return true;
    }

    void Examine(const Level& level, std::string name)
    {
        // The list may have been reloaded during the yield.
        const bool digest = elements_.signatures.Count() > 0;
        if (!pool_) {
            Record({path_, name, examiner_.Examine(*level.folder, name, digest)});
            return;
        }
        if (pool_->Add(level.folder, path_, std::move(name), digest)) {
            for (const qirn::ExaminerPool::Done& done : pool_->TakeFinished(false))
                Record(done);
        }
    }

    void Record(const qirn::ExaminerPool::Done& done)
    {
        const FileOutcome& outcome = done.outcome;
        switch (outcome.kind) {
        case FileOutcome::Kind::TooLong:
            return;
        case FileOutcome::Kind::Failed:
            Report(done.folderPath + done.name, *outcome.failure);
            return;
        case FileOutcome::Kind::Examined:
            break;
        }
        if (outcome.digested) {
            elements_.signatures.ForEachMatch(
                outcome.digest, [&](std::string_view signatureName) { RecordHit(done, signatureName); });
        }
        elements_.counter.Advance(done.name);
    }

    void RecordHit(const qirn::ExaminerPool::Done& done, std::string_view signatureName)
    {
        elements_.infections.AddHit(
            {std::string(signatureName), std::filesystem::path(done.folderPath + done.name), done.outcome.identity});
        std::string line = "\r\nFile ";
        line += done.name;
        line += " was detected as ";
        line += signatureName;
        elements_.report.Append(line);
    }

    void Drain()
    {
        if (!pool_)
            return;
        pool_->Flush();
        while (!pool_->Idle()) {
            for (const qirn::ExaminerPool::Done& done : pool_->TakeFinished(true))
                Record(done);
        }
    }

    // A folder's failure follows the outcomes of the files handed out before it.
    void ReportInWalkOrder(const std::string& path, const Failure& failure)
    {
        Drain();
        Report(path, failure);
    }

    void Report(const std::string& path, const Failure& failure)
    {
        if (elements_.problems != nullptr)
            elements_.problems->Unreadable(path, failure);
    }

    std::string_view pattern_;
    const qirn::ScanElements& elements_;
    qirn::FileExaminer examiner_;
    std::optional<qirn::ExaminerPool> pool_;
    std::string path_;  // of the folder being walked, separator included
};

}  // namespace

void FindFiles(Folder& top, const std::string& folderPath, std::string_view pattern, std::int32_t sizeLimit,
    const qirn::ScanElements& elements, unsigned jobs)
{
    if (StopRequested() || folderPath.empty())
        return;
    Walker(pattern, sizeLimit, elements, jobs).Run(top, folderPath);
}

void FindFiles(const std::string& folderPath, std::string_view pattern, std::int32_t sizeLimit,
    const qirn::ScanElements& elements, unsigned jobs)
{
    if (StopRequested() || folderPath.empty())
        return;
    std::unique_ptr<Folder> top;
    try {
        top = qirn::OpenFolder(folderPath);
    } catch (const Failure& failure) {
        if (elements.problems != nullptr)
            elements.problems->Unreadable(folderPath, failure);
        return;
    }
    FindFiles(*top, folderPath, pattern, sizeLimit, elements, jobs);
}

}  // namespace mdlFindFiles
