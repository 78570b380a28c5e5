#include "engine/scan/FindFiles.h"

#include "engine/platform/Platform.h"
#include "engine/scan/FileExaminer.h"
#include "engine/scan/KeptListing.h"
#include "engine/scan/OutcomeRecord.h"
#include "engine/signatures/SignatureList.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace mdlFindFiles {

namespace {

using qirn::Failure;
using qirn::Folder;
using qirn::FolderEntry;

// The deepest levels of the walk keep their folders open; the others are
// opened again, and checked to be the same folder, when the walk climbs back.
constexpr std::size_t kOpenLevels = 16;
// With the folders that files waiting for a worker hold.
constexpr int kMaxOpenFolders = 32;
// Files stamped while the cache loads wait at most so many, in folders
// that take at most a share of the open-file limit; a stop drops them.
constexpr std::size_t kMaxWaitingFiles = 8192;
constexpr std::size_t kMaxWaitingFolders = 4096;
// Files whose lanes ended wait for the files before them; so many at most.
constexpr std::size_t kMaxHandedFiles = 4096;

// One folder of the walk: its listing and the subfolders still to enter.
struct Level {
    std::shared_ptr<Folder> folder;  // null while closed
    std::string name;                // in its parent
    qirn::FileIdentity identity;     // taken when the folder is closed
    std::size_t pathLength = 0;      // of its path, separator included
    std::vector<std::string> subfolders;
    std::size_t nextSubfolder = 0;
};

class Walker {
public:
    Walker(std::string_view pattern, const ScanRequest& request)
        : pattern_(pattern),
          request_(request),
          record_(request),
          examiner_(request.sizeLimit, request.cache, request.lanes),
          waitingFolders_(std::min(qirn::OpenFileLimit() / 4, kMaxWaitingFolders))
    {
        if (request.jobs > 1)
            pool_.emplace(request.jobs, request.sizeLimit, request.cache, request.lanes);
    }

    void Run(Folder& top, std::string path)
    {
        if (request_.filter != nullptr && request_.filter->OneFileSystem())
            topDevice_ = DeviceOf(top);
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
        // The caller owns the top folder, which stays open.
        levels.push_back({std::shared_ptr<Folder>(std::shared_ptr<Folder>(), &top), {}, {}, path_.size(), {}, 0});
        if (!WalkOwnEntries(levels.back()))
            return;
        while (!levels.empty()) {
            if (levels.back().nextSubfolder == levels.back().subfolders.size()) {
                Climb(levels);
                continue;
            }
            if (request_.stop.stop_requested())
                return;
            if (!levels.back().folder && !Reopen(levels, nullptr))
                continue;
            MakeRoomForAFolder(levels);
            Level& level = levels.back();
            Level child;
            child.name = level.subfolders[level.nextSubfolder++];
            path_.resize(level.pathLength);
            path_ += child.name;
            try {
                child.folder = Tracked(level.folder->OpenSubfolder(child.name));
            } catch (const Failure& failure) {
                ReportInWalkOrder(path_, failure);
                continue;
            }
            if (topDevice_ && DeviceOf(*child.folder) != topDevice_) {
                request_.sink.Excluded(std::string_view(path_).substr(0, level.pathLength), child.name);
                continue;
            }
            path_ += qirn::kPathSeparator;
            child.pathLength = path_.size();
            levels.push_back(std::move(child));
            if (!WalkOwnEntries(levels.back()))
                return;
        }
    }

    // Counts the folder as open until the walk and every waiting file let it go.
    std::shared_ptr<Folder> Tracked(std::unique_ptr<Folder> folder)
    {
        ++openFolders_;
        return {folder.release(), [this](Folder* closing) {
                    delete closing;
                    --openFolders_;
                }};
    }

    void MakeRoomForAFolder(std::vector<Level>& levels)
    {
        if (levels.size() >= kOpenLevels)
            Close(levels[levels.size() - kOpenLevels + 1]);
        if (!waiting_.empty() && static_cast<std::size_t>(openFolders_) >= waitingFolders_)
            HandOutWaiting();
        while (pool_ && openFolders_ >= kMaxOpenFolders && !pool_->Idle()) {
            pool_->Flush();
            for (const qirn::ExaminerPool::Done& done : pool_->TakeFinished(true))
                record_.Record(done);
        }
    }

    // A folder opened again is told from an impostor by the identity it had
    // when it was closed; one whose identity cannot be read stays open.
    static void Close(Level& level)
    {
        if (!level.folder)
            return;
        try {
            level.identity = level.folder->Identity();
            level.folder.reset();
        } catch (const Failure&) {
            // Kept open: one folder more than the bound.
        }
    }

    // Leaves the deepest level; its parent is opened again if it was closed.
    void Climb(std::vector<Level>& levels)
    {
        const Level done = std::move(levels.back());
        levels.pop_back();
        if (!levels.empty() && !levels.back().folder)
            Reopen(levels, done.folder.get());
    }

    // Opens the deepest level's folder again: through the child's "..", else
    // by name from the deepest open ancestor. A folder that is not the one
    // left ends the walk of that subtree, reported unreadable.
    bool Reopen(std::vector<Level>& levels, Folder* child)
    {
        Level& level = levels.back();
        if (child != nullptr) {
            try {
                std::shared_ptr<Folder> parent = Tracked(child->OpenSubfolder(".."));
                if (parent->Identity() == level.identity) {
                    level.folder = std::move(parent);
                    return true;
                }
            } catch (const Failure&) {
                // Not reachable that way: by name below.
            }
        }
        std::size_t base = levels.size() - 1;
        while (!levels[base].folder)
            --base;
        std::shared_ptr<Folder> at = levels[base].folder;
        for (std::size_t i = base + 1; i < levels.size(); ++i) {
            try {
                at = Tracked(at->OpenSubfolder(levels[i].name));
                if (at->Identity() != levels[i].identity)
                    throw Failure(qirn::kFolderReplaced, "the folder was moved or replaced during the scan");
            } catch (const Failure& failure) {
                ReportInWalkOrder(path_.substr(0, levels[i].pathLength - 1), failure);
                levels.resize(i);
                return false;
            }
        }
        level.folder = std::move(at);
        return true;
    }

    // Lists the subfolders, then examines the files. False once a stop is seen.
    bool WalkOwnEntries(Level& level)
    {
        Folder& folder = *level.folder;
        FolderEntry entry;
        kept_.Clear();
        try {
            while (folder.Next(entry)) {
                if (entry.name == "." || entry.name == "..")
                    continue;
                kept_.Add(entry);
                if (qirn::PassesMask(entry.attributes, qirn::kDirectory | qirn::kHidden) &&
                    (entry.attributes & qirn::kDirectory) != 0 && !Excluded(entry.name))
                    level.subfolders.emplace_back(entry.name);
            }
            if (!kept_.Whole())
                folder.Rewind();
        } catch (const Failure& failure) {
            ReportInWalkOrder(path_, failure);
            level.subfolders.clear();
            return true;
        }

        path_.resize(level.pathLength);
        try {
            while (kept_.Whole() ? kept_.Next(entry) : folder.Next(entry)) {
                if (!qirn::MatchesPattern(entry.name, pattern_))
                    continue;
                if (!qirn::PassesMask(entry.attributes, qirn::kReadOnly | qirn::kHidden)) {
                    if ((entry.attributes & qirn::kDirectory) == 0 && !Excluded(entry.name))
                        request_.sink.NotRegular(path_, entry.name);
                    continue;
                }
                if (request_.stop.stop_requested())
                    return false;
                if (Excluded(entry.name))
                    continue;
                // Kept from file to file: a name is copied only where it is kept.
                name_.assign(entry.name);
                Examine(level, name_);
            }
        } catch (const Failure& failure) {
            ReportInWalkOrder(path_, failure);
        }
        return true;
    }

    void Examine(const Level& level, const std::string& name)
    {
        if (Waits()) {
            qirn::EarlyStamp early = qirn::TakeEarlyStamp(*level.folder, name);
            waiting_.push_back({level.folder, path_, name, std::move(early)});
            if (waiting_.size() >= kMaxWaitingFiles)
                HandOutWaiting();
            return;
        }
        // The files that waited had their event passes just now.
        if (request_.stop.stop_requested())
            return;
        HandOut(level.folder, path_, name, std::nullopt);
    }

    // While the cache loads, files are stamped, as they would be for a
    // lookup, and wait; once it is in, they are handed out before the next.
    bool Waits()
    {
        if (request_.cache != nullptr && request_.cache->Loading())
            return true;
        if (!waiting_.empty())
            HandOutWaiting();
        return false;
    }

    void HandOutWaiting()
    {
        // A stop keeps the files that still wait from being read.
        for (Waiting& file : std::exchange(waiting_, {})) {
            if (request_.stop.stop_requested())
                return;
            HandOut(file.folder, file.folderPath, file.name, std::move(file.early));
        }
    }

    void HandOut(const std::shared_ptr<Folder>& folder, const std::string& folderPath, const std::string& name,
        std::optional<qirn::EarlyStamp> early)
    {
        // Right before the file is examined: files stamped while the cache
        // loads are told when their turn comes, not when they were listed.
        request_.sink.Next(folderPath, name);
        // The list may have been reloaded during the yield.
        const qirn::DigestNeed need = qirn::NeedOf(request_.signatures);
        if (!pool_ && request_.lanes) {
            handed_.push_back({folderPath, name, {}, false});
            examiner_.Begin(*folder, need, early ? &*early : nullptr, handed_.back());
            RecordHanded();
        } else if (!pool_) {
            record_.Record(folderPath, name, examiner_.Examine(*folder, name, need, early ? &*early : nullptr));
        } else if (pool_->Add(folder, folderPath, name, need, std::move(early))) {
            for (const qirn::ExaminerPool::Done& done : pool_->TakeFinished(false))
                record_.Record(done);
        }
    }

    // The files examined on this thread whose turn has come.
    void RecordHanded()
    {
        while (handed_.size() > kMaxHandedFiles && handed_.front().pending)
            examiner_.Advance();
        for (; !handed_.empty() && !handed_.front().pending; handed_.pop_front())
            record_.Record(handed_.front());
    }

    void Drain()
    {
        HandOutWaiting();
        examiner_.Finish();
        RecordHanded();
        if (!pool_)
            return;
        pool_->Flush();
        while (!pool_->Idle()) {
            for (const qirn::ExaminerPool::Done& done : pool_->TakeFinished(true))
                record_.Record(done);
        }
    }

    // A folder's failure follows the outcomes of the files handed out before it.
    void ReportInWalkOrder(const std::string& path, const Failure& failure)
    {
        Drain();
        request_.sink.Unreadable(path, failure);
    }

    // Tells the log of an entry of the folder being listed that the filter leaves out.
    bool Excluded(std::string_view name)
    {
        const qirn::WalkFilter* filter = request_.filter;
        if (filter == nullptr)
            return false;
        const std::size_t folderLength = path_.size();
        path_ += name;
        const bool excluded = filter->Excludes(path_, name);
        path_.resize(folderLength);
        if (excluded)
            request_.sink.Excluded(path_, name);
        return excluded;
    }

    static std::optional<std::uint64_t> DeviceOf(Folder& folder)
    {
        try {
            return folder.Device();
        } catch (const Failure&) {
            return std::nullopt;
        }
    }

    std::string_view pattern_;
    const ScanRequest& request_;
    qirn::OutcomeRecord record_;
    qirn::FileExaminer examiner_;
    std::atomic<int> openFolders_ = 0;  // outlives the pool, whose files hold folders
    std::optional<qirn::ExaminerPool> pool_;
    struct Waiting {
        std::shared_ptr<Folder> folder;
        std::string folderPath;
        std::string name;
        qirn::EarlyStamp early;
    };
    std::deque<Waiting> waiting_;             // stamped while the cache loads, in walk order
    std::deque<qirn::HandedFile> handed_;     // read on this thread, in walk order, until recorded
    std::size_t waitingFolders_;              // open folders beyond which they are handed out
    qirn::KeptListing kept_;                  // of the folder being walked
    std::string path_;                        // of the folder being walked, separator included
    std::string name_;                        // of the file being examined
    std::optional<std::uint64_t> topDevice_;  // set when the walk stays on one file system
};

}  // namespace

void FindFiles(Folder& top, const std::string& folderPath, std::string_view pattern, const ScanRequest& request)
{
    if (request.stop.stop_requested() || folderPath.empty())
        return;
    Walker(pattern, request).Run(top, folderPath);
}

void FindFiles(const std::string& folderPath, std::string_view pattern, const ScanRequest& request)
{
    if (request.stop.stop_requested() || folderPath.empty())
        return;
    std::unique_ptr<Folder> top;
    try {
        top = qirn::OpenFolder(folderPath);
    } catch (const Failure& failure) {
        request.sink.Unreadable(folderPath, failure);
        return;
    }
    FindFiles(*top, folderPath, pattern, request);
}

}  // namespace mdlFindFiles
