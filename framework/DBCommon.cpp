// Dataset framework: errors, field type names, name comparison.
#include "framework/DBCommon.h"

#include <array>

void DatabaseError(const std::string& Message, TComponent* /*Component*/) {
    throw EDatabaseError(Message);
}

void DatabaseErrorFmt(std::string_view Fmt, std::initializer_list<TVarRec> Args, TComponent* Component) {
    DatabaseError(Format(Fmt, Args), Component);
}

namespace fw {

std::string FieldTypeName(TFieldType Type) {
    static const std::array<const char*, 36> Names = {
        "Unknown", "String",  "SmallInt", "Integer",    "Word",     "Boolean",     "Float",     "Currency",
        "BCD",     "Date",    "Time",     "DateTime",   "Bytes",    "VarBytes",    "AutoInc",   "Blob",
        "Memo",    "Graphic", "FmtMemo",  "ParadoxOle", "dBaseOle", "TypedBinary", "Cursor",    "FixedChar",
        "WideString", "LargeInt", "ADT", "Array", "Reference", "DataSet", "OraBlob", "OraClob",
        "Variant", "Interface", "IDispatch", "Guid"};
    const auto Index = static_cast<std::size_t>(Type);
    return Index < Names.size() ? Names[Index] : "Unknown";
}

namespace {

// Decodes one UTF-8 sequence at Pos (advancing it); an invalid byte decodes
// as itself with the high bit marking it, so that it only equals itself.
char32_t NextChar(std::string_view S, std::size_t& Pos) {
    const auto B0 = static_cast<unsigned char>(S[Pos]);
    auto Cont = [&](std::size_t I) -> int {
        if (Pos + I >= S.size()) return -1;
        const auto B = static_cast<unsigned char>(S[Pos + I]);
        return (B & 0xC0) == 0x80 ? (B & 0x3F) : -1;
    };
    if (B0 < 0x80) { ++Pos; return B0; }
    int Len = 0;
    char32_t C = 0;
    if ((B0 & 0xE0) == 0xC0) { Len = 2; C = B0 & 0x1F; }
    else if ((B0 & 0xF0) == 0xE0) { Len = 3; C = B0 & 0x0F; }
    else if ((B0 & 0xF8) == 0xF0) { Len = 4; C = B0 & 0x07; }
    if (Len == 0) { ++Pos; return 0x80000000u | B0; }
    for (int I = 1; I < Len; ++I) {
        const int V = Cont(static_cast<std::size_t>(I));
        if (V < 0) { ++Pos; return 0x80000000u | B0; }
        C = (C << 6) | static_cast<char32_t>(V);
    }
    Pos += static_cast<std::size_t>(Len);
    return C;
}

// Simple lower-case folding for the scripts that names use.
char32_t Fold(char32_t C) {
    if (C >= 'A' && C <= 'Z') return C + 32;
    if (C < 0x80) return C;
    if ((C >= 0xC0 && C <= 0xDE && C != 0xD7)) return C + 32;
    if (C >= 0x100 && C <= 0x137) return C | 1;            // pairs: even upper, odd lower
    if (C >= 0x139 && C <= 0x148) return (C & 1) ? C + 1 : C;  // odd upper, even lower
    if (C >= 0x14A && C <= 0x177) return C | 1;
    if (C == 0x178) return 0xFF;
    if (C >= 0x179 && C <= 0x17E) return (C & 1) ? C + 1 : C;
    if (C >= 0x391 && C <= 0x3AB && C != 0x3A2) return C + 32;  // Greek
    if (C >= 0x410 && C <= 0x42F) return C + 32;                // Cyrillic
    if (C >= 0x400 && C <= 0x40F) return C + 80;
    return C;
}

}  // namespace

bool SameName(std::string_view A, std::string_view B) {
    std::size_t I = 0, J = 0;
    while (I < A.size() && J < B.size()) {
        if (Fold(NextChar(A, I)) != Fold(NextChar(B, J))) return false;
    }
    return I == A.size() && J == B.size();
}

}  // namespace fw
