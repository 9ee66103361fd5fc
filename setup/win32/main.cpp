// Process entry of setup (a windowed program without a window of its own).
#include "win32.h"

#include "../setup.h"

int main(int argc, char** argv) { return RunSetup(argc, argv, GetCommandLineA()); }
