// qarnctl: the command-line tool for a site's line of terminals.
#include <iostream>

#include "context.h"
#include "terminal_io.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments = qarnctl::Utf8Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments)
        pointers.push_back(argument.c_str());
    return qarnctl::RunQarnctl(static_cast<int>(pointers.size()), pointers.data(), std::cout,
                               std::cerr);
}
