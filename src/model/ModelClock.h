#pragma once

#include <atomic>

namespace verticora {

// The model's two clocks: system uptime (monotonic seconds, read on both threads) and
// the wall clock (seconds since 1970) for calendar days.
class ModelClock {
public:
    virtual ~ModelClock() = default;
    [[nodiscard]] virtual double uptime() const = 0;
    [[nodiscard]] virtual double wallTime() const = 0;
};

class SystemClock final : public ModelClock {
public:
    [[nodiscard]] double uptime() const override;
    [[nodiscard]] double wallTime() const override;
};

// A clock that moves only when told to; safe to read from any thread.
class ManualClock final : public ModelClock {
public:
    // Starts at 2026-06-01 12:00 UTC unless told otherwise.
    explicit ManualClock(double uptime = 1000.0, double wallTime = 1'780'315'200.0);

    [[nodiscard]] double uptime() const override { return m_uptime.load(); }
    [[nodiscard]] double wallTime() const override { return m_wallTime.load(); }
    // Moves both clocks on by `seconds`.
    void advance(double seconds);

private:
    std::atomic<double> m_uptime;
    std::atomic<double> m_wallTime;
};

// Seconds of CPU time the calling thread has used.
[[nodiscard]] double threadCpuSeconds();

} // namespace verticora
