// qarnctl: the command-line tool for a site's line of terminals.
#include <iostream>

#include "context.h"

int main(int argc, char** argv) {
    return qarnctl::RunQarnctl(argc, argv, std::cout, std::cerr);
}
