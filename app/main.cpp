#include "editor/commands.h"

int main(int argc, char** argv) { RunMainProgram(argc, argv); }
