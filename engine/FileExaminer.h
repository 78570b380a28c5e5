#pragma once

// Reading and digesting single files of a walk, inline or on worker threads.

#include "Digest.h"
#include "Failure.h"
#include "FileSystem.h"
#include "SignatureList.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qirn {

struct FileOutcome {
    enum class Kind { TooLong, Examined, Failed };
    Kind kind = Kind::Failed;
    bool digested = false;
    Md5Digest digest{};
    FileIdentity identity;
    std::optional<Failure> failure;
};

// One examiner per thread: it owns the read buffer and the MD5 context.
class FileExaminer {
public:
    explicit FileExaminer(std::int32_t sizeLimit);

    // With digest false only the length is read.
    FileOutcome Examine(Folder& folder, const std::string& name, bool digest);

private:
    std::int32_t sizeLimit_;
    std::vector<std::byte> buffer_;  // one byte more than the limit
    Md5 md5_;
};

// Examines files on worker threads; outcomes are taken back in the order the
// files were submitted.
class ExaminerPool {
public:
    struct Done {
        std::string folderPath;
        std::string name;
        FileOutcome outcome;
    };

    ExaminerPool(unsigned workers, std::int32_t sizeLimit);
    ExaminerPool(const ExaminerPool&) = delete;
    ExaminerPool& operator=(const ExaminerPool&) = delete;
    ~ExaminerPool();

    bool Full() const;
    bool Empty() const;
    // Only when not full.
    void Submit(std::shared_ptr<Folder> folder, std::string folderPath, std::string name, bool digest);
    // Waits until the oldest submitted file is done.
    Done TakeOldest();
    // The oldest submitted file if it is done already.
    std::optional<Done> TryTakeOldest();

private:
    struct Job {
        std::shared_ptr<Folder> folder;
        bool digest = false;
        bool finished = false;
        Done done;
    };

    void Work(std::int32_t sizeLimit);
    Done PopOldest();

    mutable std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable jobFinished_;
    std::vector<Job> ring_;
    std::size_t oldest_ = 0;
    std::size_t nextFree_ = 0;
    std::size_t nextToClaim_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace qirn
