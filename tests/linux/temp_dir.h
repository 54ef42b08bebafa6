#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace larkmoor {

// A fresh folder for one test, removed with everything in it at the end.
struct TempDir {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("larkmoor-test-" + std::to_string(getpid()));
    TempDir() { std::filesystem::create_directories(path); }
    ~TempDir() { std::filesystem::remove_all(path); }
    // Writes `text` to the file `name` below the folder, making its folders; returns its path.
    std::string Put(const std::string& name, const std::string& text) const {
        std::filesystem::create_directories((path / name).parent_path());
        std::ofstream(path / name, std::ios::binary) << text;
        return (path / name).string();
    }
};

} // namespace larkmoor
