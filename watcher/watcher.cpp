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
} // namespace

// The outcome of the pending set, once it has come: true when it came on this pass.
bool ClosureWatcher::TakeOutcome(const std::string& portNote) {
    if (!setPending_)
        return false;
    const std::optional<ClockSet> set = clock_.Outcome();
    if (!set)
        return false;
    setPending_ = false;
    Record(*set, portNote);
    return true;
}

void ClosureWatcher::Record(const ClockSet& set, const std::string& portNote) {
    const std::string& to = set.timeText.empty() ? asked_ : set.timeText;
    lastResult_ = set.ok ? "Time Set" : "Time Not Set";
    lastNote_ = set.ok ? Lines("Clock set from " + from_ + " to " + to + ".",
                               set.note.empty() ? portNote : set.note)
                       : set.note;
}

void ClosureWatcher::Show(const std::string& note) {
    lblPort_.SetText(lastResult_);
    lblPort_.SetToolTip(note);
    lblPort_.SetVisible(true);
}

void ClosureWatcher::Timer1_Timer() {
    lblTime_.SetText(TimeText(clock_.Now()));

    const PortReading reading = port_.Inp(kStatusPort);
    const bool outcomeCame = TakeOutcome(reading.note);
    if (!reading.status) {
        // Nothing is known about the contact: the latch and the clock stay as they are.
        lblPort_.SetText("No Port");
        lblPort_.SetToolTip(reading.note);
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
        lblPort_.SetVisible(false);
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
        lblPort_.SetText("");
        lblPort_.SetToolTip(Lines(kWaitingForOpen, reading.note));
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
    const ClockSet set = clock_.SetTimeOfDay(now, asked_);
    setPending_ = set.pending;
    if (setPending_) {
        lastResult_ = "";
        lastNote_ = "Setting the clock from " + from_ + " to " + asked_ + "...";
    } else {
        Record(set, reading.note);
    }
    Show(lastNote_);
}

} // namespace larkmoor
