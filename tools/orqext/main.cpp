// orqext: the command-line tool over the ORQExtClient exports.
#include <iostream>

#include "tools/orqext/cli.h"

int main(int argc, char** argv) { return orqext::run_cli(argc, argv, std::cout, std::cerr); }
