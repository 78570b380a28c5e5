#pragma once

#include <cstdint>
#include <string>

namespace qirn {

class Clock {
public:
    virtual ~Clock() = default;
    // The local date and time as seconds; only differences and the time of day are used.
    virtual std::int64_t LocalSeconds() = 0;
    // The local date and time in the platform's default text form.
    virtual std::string DateTimeText() = 0;
};

// "HH:MM:SS" of a number of seconds; whole days are dropped.
std::string ClockText(std::int64_t seconds);

}  // namespace qirn
