#pragma once

#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace larkmoor {

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

// True once `done()` is, within two seconds.
template <typename Predicate> bool WaitFor(Predicate done) {
    for (int i = 0; i < 400 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

} // namespace larkmoor
