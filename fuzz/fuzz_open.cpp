// Fuzz target: a table file of arbitrary catalog and page-store bytes opened
// through TMoneyTable, walked in every index order and dumped.
//
// Input: two bytes (little-endian) give the length L of the catalog part;
// then L catalog bytes; the rest is the page store. The table file is the
// catalog part, zeros up to the page store's offset (65536), then the page
// store (a seed is a real table in this form). A table that cannot be used
// must fail with a message; anything else (a crash, a sanitizer report, an
// exception that is not the run time's) is a finding.
#include "engine/Engine.h"
#include "fuzz/FuzzSupport.h"
#include "moneytable/Tamblor.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kPageStoreOffset = 65536;
constexpr int kMaxWalk = 200;  // records read per order: each input stays quick

void Walk(TMoneyTable& table) {
    table.First();
    for (int n = 0; n < kMaxWalk && !table.Eof(); ++n) {
        for (TField* field : table.Fields()->List()) field->AsString();
        table.Next();
    }
    table.Last();
    table.Prior();
}

void OpenWalkAndDump(const std::string& path, const std::string& dumpPath) {
    TMoneyTable table(nullptr);
    table.SetFileName(path);
    try {
        table.Open();
        table.RecordCount();
        Walk(table);
        table.IndexDefs()->Update();
        std::vector<std::string> orders;
        for (int i = 0; i < table.IndexDefs()->Count(); ++i) orders.push_back(table.IndexDefs()->Items(i)->Fields());
        for (const std::string& order : orders) {
            table.SetIndexFieldNames(order);
            Walk(table);
        }
        fuzz::WriteFile(dumpPath, "");
        table.DumpHeader(dumpPath);
    } catch (const Exception& e) {
        fuzz::Check(*e.what() != 0, "an error without a message");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    engine::RegisterEngineServer();
    FormatSettings = TFormatSettings::Invariant();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::ScratchDir() + "/open.dat";
    static const std::string dumpPath = fuzz::ScratchDir() + "/dump.txt";
    if (size < 2) return 0;
    const std::size_t catalog = std::min<std::size_t>(data[0] | (std::size_t(data[1]) << 8), size - 2);
    std::string file(reinterpret_cast<const char*>(data) + 2, catalog);
    file.resize(kPageStoreOffset, '\0');
    file.append(reinterpret_cast<const char*>(data) + 2 + catalog, size - 2 - catalog);
    fuzz::RemoveTable(path);
    fuzz::WriteFile(path, file);
    OpenWalkAndDump(path, dumpPath);
    fuzz::RemoveTable(path);
    return 0;
}
