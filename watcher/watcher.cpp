#include "watcher.h"

namespace larkmoor {

std::string WithMinuteFiftyFourThirty(std::string timeText) {
    return timeText.replace(3, 5, "54:30");
}

void ClosureWatcher::Timer1_Timer() {
    lblTime_.SetText(TimeText(clock_.Now()));

    const auto status = port_.Inp(kStatusPort);
    if (!status) {
        // Nothing is known about the contact: the latch and the clock stay as they are.
        lblPort_.SetText("No Port");
        lblPort_.SetVisible(true);
        noPortShown_ = true;
        return;
    }
    const bool noPortWasShown = noPortShown_;
    noPortShown_ = false;

    if (!IsClosed(*status)) {
        blnTimeSet = false;
        lblPort_.SetVisible(false);
        return;
    }
    if (blnTimeSet) {
        // Still the same closure; only take back a "No Port" shown while it was held.
        if (noPortWasShown)
            lblPort_.SetText(lastResult_);
        return;
    }

    // A fresh reading, so that the hour and date are those of this moment.
    const ClockReading now = clock_.Now();
    const bool set = clock_.SetTimeOfDay(now, WithMinuteFiftyFourThirty(TimeText(now)));
    lastResult_ = set ? "Time Set" : "Time Not Set";
    lblPort_.SetText(lastResult_);
    lblPort_.SetVisible(true);
    blnTimeSet = true;
}

} // namespace larkmoor
