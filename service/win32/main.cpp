// Process entry of the service program.
#include "../commands.h"

int main(int argc, char** argv) { return RunEntry(argc, argv); }
