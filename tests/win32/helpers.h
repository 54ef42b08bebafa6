#pragma once

// What the Windows suites share: the fakes, a folder of their own for the test helpers
// (CMakeLists.txt), and waiting for what another thread or process does.

#include "fakes.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace larkmoor {

// A fresh folder with a space in its name, gone with what it holds when the test ends.
struct Folder {
    explicit Folder(const char* name = "Larkmoor Test")
        : path((std::filesystem::temp_directory_path() / name).string()) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directory(path);
    }
    ~Folder() {
        SetCurrentDirectoryA(TEST_HELPERS); // a current directory cannot be removed
        std::filesystem::remove_all(path);
    }
    // Copies `helper` of the test helpers (or the file at that full path) into `into` as `as`.
    std::string Place(const char* helper, const char* as, const std::string& into = "") {
        const auto copy = std::filesystem::path(into.empty() ? path : into) / as;
        EXPECT_TRUE(std::filesystem::copy_file(std::filesystem::path(TEST_HELPERS) / helper, copy));
        return copy.string();
    }
    const std::string path;
};

// Asks `done` every 10 ms until it holds, for about `ms` milliseconds at most (longer on a busy
// machine): whether it came to hold.
template <typename Done> bool Within(int ms, Done done) {
    for (int waited = 0; !done(); waited += 10) {
        if (waited >= ms)
            return false;
        Sleep(10);
    }
    return true;
}

} // namespace larkmoor
