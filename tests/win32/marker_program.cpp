// A program for the start test: it writes the command line it was given into "ran" in its
// current directory.
#include <windows.h>

#include <fstream>

int main() {
    std::ofstream("ran") << GetCommandLineA();
}
