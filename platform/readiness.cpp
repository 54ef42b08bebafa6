// The readiness checks on the worker every platform shares (built into each platform's library,
// beside its worker primitives).
#include "platform/readiness.h"

#include "platform/worker.h"

namespace larkmoor {

namespace {
class BackgroundReadiness : public Readiness {
  public:
    BackgroundReadiness(std::function<ClockReadiness()> check, int periodMs)
        : worker_(std::move(check), [periodMs](const ClockReadiness&) { return periodMs; }) {}
    ClockReadiness Latest() override { return worker_.Latest(); }

  private:
    Worker<ClockReadiness> worker_;
};
} // namespace

std::unique_ptr<Readiness> MakeBackgroundReadiness(std::function<ClockReadiness()> check,
                                                   int periodMs) {
    return std::make_unique<BackgroundReadiness>(std::move(check), periodMs);
}

} // namespace larkmoor
