// tools/inspect/main.cpp — tarnhold-inspect COMMAND ARGS...: dispatches to one command.
#include "tools/inspect/dump.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

struct Command {
    const char* name;
    const char* usage;
    int (*run)(std::span<const std::string>, std::ostream&, std::ostream&);
};

constexpr Command kCommands[] = {
    {"model", "model [--weapon|--character] FILE.qc", inspect::ModelCommand},
    {"map", "map NAME [INSTALLDIR]", inspect::MapCommand},
    {"check", "check FILE.qc | MAPNAME [INSTALLDIR]", inspect::CheckCommand},
    {"nav", "nav NAME [INSTALLDIR] [--png FILE]", inspect::NavCommand},
};

int Usage(std::ostream& err) {
    err << "usage: tarnhold-inspect COMMAND ARGS...\ncommands:\n";
    for (const Command& c : kCommands)
        err << "  " << c.usage << "\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage(std::cerr);
    const std::string name = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    for (const Command& c : kCommands) {
        if (name == c.name) return c.run(args, std::cout, std::cerr);
    }
    std::cerr << "unknown command: " << name << "\n";
    return Usage(std::cerr);
}
