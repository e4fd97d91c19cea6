// Text services of the engine, built on ICU: the MONEYKEY collation that
// orders string keys, Unicode case mapping, and UTF-8/UTF-16 conversion.
//
// Collator: the ICU collator of a table's locale ("" = root) at secondary
// strength: letter case is ignored, accents are not. Version() identifies the
// collation rules; a table stores it and is re-indexed when it differs.
// RegisterMoneyKey installs the collation "MONEYKEY" on a connection; the
// collator must outlive the connection's use of it.
//
// Ownership: Collator owns its ICU collator. Threads: a Collator belongs to
// one thread (the one of the table that owns it); the free functions are
// reentrant.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct sqlite3;
struct UCollator;

namespace engine {

class Collator {
public:
    // Throws EngineError when ICU has no collator for the locale.
    explicit Collator(const std::string& locale);
    ~Collator();
    Collator(const Collator&) = delete;
    Collator& operator=(const Collator&) = delete;

    // <0, 0, >0 as a sorts before, equal to or after b (both UTF-8).
    int Compare(std::string_view a, std::string_view b) const;
    // "icu-<ICU collation version>-<locale>-secondary".
    const std::string& Version() const { return FVersion; }
    // False when ICU knows nothing of the locale and fell back to the root
    // rules (a well-formed but unknown id such as "xx").
    bool Known() const { return FKnown; }

private:
    UCollator* FCollator = nullptr;
    std::string FVersion;
    bool FKnown = true;
};

// Registers the collation MONEYKEY (backed by collator) on db.
void RegisterMoneyKey(sqlite3* db, Collator* collator);

std::u16string Utf8ToUtf16(std::string_view s);
// Utf8ToUtf16 into out (replacing its contents, reusing its capacity).
void Utf8ToUtf16Into(std::string_view s, std::u16string& out);
std::string Utf16ToUtf8(std::u16string_view s);
// Number of UTF-8 bytes the text needs.
std::size_t Utf8Size(std::u16string_view s);

// Full Unicode case mappings (root locale rules).
std::u16string UnicodeUpper(std::u16string_view s);
std::u16string UnicodeLower(std::u16string_view s);
// Case folding for case-insensitive name look-up, UTF-8 in and out.
std::string FoldCase(std::string_view s);

// The key form of a text: upper case, cut or blank-padded to `length`
// characters (code points); no cut or padding when length <= 0.
std::u16string MakeKeyText(std::u16string_view text, int length);

}  // namespace engine
