// Unit CmdLine: switches and plain parameters of the program's command line.
//
// Parameters are numbered from 1 (0 is the program's own path). A parameter
// is a switch when its first character is a switch character: '-' here
// ('-' and '/' on Windows, where '/' cannot begin an absolute path), so an
// absolute path such as /data/BANK.dat is a plain parameter. Switch names
// match on a prefix ("RO" matches -RO, -ro and -ROX) and, without
// soCaseSensitive, ignoring the letter case of 'a'..'z' only.
//
// SwitchIndex is the index of the parameter that FindSwitch examined last:
// 0 before the first search, the found parameter after a hit, the number of
// parameters plus 1 after a miss; soNext continues after it.
//
// The parameters are those that browser::SetParams was given (main passes
// argc/argv; tests pass their own lists).
//
// Ownership: values only. Threads: the GUI thread only (SwitchIndex and the
// parameter list are unguarded program-wide state).
#pragma once

#include "framework/DBCommon.h"

#include <string>
#include <vector>

enum TSwitchOption {
    soCaseSensitive,  // 1: compare names as they stand
    soUpperValue,     // 2: GetSwitchValue returns the value in upper case
    soLowerValue,     // 4: ... in lower case (when soUpperValue is absent)
    soNext,           // 8: continue after SwitchIndex
    soKeepCase        // 16: the value as it stands, whatever else is given
};
using TSwitchOptions = fw::TSet<TSwitchOption>;

extern int SwitchIndex;

// With a non-empty Name: true when a switch whose text after the switch
// character begins with Name is found; with an empty Name: true when a plain
// parameter is found. Moves SwitchIndex.
bool FindSwitch(const std::string& Name, TSwitchOptions Options);

// FindSwitch with the same arguments; on a hit Value := the parameter less
// its switch character and Name (case changed as the options say) and true;
// on a miss false with Value unchanged.
bool GetSwitchValue(const std::string& Name, TSwitchOptions Options, std::string& Value);

namespace browser {

// The parameters: Args[0] is the program's path, the rest are parameters 1..n.
void SetParams(std::vector<std::string> Args);
void SetParams(int Argc, char** Argv);
int ParamCount();
// Parameter Index (0 .. ParamCount()); "" outside that range.
std::string ParamStr(int Index);
// True when Param begins with a switch character.
bool IsSwitch(const std::string& Param);

}  // namespace browser
