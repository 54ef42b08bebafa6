// A program for start tests: it writes the command line it was given into a file named after
// itself with ".ran" appended.
#include <windows.h>

#include <fstream>
#include <string>

int main() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::ofstream(std::string(path) + ".ran") << GetCommandLineA();
}
