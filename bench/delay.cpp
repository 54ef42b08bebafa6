#include "delay.h"

#include "mainwindow/mainwindow.h"
#include "usage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <thread> // this_thread::sleep_for only

namespace {

using namespace larkmoor;
using Steady = std::chrono::steady_clock;

struct AlwaysReady : Readiness {
    ClockReadiness Latest() override { return {true}; }
};

// The platform's clock, counting the sets asked of it and the longest gap between two passes.
class CountingClock : public Clock {
  public:
    explicit CountingClock(Clock& inner) : inner_(inner) {}
    // Called at the start of every pass.
    ClockReading Now() override {
        const auto now = Steady::now();
        if (last_ != Steady::time_point{})
            longestGap = std::max(longestGap, now - last_);
        last_ = now;
        return inner_.Now();
    }
    ClockSet SetTimeOfDay(const ClockReading& basis, std::string_view text,
                          std::optional<std::int64_t> closedAtNs) override {
        ++asked;
        return inner_.SetTimeOfDay(basis, text, closedAtNs);
    }
    std::optional<ClockSet> Outcome() override { return inner_.Outcome(); }
    int asked = 0;
    Steady::duration longestGap{};

  private:
    Clock& inner_;
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

void PrintSpread(const char* name, const std::vector<double>& values) {
    if (!values.empty())
        std::printf("%s_median_ms %.2f\n%s_p99_ms %.2f\n%s_max_ms %.2f\n", name,
                    Percentile(values, 0.5), name, Percentile(values, 0.99), name,
                    *std::max_element(values.begin(), values.end()));
}

// One closure of the stand-in contact: when it closed, and minute 54, second 30 of its hour.
struct Closure {
    std::int64_t atNs;
    std::int64_t targetUtcNs;
};

// The CPU share used over the next `seconds`.
double CpuPercent(int seconds) {
    const double before = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 100.0 * (CpuSeconds() - before) / seconds;
}

} // namespace

int RunDelayBench(BenchTarget& target, Contact& contact, int closures, int idleSeconds) {
    CountingClock clock(target.clock);
    const auto wallClock = MakeSystemClock(); // the contact thread's own
    std::atomic<bool> done{false};
    std::vector<Closure> closed;
    double idleCpu = 0, fastCpu = 0;
    const int fastSeconds = std::max(5, idleSeconds / 4);

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
            const ClockReading now = wallClock->Now();
            closed.push_back(
                {target.monotonicNs(), *TargetUtcNs(now, TimeText({0, now.hour, 54, 30}))});
            contact.status = 119;
            std::this_thread::sleep_for(ms(70, 150));
            contact.status = 127;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1)); // the last set's outcome
        fastCpu = CpuPercent(fastSeconds);
        contact.nearClosure = false;
        idleCpu = CpuPercent(idleSeconds);
        done = true;
    });

    AlwaysReady readiness;
    MnuMenu mnuMenu(target.windows, target.port, clock, readiness, {});
    Stopper stopper(target.windows, done);
    mnuMenu.Show();
    target.windows.Run();
    joinContact();

    // Each closure's set is the first after it and before the next closure.
    const std::vector<RecordedSet> sets = target.sets();
    std::vector<double> delays, errors;
    for (std::size_t i = 0; i < closed.size(); ++i) {
        const std::int64_t end =
            i + 1 < closed.size() ? closed[i + 1].atNs : std::numeric_limits<std::int64_t>::max();
        const auto set = std::find_if(sets.begin(), sets.end(), [&](const RecordedSet& s) {
            return s.atNs >= closed[i].atNs && s.atNs < end;
        });
        if (set == sets.end())
            continue;
        const std::int64_t since = set->atNs - closed[i].atNs;
        delays.push_back(since / 1e6);
        errors.push_back(std::llabs(set->setUtcNs - (closed[i].targetUtcNs + since)) / 1e6);
    }
    std::printf("closures %d\nacted_on %zu\nsets %zu\nsets_asked %d\n", closures, delays.size(),
                sets.size(), clock.asked);
    PrintSpread("delay", delays);
    PrintSpread("error", errors);
    std::printf("longest_gap_ms %.1f\n",
                std::chrono::duration<double, std::milli>(clock.longestGap).count());
    std::printf("idle_cpu_percent %.3f\nfast_cpu_percent %.3f\nhourly_cpu_percent %.3f\n", idleCpu,
                fastCpu, (58 * idleCpu + 2 * fastCpu) / 60);
    std::printf("peak_memory_kb %ld\n", PeakMemoryKb());
    const auto all = static_cast<std::size_t>(closures);
    return delays.size() == all && sets.size() == all && clock.asked == closures ? 0 : 1;
}
