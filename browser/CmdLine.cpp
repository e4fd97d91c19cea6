#include "browser/CmdLine.h"

#include <cstring>

int SwitchIndex = 0;

namespace browser {

namespace {

std::vector<std::string>& Params() {
    static std::vector<std::string> List;
    return List;
}

#ifdef _WIN32
constexpr const char* SwitchChars = "-/";
#else
constexpr const char* SwitchChars = "-";
#endif

// Plain ASCII upper and lower case: only 'a'..'z' and 'A'..'Z' change.
std::string AsciiUpper(std::string S) {
    for (char& C : S)
        if (C >= 'a' && C <= 'z') C = static_cast<char>(C - 'a' + 'A');
    return S;
}

std::string AsciiLower(std::string S) {
    for (char& C : S)
        if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
    return S;
}

}  // namespace

void SetParams(std::vector<std::string> Args) {
    Params() = std::move(Args);
}

void SetParams(int Argc, char** Argv) {
    std::vector<std::string> Args;
    for (int I = 0; I < Argc; ++I) Args.emplace_back(Argv[I] != nullptr ? Argv[I] : "");
    SetParams(std::move(Args));
}

int ParamCount() {
    return Params().empty() ? 0 : static_cast<int>(Params().size()) - 1;
}

std::string ParamStr(int Index) {
    if (Index < 0 || Index >= static_cast<int>(Params().size())) return {};
    return Params()[static_cast<std::size_t>(Index)];
}

bool IsSwitch(const std::string& Param) {
    return !Param.empty() && std::strchr(SwitchChars, Param[0]) != nullptr;
}

}  // namespace browser

bool FindSwitch(const std::string& Name, TSwitchOptions Options) {
    using namespace browser;
    if (Options.Contains(soNext))
        ++SwitchIndex;
    else
        SwitchIndex = 1;
    const bool CaseSensitive = Options.Contains(soCaseSensitive);
    const std::string Wanted = CaseSensitive ? Name : AsciiUpper(Name);
    while (SwitchIndex <= ParamCount()) {
        const std::string P = ParamStr(SwitchIndex);
        bool Hit;
        if (IsSwitch(P)) {
            if (Wanted.empty()) {
                Hit = false;
            } else {
                std::string Part = P.substr(1, Wanted.size());
                if (!CaseSensitive) Part = AsciiUpper(Part);
                Hit = Part == Wanted;
            }
        } else {
            Hit = Wanted.empty();
        }
        if (Hit) return true;
        ++SwitchIndex;
    }
    return false;
}

bool GetSwitchValue(const std::string& Name, TSwitchOptions Options, std::string& Value) {
    using namespace browser;
    if (!FindSwitch(Name, Options)) return false;
    std::string Result = ParamStr(SwitchIndex);
    if (!Name.empty()) Result.erase(0, std::min(Result.size(), Name.size() + 1));
    if (!Options.Contains(soKeepCase)) {
        if (Options.Contains(soUpperValue))
            Result = AsciiUpper(Result);
        else if (Options.Contains(soLowerValue))
            Result = AsciiLower(Result);
    }
    Value = std::move(Result);
    return true;
}
