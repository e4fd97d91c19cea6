#include "tools/Sample.h"

#include "tools/Args.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <filesystem>

namespace tools {

using engine::Value;

std::uint64_t SampleRandom::Next() {
    std::uint64_t z = (FState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

namespace {

constexpr std::int64_t kFirstDay = 42005;  // 1 Jan 2015 as days since 30 Dec 1899
constexpr std::int64_t kDays = 3653;       // ten years

template <std::size_t N>
const char* Pick(SampleRandom& r, const char* const (&list)[N]) {
    return list[r.Below(N)];
}

std::string Guid(SampleRandom& r) {
    static const char hex[] = "0123456789ABCDEF";
    std::uint64_t a = r.Next(), b = r.Next();
    a = (a & ~0xF000ull) | 0x4000ull;                          // version 4
    b = (b & ~(0xC000ull << 48)) | (0x8000ull << 48);          // variant 10
    std::string digits;
    for (int i = 15; i >= 0; --i) digits.push_back(hex[(a >> (i * 4)) & 0xF]);
    for (int i = 15; i >= 0; --i) digits.push_back(hex[(b >> (i * 4)) & 0xF]);
    return "{" + digits.substr(0, 8) + "-" + digits.substr(8, 4) + "-" + digits.substr(12, 4) + "-" +
           digits.substr(16, 4) + "-" + digits.substr(20, 12) + "}";
}

std::string Digits(SampleRandom& r, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(char('0' + r.Below(10)));
    return s;
}

const char* const kAccountNames[] = {
    "Běžný účet",     "Spořicí účet", "Kreditní karta", "Hotovost",         "Termínovaný vklad", "Hypotéka",
    "Čtvrtletní rezerva", "Chalupa – fond", "Cestovní kasa", "Účet dětí", "Investiční účet",   "hotovost v eurech",
};

const char* const kSurnames[] = {
    "Novák",   "Svoboda",  "Novotný", "Dvořák",   "Černý",    "Procházka", "Kučera",  "Veselý",  "Horák",
    "Němec",   "Pokorný",  "Pospíšil", "Hájek",   "Král",     "Jelínek",   "Růžička", "Beneš",   "Fiala",
    "Sedláček", "Doležal", "Zeman",   "Kolář",    "Navrátil", "Čermák",    "Urban",   "Vaněk",   "Blažek",
    "Kříž",    "Kovář",    "Bartoš",  "Vlček",    "Polák",    "Musil",     "Chalupa", "Cibulka", "Šťastný",
    "Žák",     "Řezníček", "Ševčík",  "Chvátal",  "Čížek",    "Hruška",    "Cach",    "Hrubý",   "Chrást",
};
const char* const kFirstNames[] = {"Jan",  "Petr", "Jiří",  "Josef", "Pavel", "Tomáš", "Lucie", "Jana",
                                   "Marie", "Eva", "Šárka", "Žaneta", "Řehoř", "Čeněk", "Zdeněk", "Ondřej"};
const char* const kFirms[] = {
    "Albert",          "Tesco Stores ČR", "Česká spořitelna", "ČEZ Prodej",       "Chemie a.s.",
    "Hornbach",        "Cukrárna U Čápa", "Lékárna Dr. Max",  "Pražská plynárenská", "O2 Czech Republic",
    "Škoda Auto",      "Žabka",           "Řeznictví Šimek",  "Rohlík.cz",        "ČD – České dráhy",
    "Café \"Ořech\"",  "Knihy; papír",    "chata Hřebenovka", "CHKO Šumava",      "Cihelna Čejč",
};
const char* const kStreets[] = {"Na Příkopě", "Vinohradská", "Údolní", "Šafaříkova", "Chodská",
                                "Čechova",    "Husova",      "Žižkova", "Cejl",      "Hybešova"};
const char* const kCities[] = {"Praha",    "Brno",    "Ostrava",          "Plzeň",           "Liberec",
                               "Olomouc",  "České Budějovice", "Hradec Králové", "Ústí nad Labem", "Pardubice",
                               "Zlín",     "Chomutov", "Cheb",            "Čáslav",          "Kladno",
                               "Jihlava",  "Třebíč",  "Žďár nad Sázavou", "Hodonín",         "Cvikov"};
const char* const kCategories[] = {"Potraviny", "Bydlení", "Doprava",  "Zábava", "Zdraví",   "Oblečení",
                                   "Plat",      "Úroky",   "Dárky",    "Cestování", "Energie", "Čistírna",
                                   "Chovatelské potřeby", "Hobby",    "Charita"};
const char* const kMemos[] = {
    "Nákup na týden",  "Záloha na energie", "Splátka", "Oběd s kolegy", "Dárek k narozeninám",
    "Weekly shopping", "Tankování",         "Vstupenky do kina", "Oprava kola", "Předplatné časopisu",
    "Poplatek za vedení účtu", "Refund – vrácené zboží", "Nájem \"byt 2+1\"", "Účtenka; ztracena",
    "Dovolená\tChorvatsko",
};
const char* const kNotes[] = {"ověřit", "zaplaceno kartou", "hotově", "faktura č. 12", "sleva 10 %", "Čeká na vrácení"};
const char* const kClerks[] = {"Jana", "Petr", "Šárka", "Řehoř"};

Value Maybe(SampleRandom& r, int percentNull, Value v) { return r.Chance(percentNull) ? Value::Null() : v; }

}  // namespace

std::vector<SampleTable> SampleSchemas() {
    using engine::ColumnSpec;
    std::vector<SampleTable> t(3);
    t[0].FileName = "accounts.dat";
    t[0].Schema.Locale = "cs";
    t[0].Schema.Columns = {
        {"Id", 'L', 0, true},  {"Name", 'C', 40, false},    {"Number", 'C', 24, false}, {"Kind", 'I', 0, false},
        {"Opening", 'E', 0, false}, {"Rate", 'R', 0, false}, {"Opened", 'D', 0, false}, {"Closed", 'B', 0, false},
        {"Currency", 'V', 0, false}, {"Guid", 'G', 0, false}, {"Note", 'M', 0, false}, {"Posted", 'Z', 0, false},
        {"Posted Time", 'Y', 0, false},
    };
    t[0].Schema.Indexes = {{{0}, true}, {{1}, false}, {{3, 1}, false}};

    t[1].FileName = "payees.dat";
    t[1].Schema.Locale = "cs";
    t[1].Schema.Columns = {
        {"Id", 'L', 0, true},       {"Name", 'C', 60, false},  {"Street", 'C', 60, false}, {"City", 'C', 40, false},
        {"Phone", 'C', 20, false},  {"Guid", 'G', 0, false},   {"Active", 'B', 0, false},  {"Visits", 'W', 0, false},
    };
    t[1].Schema.Indexes = {{{0}, true}, {{1}, false}, {{3, 1}, false}};

    t[2].FileName = "transactions.dat";
    t[2].Schema.Locale = "cs";
    t[2].Schema.Columns = {
        {"Id", 'L', 0, true},
        {"Account", 'L', 0, false},
        {"Payee", 'L', 0, false},
        {"Date", 'D', 0, false},
        {"Time", 'T', 0, false},
        {"Amount", 'E', 0, false},
        {"Cleared", 'B', 0, false},
        {"Check Number", 'I', 0, false},
        {"Category", 'U', 40, false},
        {"Memo", 'M', 0, false},
        {"Poznámka", 'C', 80, false},
        {"ReconciledOn", 'D', 0, false},
        {"ReconciledBy", 'C', 20, false},
        {"Guid", 'G', 0, false},
        {"Posted", 'Z', 0, false},
        {"Posted Time", 'Y', 0, false},
    };
    t[2].Schema.Indexes = {{{0}, true}, {{3}, false}, {{1, 3}, false}, {{2}, false}, {{5}, false}, {{8}, false}};
    return t;
}

std::vector<std::vector<Value>> SampleAccounts() {
    SampleRandom r(0xACC0);
    std::vector<std::vector<Value>> rows;
    const std::int64_t currencies[] = {203, 203, 203, 978, 840};
    for (const char* name : kAccountNames) {
        const std::int64_t kind = std::int64_t(r.Below(4));
        rows.push_back({
            Value::Null(),
            Value::Text(name),
            Value::Text("CZ" + Digits(r, 22)),
            Value::Int(kind),
            Value::Real(double(std::int64_t(r.Below(20000000))) / 100.0),
            Maybe(r, 30, Value::Real(double(r.Below(500)) / 100.0)),
            Value::Int(kFirstDay - std::int64_t(r.Below(2000))),
            Value::Int(r.Chance(15) ? 1 : 0),
            Value::Int(currencies[r.Below(5)]),
            Value::Text(Guid(r)),
            Maybe(r, 50, Value::Text(std::string(Pick(r, kNotes)) + "\nzaloženo pobočkou " + Pick(r, kCities))),
            Value::Null(),
            Value::Null(),
        });
    }
    return rows;
}

std::int64_t SamplePayeeCount(std::int64_t transactions) {
    return std::clamp<std::int64_t>(transactions / 50, 20, 2000);
}

std::vector<std::vector<Value>> SamplePayees(std::int64_t count) {
    SampleRandom r(0xBA1EE);
    std::vector<std::vector<Value>> rows;
    for (std::int64_t i = 0; i < count; ++i) {
        std::string name;
        if (r.Chance(25)) {
            name = Pick(r, kFirms);
        } else {
            std::string surname = Pick(r, kSurnames);
            if (r.Chance(10)) {  // some written in capitals, as people type them
                const icu::UnicodeString u = icu::UnicodeString::fromUTF8(surname).toUpper(icu::Locale("cs"));
                surname.clear();
                u.toUTF8String(surname);
            }
            name = surname + " " + Pick(r, kFirstNames);
        }
        rows.push_back({
            Value::Null(),
            Value::Text(name),
            Maybe(r, 10, Value::Text(std::string(Pick(r, kStreets)) + " " + std::to_string(1 + r.Below(120)))),
            Maybe(r, 5, Value::Text(Pick(r, kCities))),
            Maybe(r, 20, Value::Text("+420 " + Digits(r, 3) + " " + Digits(r, 3) + " " + Digits(r, 3))),
            Value::Text(Guid(r)),
            Value::Int(r.Chance(85) ? 1 : 0),
            Value::Int(std::int64_t(r.Below(65536))),
        });
    }
    return rows;
}

void SampleTransactions(std::int64_t count, std::int64_t accounts, std::int64_t payees,
                        const std::function<void(const std::vector<Value>&)>& sink) {
    SampleRandom r(0x7A45AC7);
    std::vector<Value> row(16);
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t day = kFirstDay + std::int64_t(r.Below(kDays));
        const bool income = r.Chance(20);
        const std::int64_t cents = income ? 100000 + std::int64_t(r.Below(6000000)) : 1000 + std::int64_t(r.Below(500000));
        const int clearedRoll = int(r.Below(100));
        row[0] = Value::Null();
        row[1] = Value::Int(1 + std::int64_t(r.Below(std::uint64_t(accounts))));
        row[2] = Maybe(r, 3, Value::Int(1 + std::int64_t(r.Below(std::uint64_t(payees)))));
        row[3] = Value::Int(day);
        row[4] = Maybe(r, 5, Value::Int(std::int64_t(r.Below(86400)) * 1000));
        row[5] = Maybe(r, 1, Value::Real(double(income ? cents : -cents) / 100.0));
        row[6] = clearedRoll < 2 ? Value::Null() : Value::Int(clearedRoll < 72 ? 1 : 0);
        row[7] = r.Chance(30) ? Value::Int(1 + std::int64_t(r.Below(32767))) : Value::Null();
        row[8] = Maybe(r, 5, Value::Text(Pick(r, kCategories)));
        if (r.Chance(40)) {
            row[9] = Value::Null();
        } else if (r.Chance(5)) {
            row[9] = Value::Text(std::string(Pick(r, kMemos)) + "\n" + Pick(r, kMemos) + " (" + std::to_string(i + 1) + ")");
        } else {
            row[9] = Value::Text(Pick(r, kMemos));
        }
        row[10] = Maybe(r, 70, Value::Text(Pick(r, kNotes)));
        const bool reconciled = clearedRoll >= 2 && clearedRoll < 40;
        row[11] = reconciled ? Value::Int(day + std::int64_t(r.Below(30))) : Value::Null();
        row[12] = reconciled ? Value::Text(Pick(r, kClerks)) : Value::Null();
        row[13] = Value::Text(Guid(r));
        row[14] = Value::Null();
        row[15] = Value::Null();
        sink(row);
    }
}

std::vector<std::string> WriteSampleTables(const std::string& dir, std::int64_t transactions) {
    const std::vector<SampleTable> schemas = SampleSchemas();
    std::vector<std::string> paths;
    for (const SampleTable& t : schemas) {
        const std::string path = (std::filesystem::path(dir) / t.FileName).string();
        std::error_code ec;
        if (std::filesystem::exists(path, ec)) throw ToolError(path + ": the file exists already");
        paths.push_back(path);
    }
    const std::int64_t payeeCount = SamplePayeeCount(transactions);
    const std::vector<std::vector<Value>> accounts = SampleAccounts();
    for (std::size_t k = 0; k < schemas.size(); ++k) {
        engine::CreateTable(paths[k], schemas[k].Schema);
        engine::BulkInserter inserter(paths[k]);
        if (k == 0) {
            for (const auto& row : accounts) inserter.Add(row);
        } else if (k == 1) {
            for (const auto& row : SamplePayees(payeeCount)) inserter.Add(row);
        } else {
            SampleTransactions(transactions, std::int64_t(accounts.size()), payeeCount,
                               [&](const std::vector<Value>& row) { inserter.Add(row); });
        }
        inserter.Commit();
    }
    return paths;
}

}  // namespace tools
