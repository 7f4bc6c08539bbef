// The program's entry point.
#include "winmain.h"

int main(int argc, char** argv) { return RunProgram(argc, argv); }
