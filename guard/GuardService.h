#pragma once

// The on-access guard: reads the permission events of its fanotify group,
// judges each opened file on worker threads and answers every event, in
// time or with "allow" at its deadline.

#include "cli/Quarantine.h"
#include "engine/signatures/SignatureList.h"
#include "guard/Fanotify.h"
#include "guard/FileJudge.h"
#include "guard/GuardRecord.h"
#include "guard/GuardSettings.h"
#include "guard/PendingAnswers.h"
#include "guard/VerdictCache.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qirn {

class GuardService {
public:
    // Loads the signatures and opens the quarantine; throws qirn::Failure.
    // ownPid is the guard's process: its own accesses are allowed unjudged.
    GuardService(GuardSettings settings, std::int32_t ownPid, std::FILE* out, std::FILE* err);
    GuardService(const GuardService&) = delete;
    GuardService& operator=(const GuardService&) = delete;
    ~GuardService();

    // Sets the marks and starts answering; throws qirn::Failure.
    void Start();
    // Loads the signature files again on the calling thread while answers
    // go on; the new list replaces the old one only when it loaded.
    bool Reload();
    // Allows whatever still waits and stops.
    void Stop();

    const GuardCounts& Counts() const { return counts_; }
    // Whether events can no longer be read: nothing would answer them, so
    // the guard must stop (closing its group allows every waiting opener).
    bool Failed() const { return failed_.load(); }
    // Writes the counts to the status file, replacing it whole.
    void WriteStatus() const;

private:
    void ReadEvents(const std::stop_token& stop);
    void Work(const std::stop_token& stop);
    void Judged(PendingEvent& event, const Judgement& judgement);
    void AllowedUnjudged(const PendingEvent& event, std::string_view reason);
    void Write(const GuardRecord& record);
    std::shared_ptr<const SignatureList> Signatures() const;
    std::optional<std::string> Load(SignatureList& list) const;

    GuardSettings settings_;
    std::FILE* out_;
    std::FILE* err_;
    std::int32_t ownPid_;
    GuardCounts counts_;
    std::atomic<bool> failed_{false};
    VerdictCache cache_;
    mutable std::mutex signaturesMutex_;
    std::shared_ptr<const SignatureList> signatures_;
    std::mutex quarantineMutex_;
    std::optional<Quarantine> quarantine_;
    std::mutex outMutex_;
    std::unique_ptr<FanotifyGroup> group_;
    std::unique_ptr<PendingAnswers> pending_;
    std::vector<std::jthread> threads_;
};

}  // namespace qirn
