// The palette host: loads a component package and shows what it puts on a
// component palette, as `tamblor-palette [--bitmap FILE] PACKAGE.so`.
// PACKAGE.so is a file path; a bare name means the file in the current
// folder (the library search path is not consulted).
//
// Output (standard output), for each palette page in the order of its first
// registration:
//   Package <name>: <description>
//   Units: <unit>, <unit>, ...
//
//   Page "<page>"
//     <class> (unit <unit>; bitmap <NAME> <w> x <h>, <n> colours)
//       <property>: <type> = <value of a new instance>   (no "= ..." when empty)
//       ...                                              ("no published properties")
// A class's bitmap is the package resource named after the class in
// capitals ("no bitmap" when there is none). Property values come from an
// instance created without owner and destroyed again.
//
// --bitmap FILE writes the palette bitmap of the first class that has one as
// a BMP file (created or overwritten) and reports it on standard output.
//
// Exit codes: 0 done; 1 the package cannot be loaded, has no bitmap for
// --bitmap, or the file cannot be written (message on standard error);
// 2 wrong usage (usage text on standard error). --help prints the usage to
// standard output and exits with 0.
//
// Threads: the main thread.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace package {

class TLoadedPackage;

// Runs the host with the arguments that follow the program name.
int RunPaletteHost(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

// Writes the palette listing of a loaded package (the format above).
void PrintPalette(const TLoadedPackage& Package, std::ostream& Out);

}  // namespace package
