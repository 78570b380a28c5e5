#pragma once

// The window's stop request: "Stop" sets it, each scan clears it first, and
// the walk sees it through the token it was given.

#include <cstdint>
#include <stop_token>

namespace mdlFindFiles {

namespace detail {
inline std::int16_t stopScan = 0;
inline std::stop_source stopSource;
}  // namespace detail

// -1 asks a running walk to stop; 0 lets it run. Read-only here: written
// only by RequestStop and ClearStop.
inline const std::int16_t& StopScan = detail::stopScan;

// Asks a running walk to return before its next file.
inline void RequestStop()
{
    detail::stopScan = -1;
    detail::stopSource.request_stop();
}

// Lets the next walk run; every scan starts with it.
inline void ClearStop()
{
    detail::stopScan = 0;
    if (detail::stopSource.stop_requested())
        detail::stopSource = std::stop_source();
}

// What the walk of the next scan is given.
inline std::stop_token StopToken()
{
    return detail::stopSource.get_token();
}

}  // namespace mdlFindFiles
