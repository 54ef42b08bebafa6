#pragma once

// What the Linux suites share: a text search and a folder of the test's own.

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace larkmoor {

inline bool Has(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// A fresh folder for one test, removed with everything in it at the end.
struct TempDir {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("larkmoor-test-" + std::to_string(getpid()));
    ~TempDir() { std::filesystem::remove_all(path); }
    // Writes the file `name` below the folder, making its folders; returns its path.
    std::string Put(const std::string& name, const std::string& text, bool program = false) const {
        std::filesystem::create_directories((path / name).parent_path());
        std::ofstream(path / name, std::ios::binary) << text;
        std::filesystem::permissions(path / name, std::filesystem::perms(program ? 0700 : 0600));
        return (path / name).string();
    }
};

} // namespace larkmoor
