#pragma once

#include <cstdint>

#include <devicelink/export.hpp>

namespace torvik::devicelink {

/// Time as the session sees it: time stamps, the reboot's ping loop, polls of the sync buffer and the
/// bound on a wait for an answer. Tests pass a clock they advance themselves.
class TORVIK_API Clock {
public:
    virtual ~Clock() = default;
    /// Milliseconds of a monotonic counter.
    virtual std::uint64_t NowMs() = 0;
    /// Lets ms milliseconds pass.
    virtual void SleepMs(std::uint32_t ms) = 0;
};

/// The monotonic system clock.
class TORVIK_API SteadyClock final : public Clock {
public:
    std::uint64_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;
};

}  // namespace torvik::devicelink
