#include "FindFiles.h"

#include "Digest.h"
#include "Failure.h"
#include "SignatureList.h"

#include <algorithm>
#include <vector>

namespace qirn {

void ScanCounter::Reset()
{
    batches_ = 0;
    pending_.clear();
    total_.SetCaption("Not available");
}

void ScanCounter::Advance(std::string_view fileName)
{
    pending_.emplace_back(fileName);
    total_.SetCaption(std::to_string(Total()));
    if (pending_.size() == kBatch) {
        batches_ += kBatch;
        pending_.clear();
    }
}

}  // namespace qirn

namespace mdlFindFiles {

namespace {

using qirn::Failure;
using qirn::Folder;
using qirn::FolderEntry;

bool StopRequested()
{
    return StopScan == -1;
}

// One folder of the walk: its listing and the subfolders still to enter.
struct Level {
    Folder* folder = nullptr;
    std::unique_ptr<Folder> owned;
    std::size_t pathLength = 0;  // of its path, separator included
    std::vector<std::string> subfolders;
    std::size_t nextSubfolder = 0;
};

class Walker {
public:
    Walker(std::string_view pattern, std::int32_t sizeLimit, const qirn::ScanElements& elements)
        : pattern_(pattern),
          sizeLimit_(sizeLimit),
          elements_(elements),
          buffer_(static_cast<std::size_t>(std::max(sizeLimit, -1) + 1))
    {
    }

    // Iterative, so that no depth of tree can exhaust the stack.
    void Run(Folder& top, std::string path)
    {
        path_ = std::move(path);
        if (path_.back() != qirn::kPathSeparator)
            path_ += qirn::kPathSeparator;
        std::vector<Level> levels;
        levels.push_back({&top, nullptr, path_.size(), {}, 0});
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
                child.owned = level.folder->OpenSubfolder(name);
            } catch (const Failure& failure) {
                Report(path_, failure);
                continue;
            }
            path_ += qirn::kPathSeparator;
            child.folder = child.owned.get();
            child.pathLength = path_.size();
            levels.push_back(std::move(child));
            if (!WalkOwnEntries(levels.back()))
                return;
        }
    }

private:
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
            Report(path_, failure);
            level.subfolders.clear();
            return true;
        }

        try {
            while (folder.Next(entry)) {
                if (!qirn::PassesMask(entry.attributes, qirn::kReadOnly | qirn::kHidden) ||
                    !qirn::MatchesPattern(entry.name, pattern_))
                    continue;
                if (StopRequested())
                    return false;
                name_.assign(entry.name);
                elements_.currentFile.SetCaption(name_);
                elements_.events.ProcessEvents();
                Examine(folder, level.pathLength);
            }
        } catch (const Failure& failure) {
            path_.resize(level.pathLength);
            Report(path_, failure);
        }
        return true;
    }

    void Examine(Folder& folder, std::size_t pathLength)
    {
        path_.resize(pathLength);
        const qirn::SignatureList& signatures = elements_.signatures;
        try {
            if (signatures.Count() == 0) {
                // Nothing to match: the length alone decides whether it counts.
                if (sizeLimit_ < 0 || folder.Length(name_) > static_cast<std::uint64_t>(sizeLimit_))
                    return;
            } else {
                const qirn::FileRead read = folder.ReadFile(name_, buffer_);
                if (read.size == buffer_.size())
                    return;
                const qirn::Md5Digest digest = md5_.Compute(std::span(buffer_).first(read.size));
                signatures.ForEachMatch(digest, [&](std::string_view signatureName) {
                    RecordHit(signatureName, read.identity);
                });
            }
        } catch (const Failure& failure) {
            Report(path_ + name_, failure);
            return;
        }
        elements_.counter.Advance(name_);
    }

    void RecordHit(std::string_view signatureName, const qirn::FileIdentity& identity)
    {
        elements_.infections.AddHit(
            {std::string(signatureName), std::filesystem::path(path_ + name_), identity});
        std::string line = "\r\nFile ";
        line += name_;
        line += " was detected as ";
        line += signatureName;
        elements_.report.Append(line);
    }

    void Report(const std::string& path, const Failure& failure)
    {
        if (elements_.problems != nullptr)
            elements_.problems->Unreadable(path, failure);
    }

    std::string_view pattern_;
    std::int32_t sizeLimit_;
    const qirn::ScanElements& elements_;
    std::vector<std::byte> buffer_;  // one byte more than the limit
    qirn::Md5 md5_;
    std::string path_;
    std::string name_;
};

}  // namespace

void FindFiles(Folder& top, const std::string& folderPath, std::string_view pattern,
               std::int32_t sizeLimit, const qirn::ScanElements& elements)
{
    if (StopRequested() || folderPath.empty())
        return;
    Walker(pattern, sizeLimit, elements).Run(top, folderPath);
}

void FindFiles(const std::string& folderPath, std::string_view pattern, std::int32_t sizeLimit,
               const qirn::ScanElements& elements)
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
    FindFiles(*top, folderPath, pattern, sizeLimit, elements);
}

}  // namespace mdlFindFiles
