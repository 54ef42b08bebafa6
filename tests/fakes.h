#pragma once

// Test stand-ins for the machine: a port, a clock and labels.

#include "platform/clock.h"
#include "platform/port.h"
#include "platform/programs.h"
#include "platform/registry.h"
#include "platform/ui.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace larkmoor::fakes {

class FakePort : public Port {
  public:
    std::optional<std::uint8_t> status = 127; // nothing: unreadable
    std::string note = "port note";
    std::vector<std::uint16_t> addresses;
    PortReading Inp(std::uint16_t address) override {
        addresses.push_back(address);
        return {status, note};
    }
};

class FakeClock : public Clock {
  public:
    ClockReading now{};
    bool refuse = false;
    std::string note; // what a set says
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
    ClockSet SetTimeOfDay(const ClockReading& basis, std::string_view text) override {
        sets.push_back({basis, std::string(text)});
        return {!refuse, note};
    }
    void SetNow(int h, int m, int s) { now = {0, h, m, s, 0}; }
};

class FakeControl : public ui::Control {
  public:
    std::string text, toolTip;
    bool visible = true;
    void SetText(std::string_view t) override { text = t; }
    std::string Text() const override { return text; }
    void SetVisible(bool v) override { visible = v; }
    bool Visible() const override { return visible; }
    void SetToolTip(std::string_view t) override { toolTip = t; }
    std::string ToolTip() const override { return toolTip; }
};

// A registry of (key, value) -> (type, bytes).
class FakeRegistry : public Registry {
  public:
    struct Value {
        std::uint32_t type;
        std::string data;
    };
    std::map<std::pair<std::string, std::string>, Value> values;

    void Put(const std::string& key, const std::string& name, std::uint32_t type,
             const std::string& data) {
        values[{key, name}] = {type, data};
    }
    long OpenKey(RegistryKey root, const std::string& subKey, std::uint32_t,
                 RegistryKey& key) override {
        for (const auto& [id, value] : values) {
            if (root == kHkeyLocalMachine && id.first == subKey) {
                keys_.push_back(subKey);
                key = keys_.size(); // 1-based handle
                return kErrorSuccess;
            }
        }
        return kErrorFileNotFound;
    }
    long QueryValue(RegistryKey key, const std::string& name, std::uint32_t& type,
                    unsigned char* data, std::uint32_t& size) override {
        const auto it = values.find({keys_.at(key - 1), name});
        if (it == values.end())
            return kErrorFileNotFound;
        if (it->second.data.size() > size)
            return kErrorMoreData;
        std::memcpy(data, it->second.data.data(), it->second.data.size());
        type = it->second.type;
        size = static_cast<std::uint32_t>(it->second.data.size());
        return kErrorSuccess;
    }
    long CloseKey(RegistryKey) override { return kErrorSuccess; }
    std::string ExpandEnvironment(const std::string& text) override {
        return text.starts_with("%SystemRoot%") ? "C:\\Windows" + text.substr(12) : text;
    }

  private:
    std::vector<std::string> keys_;
};

class FakePrograms : public Programs {
  public:
    std::vector<std::string> files; // normal files that exist
    std::vector<std::string> startable;
    std::vector<std::string> lookedUp, started;

    bool NormalFileExists(const std::string& path) override {
        lookedUp.push_back(path);
        return std::find(files.begin(), files.end(), path) != files.end();
    }
    bool Start(const std::string& path) override {
        started.push_back(path);
        return std::find(startable.begin(), startable.end(), path) != startable.end();
    }
};

} // namespace larkmoor::fakes
