// Entry of the `tamblor` command-line tool: registers the engine (the
// composition root's job) and runs the command line.
#include "engine/Engine.h"
#include "tools/Commands.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // The standard streams carry whole files (import -, export): no
    // character-by-character synchronisation with C stdio.
    std::ios::sync_with_stdio(false);
    engine::RegisterEngineServer();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int code = tools::RunTool(args, std::cout, std::cerr);
    std::cout.flush();
    return code;
}
