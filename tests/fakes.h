#pragma once

// Test stand-ins for the machine: a port, a clock and labels.

#include "platform/clock.h"
#include "platform/port.h"
#include "platform/ui.h"

#include <optional>
#include <string>
#include <vector>

namespace larkmoor::fakes {

class FakePort : public Port {
  public:
    std::optional<std::uint8_t> status = 127; // nothing: unreadable
    std::vector<std::uint16_t> addresses;
    std::optional<std::uint8_t> Inp(std::uint16_t address) override {
        addresses.push_back(address);
        return status;
    }
};

class FakeClock : public Clock {
  public:
    ClockReading now{};
    bool refuse = false;
    int reads = 0;
    struct Set {
        ClockReading basis;
        std::string text;
    };
    std::vector<Set> sets;

    ClockReading Now() override {
        ++reads;
        return now;
    }
    bool SetTimeOfDay(const ClockReading& basis, std::string_view text) override {
        sets.push_back({basis, std::string(text)});
        return !refuse;
    }
    void SetNow(int h, int m, int s) { now = {0, h, m, s, 0}; }
};

class FakeControl : public ui::Control {
  public:
    std::string text;
    bool visible = true;
    void SetText(std::string_view t) override { text = t; }
    std::string Text() const override { return text; }
    void SetVisible(bool v) override { visible = v; }
    bool Visible() const override { return visible; }
};

} // namespace larkmoor::fakes
