// Checking a table file: what a sound table reports, each kind of damage
// named, and the file left byte for byte as it was.
#include "engine/Engine.h"

#include "engine/Collation.h"
#include "engine/PageStore.h"
#include "engine/Table.h"

#include "EngineTestUtil.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

using namespace engine;
using enginetest::FileBytes;
using enginetest::PatchByte;
using enginetest::TempDir;

namespace {

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// The ledger with 3 records.
void CreateLedger(const std::string& path) {
    enginetest::CreateLedger(path);
    BulkInserter ins(path);
    for (const char* payee : {"Čeněk", "adam", "Eva"}) ins.Add({Value::Text(payee), Value::Int(45000), Value::Int(1)});
    ins.Commit();
}

// "ok: text" or "PROBLEM: text" per line.
std::vector<std::string> Shown(const std::vector<CheckLine>& lines) {
    std::vector<std::string> out;
    for (const CheckLine& l : lines) out.push_back((l.Problem ? "PROBLEM: " : "ok: ") + l.Text);
    return out;
}

const char* const kSoundCatalog = "ok: catalog: 3 columns, 1 index, locale cs, as the page store's copy of it says";
const char* const kSoundStore = "ok: page store: its integrity check, with the table's collation, found nothing wrong";
const char* const kSoundIndex = "ok: index 1 'Payee+Date': as its catalog record says, 3 entries for 3 records";
const char* const kSoundCount = "ok: records: 3, as the cached count says";

}  // namespace

TEST(EngineCheck, ASoundTableIsReportedSoundAndLeftAsItWas) {
    TempDir dir;
    const std::string path = dir.File("ledger.dat");
    CreateLedger(path);
    const std::string before = FileBytes(path);
    EXPECT_EQ(Shown(CheckTable(path)),
              (std::vector<std::string>{kSoundCatalog, kSoundStore, kSoundIndex, kSoundCount}));
    EXPECT_EQ(FileBytes(path), before);
    EXPECT_FALSE(Exists(path + "-wal"));
    EXPECT_FALSE(Exists(path + "-shm"));
    EXPECT_ENGINE_ERROR(CheckTable(dir.File("none.dat")), "Table file '" + dir.File("none.dat") + "' does not exist");

    // A table written before the page store kept a copy of its catalog: the
    // check says so, and does not store one.
    const auto hasCopy = [&] {
        PageStore store;
        store.Open(path, OpenMode::ReadWrite);
        Value v;
        return store.GetMeta("catalog", v);
    };
    {
        PageStore store;
        store.Open(path, OpenMode::ReadWrite);
        store.Exec("DELETE FROM meta WHERE key='catalog'");
    }
    EXPECT_EQ(Shown(CheckTable(path)).front(),
              "ok: catalog: 3 columns, 1 index, locale cs; the page store holds no copy of it to compare with (a table "
              "written by an older version: its next open for writing stores one)");
    EXPECT_FALSE(hasCopy());
}

TEST(EngineCheck, EachProblemIsNamed) {
    TempDir dir;
    const std::string pristine = dir.File("pristine.dat");
    CreateLedger(pristine);
    const std::string path = dir.File("damaged.dat");
    const auto damage = [&](const std::function<void(PageStore&)>& change) {
        std::filesystem::copy_file(pristine, path, std::filesystem::copy_options::overwrite_existing);
        Collator collator("cs");
        PageStore store;
        store.Open(path, OpenMode::ReadWrite);
        RegisterMoneyKey(store.Db(), &collator);
        change(store);
    };
    const auto check = [&] {
        const std::string before = FileBytes(path);
        const std::vector<std::string> shown = Shown(CheckTable(path));
        EXPECT_EQ(FileBytes(path), before);
        return shown;
    };

    // A wrong cached count, and an index whose order is not the collation's.
    damage([](PageStore& store) {
        store.Exec("UPDATE meta SET value=94 WHERE key='count'");
        sqlite3_create_collation(store.Db(), "MONEYKEY", SQLITE_UTF8, nullptr,
                                 [](void*, int n1, const void* a, int n2, const void* b) {
                                     const int c = std::memcmp(a, b, static_cast<std::size_t>(std::min(n1, n2)));
                                     return c != 0 ? -c : n2 - n1;
                                 });
        store.Exec("REINDEX ix0");
    });
    std::vector<std::string> shown = check();
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ(shown.front(), kSoundCatalog);
    EXPECT_EQ(shown.back(), "PROBLEM: records: the cached record count is 94, the page store holds 3 records");
    EXPECT_EQ(shown[shown.size() - 2], kSoundIndex);
    for (std::size_t i = 1; i + 2 < shown.size(); ++i) {
        EXPECT_EQ(shown[i].rfind("PROBLEM: page store: ", 0), 0u) << shown[i];
        EXPECT_NE(shown[i].find(" ix0 (index 1 'Payee+Date')"), std::string::npos) << shown[i];
    }

    // An index missing from the page store, and one that the catalog does not list.
    damage([](PageStore& store) {
        store.Exec("DROP INDEX ix0");
        store.Exec("CREATE INDEX ix1 ON records(c2)");
    });
    EXPECT_EQ(check(), (std::vector<std::string>{kSoundCatalog, kSoundStore,
                                                 "PROBLEM: index 1 'Payee+Date': the page store has no index ix0 for it",
                                                 "PROBLEM: the page store holds an index ix1 that the catalog does not list",
                                                 kSoundCount}));
    damage([](PageStore& store) {
        store.Exec("DROP INDEX ix0");
        store.Exec("CREATE UNIQUE INDEX ix0 ON records(c0 COLLATE MONEYKEY, c1)");
    });
    EXPECT_EQ(check()[2], "PROBLEM: index 1 'Payee+Date': the page store's index ix0 does not match its catalog record");

    // A changed catalog byte: the indexes are not held against a catalog
    // that cannot be trusted.
    std::filesystem::copy_file(pristine, path, std::filesystem::copy_options::overwrite_existing);
    PatchByte(path, 40 + 11, 'D');
    EXPECT_EQ(check(), (std::vector<std::string>{
                           "PROBLEM: column 1 'Payee': the catalog gives type D, the page store C", kSoundStore,
                           kSoundCount}));
}

TEST(EngineCheck, ReadsTheLogOfAKilledWriterWithoutApplyingIt) {
    TempDir dir;
    const std::string path = dir.File("crash.dat");
    CreateLedger(path);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Posts that stay in the write-ahead log: the process dies without
        // closing the table.
        Table t;
        t.Open(path);
        for (int i = 0; i < 5; ++i) {
            t.AddRecord();
            t.SetValue(0, ClientValue::Text("later"));
            t.Post();
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string table = FileBytes(path), wal = FileBytes(path + "-wal");
    ASSERT_FALSE(wal.empty());
    const std::vector<std::string> shown = Shown(CheckTable(path));
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[2], "ok: index 1 'Payee+Date': as its catalog record says, 8 entries for 8 records");
    EXPECT_EQ(shown[3], "ok: records: 8, as the cached count says");
    EXPECT_EQ(FileBytes(path), table);
    EXPECT_EQ(FileBytes(path + "-wal"), wal);
}
