// Unit AuxStr: trimming and padding with blanks.
//
// A blank is the character 32 only (never a tab or another control
// character). Lengths count bytes of the UTF-8 text, as std::string does:
// PadLeft(S, N) is exactly N bytes long, so a right-aligned comparison of two
// texts of equal byte length (the browser's search) compares their endings.
//
// Ownership: values only. Threads: reentrant.
#pragma once

#include <string>

// S without its leading blanks.
std::string LTrim(std::string S);
// S without its trailing blanks.
std::string RTrim(std::string S);
// LTrim(RTrim(S)).
std::string LRTrim(std::string S);
// N blanks; "" for N <= 0.
std::string Spaces(int N);
// S right-aligned in N bytes: its last N bytes when S is at least N long,
// otherwise N - length blanks followed by S; "" for N <= 0.
std::string PadLeft(std::string S, int N);
