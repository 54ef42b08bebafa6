#pragma once

// A window system in memory: windows made from their declarations, events fired by the test.

#include "fakes.h"
#include "platform/ui.h"

#include <map>
#include <vector>

namespace larkmoor::fakes {

struct FakeWindow : ui::Window {
    FakeWindow(const ui::FormDecl& form, ui::FormEvents& events) : events(events) {
        for (const auto& c : form.controls)
            controls[std::string(c.name)].text = c.text;
    }
    ui::Control& Find(std::string_view name) override { return controls.at(std::string(name)); }
    void SetCaption(std::string_view text) override { caption = text; }
    std::string Caption() const override { return caption; }
    void Show() override { ++shows; }
    void Close() override {
        if (!open)
            return;
        open = false;
        events.Unload();
    }
    bool IsOpen() const override { return open; }

    ui::FormEvents& events;
    std::map<std::string, FakeControl> controls;
    std::string caption;
    int shows = 0;
    bool open = true;
};

struct FakeWindowSystem : ui::WindowSystem {
    std::unique_ptr<ui::Window> Create(const ui::FormDecl& form, ui::FormEvents& events) override {
        auto window = std::make_unique<FakeWindow>(form, events);
        created.push_back(window.get());
        return window;
    }
    void ShowMessage(ui::Window* owner, std::string_view text, std::string_view caption) override {
        messages.push_back({owner, std::string(text), std::string(caption)});
    }
    int Run() override { return 0; }
    void End() override {}

    struct Message {
        ui::Window* owner;
        std::string text, caption;
    };
    std::vector<FakeWindow*> created;
    std::vector<Message> messages;
};

} // namespace larkmoor::fakes
