#pragma once

#include "platform/clock.h"
#include "platform/port.h"
#include "platform/ui.h"

#include <string>

namespace larkmoor {

// One pass per timer tick: shows the time, reads the contact on pin 15 and, on the first pass
// of each closure, sets the clock to hh:54:30 of the current hour.
class ClosureWatcher {
  public:
    ClosureWatcher(Port& port, Clock& clock, ui::Control& lblTime, ui::Control& lblPort)
        : port_(port), clock_(clock), lblTime_(lblTime), lblPort_(lblPort) {}

    void Timer1_Timer();

    // True once a closure has been acted on, until the contact is seen open again.
    bool blnTimeSet = false;

  private:
    Port& port_;
    Clock& clock_;
    ui::Control& lblTime_;
    ui::Control& lblPort_;
    bool noPortShown_ = false;
    const char* lastResult_ = "";
    std::string lastNote_; // the tooltip that went with lastResult_
};

// 127 minus the status byte; the contact is closed when this reaches 8 (pin 15 grounded
// clears status bit 3).
constexpr int ClosureMeasure(int status) {
    return 127 - status;
}
constexpr bool IsClosed(int status) {
    return ClosureMeasure(status) >= 8;
}

// The time text with its minutes and seconds replaced by "54:30".
std::string WithMinuteFiftyFourThirty(std::string timeText);

} // namespace larkmoor
