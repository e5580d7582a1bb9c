#include "tools/kelvane/HostProgram.h"

int main(int argc, char** argv) { return RunHostProgram(argc, argv); }
