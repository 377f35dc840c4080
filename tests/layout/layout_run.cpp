// The record layouts as a C++ program sees them (record_layout.h).
#include "tests/layout/record_layout.h"

int main(int argc, char** argv) { return orq_layout_run("C++", argc, argv); }
