#pragma once

namespace qirn {

// Lets the window's pending events run from inside long work.
class EventPump {
public:
    virtual ~EventPump() = default;
    // Runs pending events once, then returns.
    virtual void ProcessEvents() = 0;
};

}  // namespace qirn
