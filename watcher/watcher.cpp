#include "watcher.h"

namespace larkmoor {

std::string WithMinuteFiftyFourThirty(std::string timeText) {
    return timeText.replace(3, 5, "54:30");
}

namespace {
// "a" and "b" on lines of their own, leaving out an empty one.
std::string Lines(const std::string& a, const std::string& b) {
    return a.empty() || b.empty() ? a + b : a + "\n" + b;
}

// Why no closure can be seen on this reading, and what to do; empty when one can.
std::string Unseeable(int status) {
    if (CanShowClosure(status))
        return "";
    return "The port reads " + Hex(status, 2) +
           ": with bit 7 set no closure can be seen. Nothing answers at this address (a port "
           "switched off in the firmware setup, or a card elsewhere), or pin 11 (BUSY) is "
           "grounded: check the port and leave pin 11 open.";
}

// The reading's note as part of a sentence: "reading parport0 at 0x378 through /dev/parport0".
std::string Clause(std::string note) {
    if (!note.empty() && note.back() == '.')
        note.pop_back();
    if (!note.empty() && note[0] >= 'A' && note[0] <= 'Z')
        note[0] = static_cast<char>(note[0] - 'A' + 'a');
    return note;
}

// One line: whether the next closure would set the clock, and a time service that may undo it.
// `closedSinceFound`: the contact has not been seen open since the port became readable.
std::string ReadinessLine(const PortReading& reading, const ClockReadiness& clock,
                          bool closedSinceFound) {
    const bool portReady = reading.status && CanShowClosure(*reading.status) && !closedSinceFound;
    const std::string port =
        !reading.status    ? "no port"
        : closedSinceFound ? "the contact has read closed since the port was found"
        : !portReady
            ? "the port reads " + Hex(*reading.status, 2) + ", on which no closure can be seen"
            : Clause(reading.note);
    const std::string right = !clock.checked          ? "checking whether it may set the clock"
                              : clock.missing.empty() ? "may set the clock"
                                                      : "may not set the clock";
    const char* state = !portReady || (clock.checked && !clock.missing.empty()) ? "Not Ready"
                        : clock.checked                                         ? "Ready"
                                                                                : "Checking";
    std::string line = std::string(state) + ": " + port + "; " + right + ".";
    if (!clock.timeService.empty())
        line += " " + clock.timeService + " and may move the clock back after a set.";
    return line;
}
} // namespace

// The outcome of the pending set, once it has come: true when it came on this pass.
bool ClosureWatcher::TakeOutcome(const std::string& portNote, const ClockReadiness& ready) {
    if (!setPending_)
        return false;
    const std::optional<ClockSet> set = clock_.Outcome();
    if (!set)
        return false;
    setPending_ = false;
    Record(*set, portNote, ready);
    return true;
}

void ClosureWatcher::Record(const ClockSet& set, const std::string& portNote,
                            const ClockReadiness& ready) {
    const std::string& to = set.timeText.empty() ? asked_ : set.timeText;
    using State = ClockSet::State;
    lastResult_ = set.state == State::kSet        ? "Time Set"
                  : set.state == State::kMaybeSet ? "Time Set?"
                                                  : "Time Not Set";
    lastNote_ = set.IsSet()
                    ? Lines("Clock set from " + from_ + " to " + to + ".",
                            set.note.empty() ? portNote : set.note)
                    : Lines(set.note, ready.missing); // with the cause the checks know, if any
}

void ClosureWatcher::Show(const std::string& note) {
    lblPort_.SetText(lastResult_);
    lblPort_.SetToolTip(note);
    lblPort_.SetVisible(true);
}

void ClosureWatcher::Timer1_Timer() {
    lblTime_.SetText(TimeText(clock_.Now()));

    const PortReading reading = port_.Inp(kStatusPort);
    const ClockReadiness ready = readiness_.Latest();
    const bool closedSinceFound = reading.status && IsClosed(*reading.status) && !seenOpen_;
    if (std::string line = ReadinessLine(reading, ready, closedSinceFound);
        line != readinessLine_) {
        readinessLine_ = std::move(line);
        lblTime_.SetToolTip(readinessLine_);
    }
    const bool outcomeCame = TakeOutcome(reading.note, ready);
    if (!reading.status) {
        // Nothing is known about the contact: the latch and the clock stay as they are.
        lblPort_.SetText("No Port");
        lblPort_.SetToolTip(Lines(reading.note, ready.missing));
        lblPort_.SetVisible(true);
        noPortShown_ = true;
        seenOpen_ = false;
        return;
    }
    const bool noPortWasShown = noPortShown_;
    noPortShown_ = false;

    if (!IsClosed(*reading.status)) {
        seenOpen_ = true;
        blnTimeSet = false;
        const std::string why = Lines(Unseeable(*reading.status), ready.missing);
        if (!why.empty()) {
            lblPort_.SetText(kNotReady);
            lblPort_.SetToolTip(Lines(why, reading.note));
        }
        lblPort_.SetVisible(!why.empty());
        return;
    }
    if (blnTimeSet) {
        // Still the same closure: show its outcome once it has come, and take back a "No Port"
        // shown while it was held.
        if (noPortWasShown || outcomeCame)
            Show(lastNote_);
        return;
    }
    if (!seenOpen_) {
        lblPort_.SetText(kNotReady);
        lblPort_.SetToolTip(Lines(Lines(ready.missing, kClosedSinceFound), reading.note));
        lblPort_.SetVisible(true);
        return;
    }

    blnTimeSet = true;
    if (setPending_) {
        Show("The clock helper still runs for the last closure: this one sets nothing more.");
        return;
    }
    // A fresh reading, so that the hour and date are those of this moment.
    const ClockReading now = clock_.Now();
    from_ = TimeText(now);
    asked_ = WithMinuteFiftyFourThirty(from_);
    const ClockSet set = clock_.SetTimeOfDay(now, asked_, reading.closedAtNs);
    setPending_ = set.state == ClockSet::State::kPending;
    if (setPending_) {
        lastResult_ = "";
        lastNote_ = "Setting the clock from " + from_ + " to " + asked_ + "...";
    } else {
        Record(set, reading.note, ready);
    }
    Show(lastNote_);
}

} // namespace larkmoor
