// A program for the start and setup tests: it writes the command line it was given into "ran" in
// its current directory; given a file, it instead holds that file open, shared for reading only,
// until it is ended.
#include <windows.h>

#include <fstream>

int main(int argc, char** argv) {
    if (argc > 1 && CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr) != INVALID_HANDLE_VALUE)
        Sleep(INFINITE);
    std::ofstream("ran") << GetCommandLineA();
}
