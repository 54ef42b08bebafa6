#pragma once

#include "platform/clock.h"
#include "platform/port.h"
#include "platform/readiness.h"
#include "platform/ui.h"

#include <string>

namespace larkmoor {

// The port label's tooltip while the contact has read closed ever since the port was found.
inline constexpr const char* kClosedSinceFound =
    "The contact has read closed ever since the port was found, so no closure counts until it has "
    "been seen open. If the relay is not holding it closed, check the wiring to pins 15 and 18 and "
    "the port's driver: a port that always reads closed never sets the clock.";

// The port label's text while the next closure would not be seen or would not set the clock.
inline constexpr const char* kNotReady = "Not Ready";

// One pass per timer tick: shows the time, reads the contact on pin 15 and, on the first pass
// of each closure, sets the clock to hh:54:30 of the current hour plus the time since the
// closure (its instant, as the port marked it). With the contact open, the port label stays
// shown as "Not Ready" while a closure could not be seen or could not set the clock, as it does
// while the contact has read closed ever since the port was found; the time label's tooltip
// always says which.
class ClosureWatcher {
  public:
    ClosureWatcher(Port& port, Clock& clock, Readiness& readiness, ui::Control& lblTime,
                   ui::Control& lblPort)
        : port_(port), clock_(clock), readiness_(readiness), lblTime_(lblTime), lblPort_(lblPort) {}

    void Timer1_Timer();

    // True once a closure has been acted on, until the contact is seen open again.
    bool blnTimeSet = false;

  private:
    bool TakeOutcome(const std::string& portNote, const ClockReadiness& ready);
    void Record(const ClockSet& set, const std::string& portNote, const ClockReadiness& ready);
    void Show(const std::string& note);

    Port& port_;
    Clock& clock_;
    Readiness& readiness_;
    ui::Control& lblTime_;
    ui::Control& lblPort_;
    bool noPortShown_ = false;
    // Whether the contact has been read open since the port became readable. A closure counts
    // only then: a port that starts or comes back reading "closed" (held contact, dead driver,
    // removed card) sets nothing until the contact opens.
    bool seenOpen_ = false;
    const char* lastResult_ = "";
    std::string lastNote_; // the tooltip that went with lastResult_
    std::string readinessLine_;
    // A set whose outcome the clock has yet to give, and the times it was asked for with. No
    // other set starts meanwhile: a closure then is latched, and sets nothing of its own.
    bool setPending_ = false;
    std::string from_, asked_;
};

// A reading with bit 7 set is open whatever pin 15 does: no closure can be seen on it.
constexpr bool CanShowClosure(int status) {
    return (status & 0x80) == 0;
}

// The time text with its minutes and seconds replaced by "54:30".
std::string WithMinuteFiftyFourThirty(std::string timeText);

} // namespace larkmoor
