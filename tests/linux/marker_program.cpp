// A program for start tests: it leaves a file named after itself with ".ran" appended.
#include <fstream>
#include <string>

int main(int, char** argv) {
    std::ofstream(std::string(argv[0]) + ".ran") << "ran\n";
}
