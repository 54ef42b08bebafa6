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

void ClosureWatcher::Timer1_Timer() {
    lblTime_.SetText(TimeText(clock_.Now()));

    const PortReading reading = port_.Inp(kStatusPort);
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
        // Still the same closure; only take back a "No Port" shown while it was held.
        if (noPortWasShown) {
            lblPort_.SetText(lastResult_);
            lblPort_.SetToolTip(lastNote_);
        }
        return;
    }
    if (!seenOpen_) {
        lblPort_.SetText("");
        lblPort_.SetToolTip(Lines(kWaitingForOpen, reading.note));
        lblPort_.SetVisible(true);
        return;
    }

    // A fresh reading, so that the hour and date are those of this moment.
    const ClockReading now = clock_.Now();
    const std::string from = TimeText(now);
    const std::string asked = WithMinuteFiftyFourThirty(from);
    const ClockSet set = clock_.SetTimeOfDay(now, asked);
    const std::string& to = set.timeText.empty() ? asked : set.timeText;
    lastResult_ = set.ok ? "Time Set" : "Time Not Set";
    lastNote_ = set.ok ? Lines("Clock set from " + from + " to " + to + ".",
                               set.note.empty() ? reading.note : set.note)
                       : set.note;
    lblPort_.SetText(lastResult_);
    lblPort_.SetToolTip(lastNote_);
    lblPort_.SetVisible(true);
    blnTimeSet = true;
}

} // namespace larkmoor
