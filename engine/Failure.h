#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace qirn {

// Every engine failure carries a number and a description. File-system
// failures carry the errno value; the engine's own numbers lie above errno's range.
class Failure : public std::runtime_error {
public:
    Failure(int number, const std::string& description) : std::runtime_error(description), number_(number) { }

    // "context: " and the system's text for err
    static Failure FromErrno(int err, std::string_view context);

    int number() const noexcept { return number_; }
    const char* description() const noexcept { return what(); }

private:
    int number_;
};

// The system's text for an errno value. Unlike std::strerror, safe to call
// from several threads at once.
std::string ErrorText(int err);

enum FailureNumber : int {
    kNoSignatureLine = 1001,
    kMissingSeparator = 1002,
    kNotRegularFile = 1003,
    kTooManySignatures = 1004,
    kNotEnoughMemory = 1005,
    kFolderReplaced = 1006,
    kNoUserDataFolder = 1007,
};

}  // namespace qirn
