#include "guard/GuardCommand.h"

#include "engine/Failure.h"
#include "guard/GuardRecord.h"
#include "guard/GuardService.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace qirn {

namespace {

constexpr const char* kUsage = "usage: qirn-guard [--config FILE] [--status]\n";

int ShowStatus(const GuardSettings& settings, std::FILE* out, std::FILE* err)
{
    std::ifstream in(settings.statusFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::optional<std::uint64_t> pid = GuardStatusValue(text.str(), "pid");
    if (!in || !pid) {
        std::fprintf(err, "qirn-guard: not running (no status in %s)\n", settings.statusFile.c_str());
        return 3;
    }
    const bool running = ::kill(static_cast<pid_t>(*pid), 0) == 0 || errno == EPERM;
    std::fprintf(out, "running %s\n%s", running ? "yes" : "no", text.str().c_str());
    return running ? 0 : 3;
}

// Every event holds a descriptor until it is answered.
void RaiseFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int Serve(const GuardSettings& settings, std::FILE* out, std::FILE* err)
{
    // Blocked before any thread starts, so only the wait below takes them.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int number : {SIGHUP, SIGTERM, SIGINT})
        sigaddset(&signals, number);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    RaiseFileLimit();
    try {
        GuardService service(settings, static_cast<std::int32_t>(::getpid()), out, err);
        service.Start();
        std::fprintf(err, "qirn-guard: on duty, %llu signatures\n",
            static_cast<unsigned long long>(service.Counts().signatures.load()));
        service.WriteStatus();
        for (;;) {
            const timespec second{1, 0};
            const int number = sigtimedwait(&signals, nullptr, &second);
            if (number == SIGHUP)
                service.Reload();
            else if (number == SIGTERM || number == SIGINT || service.Failed())
                break;
            service.WriteStatus();
        }
        service.Stop();
        service.WriteStatus();
        if (service.Failed())
            return 1;
    } catch (const Failure& failure) {
        std::fprintf(err, "qirn-guard: %s\n", failure.what());
        return 2;
    }
    return 0;
}

}  // namespace

int RunGuardCommand(std::span<const std::string> args, std::FILE* out, std::FILE* err)
{
    std::string config(kGuardSettingsFile);
    bool status = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--config" && i + 1 < args.size()) {
            config = args[++i];
        } else if (args[i] == "--status") {
            status = true;
        } else if (args[i] == "--help") {
            std::fputs(kUsage, out);
            return 0;
        } else {
            std::fputs(kUsage, err);
            return 2;
        }
    }
    GuardSettings settings;
    if (std::optional<std::string> error = LoadGuardSettings(config, settings)) {
        std::fprintf(err, "qirn-guard: %s\n", error->c_str());
        return 2;
    }
    return status ? ShowStatus(settings, out, err) : Serve(settings, out, err);
}

}  // namespace qirn
