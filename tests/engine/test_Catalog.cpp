// The catalog area of a table file: encoding byte for byte, validation of a
// schema, the decoder's refusals, and the page store's copy of the catalog
// that an open compares with it.
#include "engine/Catalog.h"

#include "engine/PageStore.h"
#include "engine/Table.h"

#include "EngineTestUtil.h"

using namespace engine;
using enginetest::Col;
using enginetest::CreateLedger;
using enginetest::FileBytes;
using enginetest::Ix;
using enginetest::PatchByte;
using enginetest::TempDir;

namespace {

bool HasCatalogCopy(const std::string& path) {
    PageStore store;
    store.Open(path, OpenMode::ReadWrite);
    Value v;
    return store.GetMeta("catalog", v);
}

}  // namespace

TEST(EngineCatalog, EncodesTheLayoutByteForByte) {
    TableSchema s;
    s.Columns = {Col("Payee", 'C', 40), Col("Příjemce platby", 'U', 200), Col("Counter", 'L', 0, true)};
    s.Indexes = {Ix({1, 0}, true), Ix({2})};
    s.Locale = "cs_CZ";
    const std::vector<std::uint8_t> b = EncodeCatalog(s);
    const std::size_t dataPos = 40 + 26 * 3 + 13 * 2;
    ASSERT_EQ(b.size(), dataPos);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(std::string(b.begin() + 1, b.begin() + 5), "BFT1");
    EXPECT_EQ(b[5] | (b[6] << 8), static_cast<int>(dataPos));
    EXPECT_EQ(b[7], 3);
    EXPECT_EQ(b[8] | (b[9] << 8) | (b[10] << 16) | (b[11] << 24), 65536);
    EXPECT_EQ(b[12], 2);
    EXPECT_EQ(std::string(b.begin() + 13, b.begin() + 21), std::string("cs_CZ\0\0\0", 8));
    for (int i = 21; i < 40; ++i) EXPECT_EQ(b[i], 0) << i;
    // Column 1: "Příjemce platby" cut to 10 bytes before a split sequence:
    // P ř í j e m c e = 1+2+2+1+1+1+1+1 = 10 bytes.
    const std::uint8_t* c1 = &b[40 + 26];
    EXPECT_EQ(c1[0], 10);
    EXPECT_EQ(std::string(c1 + 1, c1 + 11), "Příjemce");
    EXPECT_EQ(c1[11], 'U');
    EXPECT_EQ(c1[12], 200);
    EXPECT_EQ(c1[13], 0);
    const std::uint8_t* c2 = &b[40 + 52];
    EXPECT_EQ(c2[11], 'L');
    EXPECT_EQ(c2[12], 4);
    EXPECT_EQ(c2[13], 1);  // auto-increment
    for (int i = 14; i < 26; ++i) EXPECT_EQ(c2[i], 0);
    const std::uint8_t* x0 = &b[40 + 78];
    EXPECT_EQ(std::vector<std::uint8_t>(x0, x0 + 13),
              (std::vector<std::uint8_t>{2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
    const std::uint8_t* x1 = &b[40 + 78 + 13];
    EXPECT_EQ(x1[0], 1);
    EXPECT_EQ(x1[1], 2);
    EXPECT_EQ(x1[11], 0);

    // And it decodes back (names in their 10-byte form).
    std::vector<std::uint8_t> file = b;
    const TableSchema d = DecodeCatalog(file.data(), file.size(), 70000, "t.dat");
    EXPECT_EQ(d.Locale, "cs_CZ");
    ASSERT_EQ(d.Columns.size(), 3u);
    EXPECT_EQ(d.Columns[1].Name, "Příjemce");
    EXPECT_EQ(d.Columns[1].Size, 200);
    EXPECT_TRUE(d.Columns[2].AutoInc);
    ASSERT_EQ(d.Indexes.size(), 2u);
    EXPECT_EQ(d.Indexes[0].Columns, (std::vector<int>{1, 0}));
    EXPECT_TRUE(d.Indexes[0].Unique);
}

TEST(EngineCatalog, DecoderRefusesWhatIsNotACompleteCatalog) {
    TableSchema s;
    s.Columns = {Col("A", 'C', 5), Col("B", 'L')};
    s.Indexes = {Ix({0})};
    std::vector<std::uint8_t> b = EncodeCatalog(s);
    EXPECT_ENGINE_ERROR(DecodeCatalog(b.data(), 3, 3, "f"), "'f' is not a table file");
    std::vector<std::uint8_t> other = b;
    other[1] = 'X';
    EXPECT_ENGINE_ERROR(DecodeCatalog(other.data(), other.size(), 70000, "f"), "'f' is not a table file");
    EXPECT_ENGINE_ERROR(DecodeCatalog(b.data(), 20, 20, "f"),
                        "Table file 'f' is truncated: its catalog header is incomplete");
    EXPECT_ENGINE_ERROR(DecodeCatalog(b.data(), 60, 60, "f"), "Table file 'f' is truncated: its catalog is incomplete");
    EXPECT_ENGINE_ERROR(DecodeCatalog(b.data(), b.size(), 1000, "f"),
                        "Table file 'f' is truncated: its catalog area is incomplete");
    other = b;
    other[5] = 99;  // DataPos that does not match the counts
    EXPECT_ENGINE_ERROR(DecodeCatalog(other.data(), other.size(), 70000, "f"),
                        "Table file 'f' has a damaged catalog header");
    other = b;
    other[40 + 11] = 'Q';  // unknown type letter
    EXPECT_ENGINE_ERROR(DecodeCatalog(other.data(), other.size(), 70000, "f"),
                        "Table file 'f' has a damaged record for column 1");
    other = b;
    other[40 + 52 + 1] = 7;  // index on a column that does not exist
    EXPECT_ENGINE_ERROR(DecodeCatalog(other.data(), other.size(), 70000, "f"),
                        "Table file 'f' has a damaged record for index 1");
}

TEST(EngineCatalog, SchemaValidationNamesTheOffendingColumnOrIndex) {
    auto check = [](std::vector<ColumnSpec> cols, std::vector<IndexSpec> ix, const std::string& msg) {
        TableSchema s;
        s.Columns = std::move(cols);
        s.Indexes = std::move(ix);
        EXPECT_ENGINE_ERROR(ValidateSchema(s), msg);
    };
    check({Col("", 'C', 5)}, {}, "Column 1 (''): a column name has 1 to 64 characters");
    check({Col(std::string(65, 'x'), 'L')}, {}, "Column 1 ('" + std::string(65, 'x') + "'): a column name has 1 to 64 characters");
    check({Col("A+B", 'L')}, {}, "Column 1 ('A+B'): a column name may not contain + ; [ ] | or control characters");
    check({Col("Tab\there", 'L')}, {}, "Column 1 ('Tab\there'): a column name may not contain + ; [ ] | or control characters");
    check({Col("A", 'L'), Col("a", 'C', 3)}, {}, "Column 2 ('a'): the name is used twice");
    check({Col("A", 'X')}, {}, "Column 1 ('A'): unknown type letter 'X'");
    check({Col("A", 'C', 0)}, {}, "Column 1 ('A'): a text column has a size of 1 to 255 bytes");
    check({Col("A", 'C', 256)}, {}, "Column 1 ('A'): a text column has a size of 1 to 255 bytes");
    check({Col("A", 'E', 0, true)}, {}, "Column 1 ('A'): only integer columns (I, L, V, W) can be auto-increment");
    check({Col("A", 'L')}, {Ix({})}, "Index 1: an index has 1 to 10 key columns");
    check({Col("A", 'L')}, {Ix({1})}, "Index 1: there is no column number 1");
    check({Col("A", 'L')}, {Ix({0, 0})}, "Index 1: column 'A' appears twice");
    TableSchema s;
    s.Locale = "cs;drop";
    EXPECT_ENGINE_ERROR(ValidateSchema(s), "Locale 'cs;drop' is not a valid locale id");
    // 64 characters of two bytes each are allowed: the limit counts characters.
    std::string longName;
    for (int i = 0; i < 64; ++i) longName += "č";
    TableSchema ok;
    ok.Columns = {Col(longName, 'L'), Col("Payee", 'C', 255)};
    EXPECT_NO_THROW(ValidateSchema(ok));
}

TEST(EngineCatalog, CutUtf8NeverSplitsASequence) {
    EXPECT_EQ(CutUtf8("abc", 10), "abc");
    EXPECT_EQ(CutUtf8("abcdefghijkl", 10), "abcdefghij");
    EXPECT_EQ(CutUtf8("abcdefghičk", 10), "abcdefghi");  // č would need bytes 10 and 11
    EXPECT_EQ(CutUtf8("€€€€", 10), "€€€");               // 3 bytes each
    EXPECT_EQ(CutUtf8("𝄞𝄞𝄞", 10), "𝄞𝄞");               // 4 bytes each
}

TEST(EngineCatalog, AnOpenRefusesACatalogThatDisagreesWithThePageStore) {
    TempDir dir;
    const std::string pristine = dir.File("pristine.dat");
    CreateLedger(pristine);
    const off_t payee = 40, amount = 40 + 2 * 26, index = 40 + 3 * 26;
    struct Case {
        off_t At;
        std::uint8_t Value;
        std::string Problem;
    };
    const std::vector<Case> cases = {
        {payee + 11, 'D', "column 1 'Payee': the catalog gives type D, the page store C"},
        {payee + 12, 0, "column 1 'Payee': the catalog gives size 0, the page store 40"},
        {amount + 1, 'B', "column 3 'Amount': the catalog names it 'Bmount'"},
        {amount + 11, 'M', "column 3 'Amount': the catalog gives type M, the page store L"},
        {amount + 13, 1, "column 3 'Amount': the catalog makes it auto-increment, the page store does not"},
        {payee + 20, 7, "column 1 'Payee': the catalog's byte 60 differs from the page store's copy"},
        {index + 2, 2, "index 1 'Payee+Date': the catalog gives the key columns Payee+Amount, the page store Payee+Date"},
        {index + 11, 1, "index 1 'Payee+Date': the catalog makes it unique, the page store does not"},
        {14, 'k', "the catalog gives the locale 'ck', the page store 'cs'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Problem);
        const std::string path = dir.File("damaged.dat");
        std::filesystem::copy_file(pristine, path, std::filesystem::copy_options::overwrite_existing);
        PatchByte(path, c.At, c.Value);
        const std::string before = FileBytes(path);
        Table t;
        EXPECT_ENGINE_ERROR(t.Open(path), "Table file '" + path + "' is damaged (" + c.Problem + ")");
        EXPECT_FALSE(t.IsOpen());
        EXPECT_EQ(FileBytes(path), before);
    }
    // The schema API refuses it too, rather than write values of the wrong
    // type or bless the damage with a new copy.
    const std::string path = dir.File("damaged.dat");
    const std::string problem = "Table file '" + path + "' is damaged (" + cases[0].Problem + ")";
    std::filesystem::copy_file(pristine, path, std::filesystem::copy_options::overwrite_existing);
    PatchByte(path, cases[0].At, cases[0].Value);
    EXPECT_ENGINE_ERROR(BulkInserter{path}, problem);
    EXPECT_ENGINE_ERROR(AddIndex(path, Ix({2})), problem);
    EXPECT_ENGINE_ERROR(ReadTableInfo(path), problem);
    // The reserved bytes of the header are not part of the copy.
    std::filesystem::copy_file(pristine, path, std::filesystem::copy_options::overwrite_existing);
    PatchByte(path, 30, 0x5A);
    Table t;
    t.Open(path);
    EXPECT_EQ(t.Schema().Columns[0].Type, 'C');
}

TEST(EngineCatalog, ATableWithoutACopyGetsOneAtItsNextOpenForWriting) {
    TempDir dir;
    const std::string path = dir.File("old.dat");
    CreateLedger(path);
    ASSERT_TRUE(HasCatalogCopy(path));
    {
        // A table written before the copy was kept.
        PageStore store;
        store.Open(path, OpenMode::ReadWrite);
        store.Exec("DELETE FROM meta WHERE key='catalog'");
    }
    ASSERT_FALSE(HasCatalogCopy(path));
    {
        Table t;
        t.Open(path);
        EXPECT_EQ(t.Schema().Columns[2].Name, "Amount");
    }
    EXPECT_TRUE(HasCatalogCopy(path));
    PatchByte(path, 40 + 11, 'D');
    Table t;
    EXPECT_ENGINE_ERROR(t.Open(path),
                        "Table file '" + path + "' is damaged (column 1 'Payee': the catalog gives type D, the page store C)");
}
