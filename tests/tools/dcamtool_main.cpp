#include "tests/tools/dcamtool.h"

int main(int argc, char** argv) { return DCAMToolRun(argc, argv, stdout); }
