#pragma once

// Test stand-ins for the machine: a port, a clock and labels.

#include "platform/clock.h"
#include "platform/port.h"
#include "platform/programs.h"
#include "platform/readiness.h"
#include "platform/registry.h"
#include "platform/ui.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace larkmoor::fakes {

struct FakePort : Port {
    std::optional<std::uint8_t> status = 127; // nothing: unreadable
    std::string note = "port note";
    std::uint16_t address = 0; // the last one read
    std::optional<std::int64_t> closedAt;
    PortReading Inp(std::uint16_t at) override {
        address = at;
        return {status, note, closedAt};
    }
};

struct FakeClock : Clock {
    ClockReading now{};
    bool refuse = false, maybe = false; // a refusal after which the clock may have been set
    std::string note;                   // what a set says
    int reads = 0;
    std::vector<std::string> sets;                     // the times of day asked for
    std::vector<std::optional<std::int64_t>> closures; // and the closures' instants

    ClockReading Now() override {
        ++reads;
        return now;
    }
    ClockSet SetTimeOfDay(const ClockReading&, std::string_view text,
                          std::optional<std::int64_t> closedAtNs) override {
        sets.emplace_back(text);
        closures.push_back(closedAtNs);
        return !refuse ? ClockSet::Set({}, note)
               : maybe ? ClockSet::MaybeSet(note)
                       : ClockSet::NotSet(note);
    }
};

struct FakeReadiness : Readiness {
    ClockReadiness latest{true};
    ClockReadiness Latest() override { return latest; }
};

struct FakeControl : ui::Control {
    std::string text, toolTip;
    bool visible = true;
    void SetText(std::string_view t) override { text = t; }
    std::string Text() const override { return text; }
    void SetVisible(bool v) override { visible = v; }
    bool Visible() const override { return visible; }
    void SetToolTip(std::string_view t) override { toolTip = t; }
    std::string ToolTip() const override { return toolTip; }
};

// A registry of keys below HKEY_LOCAL_MACHINE with values of (type, bytes); a key's handle
// is the address of its values.
struct FakeRegistry : Registry {
    using Values = std::map<std::string, std::pair<std::uint32_t, std::string>>;
    std::map<std::string, Values> keys;

    void Put(const std::string& key, const std::string& name, std::uint32_t type,
             const std::string& data) {
        keys[key][name] = {type, data};
    }
    long OpenKey(RegistryKey root, const std::string& subKey, std::uint32_t,
                 RegistryKey& key) override {
        const auto it = keys.find(subKey);
        if (root != kHkeyLocalMachine || it == keys.end())
            return kErrorFileNotFound;
        key = reinterpret_cast<RegistryKey>(&it->second);
        return kErrorSuccess;
    }
    long QueryValue(RegistryKey key, const std::string& name, std::uint32_t& type,
                    unsigned char* data, std::uint32_t& size) override {
        const Values& values = *reinterpret_cast<const Values*>(key);
        const auto it = values.find(name);
        if (it == values.end())
            return kErrorFileNotFound;
        if (it->second.second.size() > size)
            return kErrorMoreData;
        type = it->second.first;
        size =
            static_cast<std::uint32_t>(it->second.second.copy(reinterpret_cast<char*>(data), size));
        return kErrorSuccess;
    }
    long CloseKey(RegistryKey) override { return kErrorSuccess; }
    std::string ExpandEnvironment(const std::string& text) override {
        return text.starts_with("%SystemRoot%") ? "C:\\Windows" + text.substr(12) : text;
    }
};

struct FakePrograms : Programs {
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

// A window system for tests that never look at a window.
struct FakeWindowSystem : ui::WindowSystem {
    std::unique_ptr<ui::Window> Create(const ui::FormDecl&, ui::FormEvents&) override {
        return nullptr;
    }
    void ShowMessage(ui::Window*, std::string_view, std::string_view) override {}
    int Run() override { return 0; }
    void End() override {}
};

} // namespace larkmoor::fakes
