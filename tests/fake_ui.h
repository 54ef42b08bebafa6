#pragma once

// A window system in memory: windows made from their declarations, events fired by the test.

#include "fakes.h"

#include <map>

namespace larkmoor::fakes {

struct FakeWindow : ui::Window {
    ui::Control& Find(std::string_view name) override { return controls[std::string(name)]; }
    void SetCaption(std::string_view text) override { caption = text; }
    std::string Caption() const override { return caption; }
    void Show() override { ++shows; }
    void Close() override { open = false; }
    bool IsOpen() const override { return open; }

    std::map<std::string, FakeControl> controls;
    std::string caption;
    int shows = 0;
    bool open = true;
};

struct FakeWindowSystem : ui::WindowSystem {
    struct Message {
        ui::Window* owner;
        std::string text, caption;
    };
    std::vector<FakeWindow*> created;
    std::vector<Message> messages;

    std::unique_ptr<ui::Window> Create(const ui::FormDecl&, ui::FormEvents&) override {
        created.push_back(new FakeWindow);
        return std::unique_ptr<ui::Window>(created.back());
    }
    void ShowMessage(ui::Window* owner, std::string_view text, std::string_view caption) override {
        messages.push_back({owner, std::string(text), std::string(caption)});
    }
    int Run() override { return 0; }
    void End() override {}
};

} // namespace larkmoor::fakes
