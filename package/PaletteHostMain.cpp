// tamblor-palette: lists what a component package puts on the palette.
#include <iostream>

#include "package/PaletteHost.h"

int main(int argc, char** argv) {
    std::vector<std::string> Args(argv + 1, argv + argc);
    const int Code = package::RunPaletteHost(Args, std::cout, std::cerr);
    std::cout.flush();
    return Code;
}
