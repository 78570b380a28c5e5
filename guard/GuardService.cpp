#include "guard/GuardService.h"

#include "cache/DigestCache.h"
#include "cli/SignatureSources.h"
#include "engine/Failure.h"
#include "engine/platform/Platform.h"

#include <exception>
#include <filesystem>
#include <fstream>

namespace qirn {

namespace {

// Kept digests: enough for every program and library of a system.
constexpr std::size_t kCachedFiles = 200'000;
constexpr int kReadWaitMs = 100;

}  // namespace

GuardService::GuardService(GuardSettings settings, std::int32_t ownPid, std::FILE* out, std::FILE* err)
    : settings_(std::move(settings)),
      out_(out),
      err_(err),
      ownPid_(ownPid),
      cache_(settings_.settleNs ? *settings_.settleNs : DirtyPageLifetimeNs(), kCachedFiles)
{
    auto list = std::make_shared<SignatureList>();
    if (std::optional<std::string> error = Load(*list))
        throw Failure(kNoSignatureLine, *error);
    counts_.signatures = list->Count();
    signatures_ = std::move(list);
    if (settings_.quarantine)
        quarantine_.emplace(settings_.quarantine);
}

GuardService::~GuardService()
{
    Stop();
}

std::optional<std::string> GuardService::Load(SignatureList& list) const
{
    return LoadSignatureSources(list, settings_.signatureFiles, err_);
}

void GuardService::Start()
{
    group_ = std::make_unique<FanotifyGroup>();
    for (const GuardMark& mark : settings_.marks)
        group_->Mark(mark, settings_.openEvents);
    pending_ = std::make_unique<PendingAnswers>(
        *group_, settings_.deadline, [this](const PendingEvent& event) { AllowedUnjudged(event, "deadline"); });
    threads_.emplace_back([this](const std::stop_token& stop) { pending_->RunDeadlines(stop); });
    for (unsigned i = 0; i < settings_.workers; ++i)
        threads_.emplace_back([this](const std::stop_token& stop) { Work(stop); });
    threads_.emplace_back([this](const std::stop_token& stop) { ReadEvents(stop); });
}

void GuardService::Stop()
{
    for (std::jthread& thread : threads_)
        thread.request_stop();
    threads_.clear();
    if (pending_)
        pending_->AllowAll();
    pending_.reset();
    group_.reset();
}

bool GuardService::Reload()
{
    auto list = std::make_shared<SignatureList>();
    if (std::optional<std::string> error = Load(*list)) {
        std::fprintf(err_, "qirn-guard: signatures not reloaded, the old ones stay: %s\n", error->c_str());
        return false;
    }
    counts_.signatures = list->Count();
    ++counts_.reloads;
    const std::lock_guard lock(signaturesMutex_);
    signatures_ = std::move(list);
    return true;
}

std::shared_ptr<const SignatureList> GuardService::Signatures() const
{
    const std::lock_guard lock(signaturesMutex_);
    return signatures_;
}

void GuardService::ReadEvents(const std::stop_token& stop)
{
    // Events allowed for want of a worker are told at most once a second.
    std::uint64_t busyTold = 0;
    GuardClock::time_point busyToldAt;
    while (!stop.stop_requested()) {
        std::vector<FanotifyEvent> events;
        try {
            events = group_->Read(kReadWaitMs);
        } catch (const Failure& failure) {
            std::fprintf(err_, "qirn-guard: %s\n", failure.what());
            failed_ = true;
            return;
        }
        for (const FanotifyEvent& event : events) {
            if (event.overflow) {
                ++counts_.overflows;
                std::fprintf(err_, "qirn-guard: the event queue overflowed; events were lost\n");
                continue;
            }
            if (event.fd < 0)
                continue;
            ++counts_.events;
            // The guard's own reads (signatures, quarantine) wait for nobody.
            if (event.pid == ownPid_) {
                ++counts_.ownEvents;
                ++counts_.allowed;
                group_->Answer(event.fd, true);
                group_->Close(event.fd);
                continue;
            }
            if (!pending_->Add(event.fd, event.pid, event.mask)) {
                ++counts_.busy;
                ++counts_.allowed;
            }
        }
        const std::uint64_t busy = counts_.busy.load();
        if (busy != busyTold && GuardClock::now() - busyToldAt >= std::chrono::seconds(1)) {
            std::fprintf(err_, "qirn-guard: %llu events allowed unjudged: more than %zu waited for a worker\n",
                static_cast<unsigned long long>(busy - busyTold), kMostWaiting);
            busyTold = busy;
            busyToldAt = GuardClock::now();
        }
    }
}

void GuardService::Work(const std::stop_token& stop)
{
    FileJudge judge(settings_.sizeLimit, cache_);
    while (std::shared_ptr<PendingEvent> event = pending_->Take(stop)) {
        try {
            const std::shared_ptr<const SignatureList> signatures = Signatures();
            Judged(*event, judge.Judge(event->fd, *signatures));
        } catch (const std::exception& error) {
            // Out of memory, most likely: the opener is let go, not held.
            if (pending_->Answer(*event, true))
                ++counts_.allowed;
            ++counts_.unreadable;
            std::fprintf(err_, "qirn-guard: %s\n", error.what());
        }
    }
}

void GuardService::Judged(PendingEvent& event, const Judgement& judgement)
{
    switch (judgement.kind) {
    case Judgement::Kind::Clean:
    case Judgement::Kind::Listed:
        ++(judgement.cached ? counts_.cached : counts_.read);
        break;
    case Judgement::Kind::TooLarge:
        ++counts_.tooLarge;
        break;
    case Judgement::Kind::NotRegular:
        ++counts_.notRegular;
        break;
    case Judgement::Kind::Unreadable:
        ++counts_.unreadable;
        break;
    }
    const bool deny = judgement.kind == Judgement::Kind::Listed;
    // Answered by the deadline meanwhile: that answer stands and was recorded.
    if (!pending_->Answer(event, !deny))
        return;
    ++(deny ? counts_.denied : counts_.allowed);
    if (!deny)
        return;
    const std::string path = DescriptorPath(event.fd);
    const std::string executable = ProcessExecutable(event.pid);
    GuardRecord record;
    record.time = std::chrono::system_clock::now();
    record.denied = true;
    record.reason = "listed";
    record.path = path;
    record.pid = event.pid;
    record.executable = executable;
    record.digests = &judgement.digests;
    record.signatures = judgement.signatures;
    if (!quarantine_) {
        Write(record);
        return;
    }
    // Moved once answered: the opener need not wait for the copy.
    const std::vector<std::string_view> names(judgement.signatures.begin(), judgement.signatures.end());
    const std::lock_guard lock(quarantineMutex_);
    const QuarantineNote note = quarantine_->Take({path, judgement.stamp.identity, judgement.digests.md5, names});
    if (note.done)
        record.quarantineEntry = note.entry;
    else
        record.quarantineError = note.reason;
    Write(record);
}

void GuardService::AllowedUnjudged(const PendingEvent& event, std::string_view reason)
{
    ++counts_.deadline;
    ++counts_.allowed;
    const std::string path = DescriptorPath(event.fd);
    const std::string executable = ProcessExecutable(event.pid);
    GuardRecord record;
    record.time = std::chrono::system_clock::now();
    record.reason = reason;
    record.path = path;
    record.pid = event.pid;
    record.executable = executable;
    Write(record);
}

void GuardService::Write(const GuardRecord& record)
{
    const std::string line = GuardRecordLine(record);
    const std::lock_guard lock(outMutex_);
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}

void GuardService::WriteStatus() const
{
    const std::filesystem::path file(settings_.statusFile);
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    const std::filesystem::path temporary = file.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << GuardStatusText(counts_, ownPid_);
        if (!out.flush())
            return;
    }
    std::filesystem::rename(temporary, file, error);
}

}  // namespace qirn
