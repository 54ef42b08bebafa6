#pragma once

#include <memory>
#include <string>

namespace larkmoor {

// Files and programs, for starting a tool by its path.
class Programs {
  public:
    virtual ~Programs() = default;
    // True when a normal file (not a folder, not hidden, not a system file) is at `path`.
    virtual bool NormalFileExists(const std::string& path) = 0;
    // Starts the program at `path` as that one file, in a normal window with the focus,
    // without waiting for it. False when it cannot be started.
    virtual bool Start(const std::string& path) = 0;
};

std::unique_ptr<Programs> MakeSystemPrograms();

} // namespace larkmoor
