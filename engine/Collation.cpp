#include "engine/Collation.h"

#include "engine/Errors.h"
#include "rtl/SysUtils.h"

#include <sqlite3.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <cstdio>
#include <cstring>

namespace engine {

Collator::Collator(const std::string& locale) {
    UErrorCode status = U_ZERO_ERROR;
    FCollator = ucol_open(locale.empty() ? "" : locale.c_str(), &status);
    if (U_FAILURE(status) || !FCollator)
        throw EngineError("No collation is available for locale '" + locale + "': " + u_errorName(status));
    ucol_setStrength(FCollator, UCOL_SECONDARY);
    UErrorCode st2 = U_ZERO_ERROR;
    const char* valid = ucol_getLocaleByType(FCollator, ULOC_VALID_LOCALE, &st2);
    FKnown = locale.empty() || locale == "root" || (U_SUCCESS(st2) && valid && std::string(valid) != "root");
    UVersionInfo v;
    ucol_getVersion(FCollator, v);
    char buf[64];
    std::snprintf(buf, sizeof buf, "icu-%u.%u.%u.%u-", v[0], v[1], v[2], v[3]);
    FVersion = std::string(buf) + (locale.empty() ? "root" : locale) + "-secondary";
}

Collator::~Collator() {
    if (FCollator) ucol_close(FCollator);
}

int Collator::Compare(std::string_view a, std::string_view b) const {
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r = ucol_strcollUTF8(FCollator, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                                static_cast<int32_t>(b.size()), &status);
    if (U_FAILURE(status)) {
        // Invalid UTF-8 never enters the store; fall back to byte order.
        const int c = a.compare(b);
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

namespace {
int MoneyKeyCompare(void* arg, int n1, const void* s1, int n2, const void* s2) {
    // Equal bytes are equal keys, without asking ICU: index builds and
    // seeks compare many keys with themselves (a column of few values).
    if (n1 == n2 && std::memcmp(s1, s2, static_cast<std::size_t>(n1)) == 0) return 0;
    const auto* c = static_cast<const Collator*>(arg);
    return c->Compare(std::string_view(static_cast<const char*>(s1), static_cast<std::size_t>(n1)),
                      std::string_view(static_cast<const char*>(s2), static_cast<std::size_t>(n2)));
}
}  // namespace

void RegisterMoneyKey(sqlite3* db, Collator* collator) {
    sqlite3_create_collation_v2(db, "MONEYKEY", SQLITE_UTF8, collator, MoneyKeyCompare, nullptr);
}

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    Utf8ToUtf16Into(s, out);
    return out;
}

void Utf8ToUtf16Into(std::string_view s, std::u16string& out) {
    if (rtl::TryUtf8ToWideInto(s, out)) return;
    // Not well-formed (a damaged file): ICU substitutes U+FFFD.
    out.resize(s.size());  // never more UTF-16 units than UTF-8 bytes
    if (s.empty()) return;
    int32_t n = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &n, s.data(),
                         static_cast<int32_t>(s.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) n = 0;
    out.resize(static_cast<std::size_t>(n));
}

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;  // a lone surrogate
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::size_t Utf8Size(std::u16string_view s) { return Utf16ToUtf8(s).size(); }

namespace {
template <class F>
std::u16string MapCase(std::u16string_view s, F f) {
    if (s.empty()) return {};
    std::u16string out(s.size() + 8, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = f(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                  reinterpret_cast<const UChar*>(s.data()), static_cast<int32_t>(s.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.assign(static_cast<std::size_t>(n), u'\0');
        status = U_ZERO_ERROR;
        n = f(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
              reinterpret_cast<const UChar*>(s.data()), static_cast<int32_t>(s.size()), &status);
    }
    if (U_FAILURE(status)) return std::u16string(s);
    out.resize(static_cast<std::size_t>(n));
    return out;
}
}  // namespace

std::u16string UnicodeUpper(std::u16string_view s) {
    return MapCase(s, [](UChar* d, int32_t dn, const UChar* src, int32_t sn, UErrorCode* st) {
        return u_strToUpper(d, dn, src, sn, "", st);
    });
}

std::u16string UnicodeLower(std::u16string_view s) {
    return MapCase(s, [](UChar* d, int32_t dn, const UChar* src, int32_t sn, UErrorCode* st) {
        return u_strToLower(d, dn, src, sn, "", st);
    });
}

std::string FoldCase(std::string_view s) {
    const std::u16string w = Utf8ToUtf16(s);
    return Utf16ToUtf8(MapCase(w, [](UChar* d, int32_t dn, const UChar* src, int32_t sn, UErrorCode* st) {
        return u_strFoldCase(d, dn, src, sn, U_FOLD_CASE_DEFAULT, st);
    }));
}

std::u16string MakeKeyText(std::u16string_view text, int length) {
    std::u16string up = UnicodeUpper(text);
    if (length <= 0) return up;
    // Walk `length` code points.
    std::size_t i = 0;
    int count = 0;
    while (i < up.size() && count < length) {
        if (U16_IS_LEAD(up[i]) && i + 1 < up.size() && U16_IS_TRAIL(up[i + 1])) i += 2;
        else i += 1;
        ++count;
    }
    up.resize(i);
    up.append(static_cast<std::size_t>(length - count), u' ');
    return up;
}

}  // namespace engine
