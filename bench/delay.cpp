#include "delay.h"

#include "mainwindow/mainwindow.h"
#include "usage.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread> // this_thread::sleep_for only
#include <vector>

namespace {

using namespace larkmoor;
using Steady = std::chrono::steady_clock;

struct AlwaysReady : Readiness {
    ClockReadiness Latest() override { return {true}; }
};

class ContactPort : public Port {
  public:
    std::atomic<int> status{127};
    PortReading Inp(std::uint16_t) override {
        return {static_cast<std::uint8_t>(status.load()), ""};
    }
};

// Reads the real time of day; records when a set has been done. The set itself goes to
// `setter`, a clock that cannot change this machine's time, or nowhere.
class RecordingClock : public Clock {
  public:
    RecordingClock(Clock& real, Clock* setter) : real_(real), setter_(setter) {}
    // Called at the start of every pass: the longest gap between passes is measured here.
    ClockReading Now() override {
        const auto now = Steady::now();
        if (last_ != Steady::time_point{})
            longestGap = std::max(longestGap, now - last_);
        last_ = now;
        return real_.Now();
    }
    // Runs on the window's thread; `sets` is read after the window system has returned.
    ClockSet SetTimeOfDay(const ClockReading& basis, std::string_view text,
                          std::optional<std::int64_t> closedAtNs) override {
        // A set the helper refused counts too: it refuses at the point where it would set.
        const auto start = Steady::now();
        const ClockSet set =
            setter_ ? setter_->SetTimeOfDay(basis, text, closedAtNs) : ClockSet{true, ""};
        sets.push_back(Steady::now());
        setMs.push_back(std::chrono::duration<double, std::milli>(sets.back() - start).count());
        return set;
    }
    std::vector<Steady::time_point> sets;
    std::vector<double> setMs; // how long each set took
    Steady::duration longestGap{};

  private:
    Clock& real_;
    Clock* setter_;
    Steady::time_point last_;
};

// A hidden window whose timer ends the program once the contact thread is done.
constexpr ui::TimerDecl kStopTimer[] = {{"tmrStop", 100, true}};
constexpr ui::FormDecl kStopper = {"frmStopper", "", 15, 15, 0, {}, {}, kStopTimer};

class Stopper : public ui::FormEvents {
  public:
    Stopper(ui::WindowSystem& windows, std::atomic<bool>& done)
        : windows_(windows), done_(done), window_(windows.Create(kStopper, *this)) {}
    void Timer(std::string_view) override {
        if (done_)
            windows_.End();
    }

  private:
    ui::WindowSystem& windows_;
    std::atomic<bool>& done_;
    std::unique_ptr<ui::Window> window_;
};

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * (values.size() - 1) + 0.5)];
}

} // namespace

int RunDelayBench(ui::WindowSystem& windows, int closures, int idleSeconds, Clock* setter) {
    ContactPort port;
    auto realClock = MakeSystemClock();
    RecordingClock clock(*realClock, setter);
    std::atomic<bool> done{false};
    std::vector<Steady::time_point> closed;
    double idleCpu = 0;

    const auto joinContact = StartThread([&] {
        std::mt19937 random(12345);
        auto ms = [&](int low, int high) {
            return std::chrono::milliseconds(std::uniform_int_distribution(low, high)(random));
        };
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        for (int i = 0; i < closures; ++i) {
            // Open, then closed, each for more than one tick, so that every change is seen;
            // the closure starts at a random moment of the tick.
            std::this_thread::sleep_for(ms(70, 150));
            closed.push_back(Steady::now());
            port.status = 119;
            std::this_thread::sleep_for(ms(70, 150));
            port.status = 127;
        }
        const double before = CpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        idleCpu = CpuSeconds() - before;
        done = true;
    });

    AlwaysReady readiness;
    MnuMenu mnuMenu(windows, port, clock, readiness, {});
    Stopper stopper(windows, done);
    mnuMenu.Show();
    windows.Run();
    joinContact();

    // Each closure's delay is that of the first set after it and before the next closure.
    std::vector<double> delays;
    for (std::size_t i = 0; i < closed.size(); ++i) {
        const auto end = i + 1 < closed.size() ? closed[i + 1] : Steady::time_point::max();
        const auto set = std::lower_bound(clock.sets.begin(), clock.sets.end(), closed[i]);
        if (set != clock.sets.end() && *set < end)
            delays.push_back(std::chrono::duration<double, std::milli>(*set - closed[i]).count());
    }
    std::printf("closures %d\nacted_on %zu\nsets %zu\n", closures, delays.size(),
                clock.sets.size());
    if (!delays.empty())
        std::printf("delay_median_ms %.1f\ndelay_p99_ms %.1f\ndelay_max_ms %.1f\n",
                    Percentile(delays, 0.5), Percentile(delays, 0.99),
                    *std::max_element(delays.begin(), delays.end()));
    if (!clock.setMs.empty())
        std::printf("set_median_ms %.2f\nset_p99_ms %.2f\nset_max_ms %.2f\n",
                    Percentile(clock.setMs, 0.5), Percentile(clock.setMs, 0.99),
                    *std::max_element(clock.setMs.begin(), clock.setMs.end()));
    std::printf("longest_gap_ms %.1f\n",
                std::chrono::duration<double, std::milli>(clock.longestGap).count());
    std::printf("idle_cpu_percent %.3f\npeak_memory_kb %ld\n", 100.0 * idleCpu / idleSeconds,
                PeakMemoryKb());
    return delays.size() == static_cast<std::size_t>(closures) && clock.sets.size() == delays.size()
               ? 0
               : 1;
}
