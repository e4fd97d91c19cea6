#include "browser/AuxStr.h"

std::string LTrim(std::string S) {
    const std::size_t First = S.find_first_not_of(' ');
    if (First == std::string::npos) return {};
    S.erase(0, First);
    return S;
}

std::string RTrim(std::string S) {
    const std::size_t Last = S.find_last_not_of(' ');
    if (Last == std::string::npos) return {};
    S.erase(Last + 1);
    return S;
}

std::string LRTrim(std::string S) {
    return LTrim(RTrim(std::move(S)));
}

std::string Spaces(int N) {
    if (N <= 0) return {};
    return std::string(static_cast<std::size_t>(N), ' ');
}

std::string PadLeft(std::string S, int N) {
    if (N <= 0) return {};
    const auto Width = static_cast<std::size_t>(N);
    if (S.size() >= Width) return S.substr(S.size() - Width);
    return Spaces(static_cast<int>(Width - S.size())) + S;
}
