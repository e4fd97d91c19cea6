// A comma-decimal locale for the tests that show that the machine forms
// (engine values, filter expressions, the tool's CSV) do not follow the
// process locale, while the user-facing texts do.
//
// CommaDecimalLocale puts the process under de_DE.UTF-8 the way a Qt program
// runs: the C library's locale (setlocale), the C++ global locale, the LC_ALL
// environment variable (inherited by programs the test starts) and
// FormatSettings read from it. Its destructor restores all four.
//
// A test enters it with ENTER_COMMA_DECIMAL_LOCALE(name): when the locale is
// not installed the test fails if the environment variable CI is "true"
// (scripts/setup generates it there) and is skipped otherwise.
//
// Ownership: values. Threads: the test's thread, with no other thread running
// (locale and environment are process-wide).
#pragma once

#include "rtl/SysUtils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <locale>
#include <optional>
#include <string>

namespace testkit {

inline constexpr const char* kCommaLocale = "de_DE.UTF-8";

class CommaDecimalLocale {
public:
    CommaDecimalLocale() : FSettings(FormatSettings), FGlobal(std::locale()) {
        if (const char* Old = std::getenv("LC_ALL")) FEnv = Old;
        if (const char* Old = std::setlocale(LC_ALL, nullptr)) FCLocale = Old;
        if (!std::setlocale(LC_ALL, kCommaLocale)) return;
        try {
            std::locale::global(std::locale(kCommaLocale));
        } catch (const std::runtime_error&) {
            std::setlocale(LC_ALL, FCLocale.c_str());
            return;
        }
        setenv("LC_ALL", kCommaLocale, 1);
        FormatSettings = TFormatSettings::Create();
        FActive = true;
    }
    ~CommaDecimalLocale() {
        if (!FActive) return;
        FormatSettings = FSettings;
        std::locale::global(FGlobal);
        std::setlocale(LC_ALL, FCLocale.c_str());
        if (FEnv)
            setenv("LC_ALL", FEnv->c_str(), 1);
        else
            unsetenv("LC_ALL");
    }
    CommaDecimalLocale(const CommaDecimalLocale&) = delete;
    CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

    bool Active() const { return FActive; }

    // True where the locale must be there (scripts/setup generates it in CI).
    static bool Required() {
        const char* Ci = std::getenv("CI");
        return Ci && std::string(Ci) == "true";
    }

private:
    TFormatSettings FSettings;
    std::locale FGlobal;
    std::optional<std::string> FEnv;
    std::string FCLocale = "C";
    bool FActive = false;
};

}  // namespace testkit

#define ENTER_COMMA_DECIMAL_LOCALE(name)                                                                   \
    testkit::CommaDecimalLocale name;                                                                      \
    if (!name.Active()) {                                                                                  \
        if (testkit::CommaDecimalLocale::Required()) FAIL() << "locale " << testkit::kCommaLocale << " is missing (scripts/setup generates it)"; \
        GTEST_SKIP() << "locale " << testkit::kCommaLocale << " is not installed";                        \
    }
