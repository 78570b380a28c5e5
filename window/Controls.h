#pragma once

// The small display elements the engine writes to: a caption, something that
// can be switched on and off, and a control that holds a number.

#include <string_view>

namespace qirn {

// The progress bars run from 0 to kProgressFull: the first half as a command
// begins, the second as it ends.
inline constexpr int kProgressHalf = 500;
inline constexpr int kProgressFull = 1000;

// A label or anything else that shows one text.
class Caption {
public:
    virtual ~Caption() = default;
    virtual void SetCaption(std::string_view text) = 0;
};

// Anything that can be enabled and disabled: buttons, labels, timers.
class Switch {
public:
    virtual ~Switch() = default;
    virtual void SetEnabled(bool enabled) = 0;
};

// A value control: the three-state check box (0, 1, 2) or a progress bar.
class ValueControl {
public:
    virtual ~ValueControl() = default;
    virtual void SetValue(int value) = 0;
};

}  // namespace qirn
