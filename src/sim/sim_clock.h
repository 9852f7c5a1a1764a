#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace zuvo::sim {

// Milliseconds since the simulated box was created. Virtual in unit tests (advanced by hand),
// real in the programs.
class IClock {
  public:
    virtual ~IClock() = default;
    virtual int64_t NowMs() const = 0;
    // The real moment this clock reads ms, for a thread that sleeps until then.
    virtual std::chrono::steady_clock::time_point RealTimeOfMs(int64_t ms) const = 0;
};

class SteadyClock final : public IClock {
  public:
    SteadyClock() : start_(std::chrono::steady_clock::now()) {}
    int64_t NowMs() const override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }
    std::chrono::steady_clock::time_point RealTimeOfMs(int64_t ms) const override {
        return start_ + std::chrono::milliseconds(ms);
    }

  private:
    std::chrono::steady_clock::time_point start_;
};

// Atomic because a test moves it while the simulator's reader threads look at it.
class VirtualClock final : public IClock {
  public:
    int64_t NowMs() const override { return now_.load(); }
    // Virtual time moves only by hand; a sleeper waits the difference in real time.
    std::chrono::steady_clock::time_point RealTimeOfMs(int64_t ms) const override {
        return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms - now_.load());
    }
    void Advance(int64_t ms) { now_ += ms; }
    void Set(int64_t ms) { now_ = ms; }

  private:
    std::atomic<int64_t> now_{0};
};

}  // namespace zuvo::sim
