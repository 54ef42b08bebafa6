#pragma once

// What this process has used so far.
double CpuSeconds(); // user + system time of all its threads
long PeakMemoryKb(); // peak resident memory
