// Prints what the program's port reads at the status register.
#include "platform/port.h"

#include <cstdio>

int main() {
    const auto status = larkmoor::MakeSystemPort()->Inp(larkmoor::kStatusPort).status;
    if (status)
        std::printf("status %d\n", *status);
    else
        std::printf("no port\n");
}
