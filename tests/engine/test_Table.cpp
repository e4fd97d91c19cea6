// The engine table core: cursor contract, stable record numbers, posting,
// deleting, values and misuse statuses.
#include "engine/Table.h"

#include "EngineTestUtil.h"

#include <vector>

using namespace engine;
using enginetest::Col;
using enginetest::Ix;
using enginetest::TempDir;

namespace {

TableSchema SimpleSchema() {
    TableSchema s;
    s.Columns = {Col("Name", 'C', 20), Col("Amount", 'L'), Col("Posted", 'Z'), Col("At", 'Y')};
    s.Indexes = {Ix({0})};
    return s;
}

std::int64_t Add(Table& t, const std::string& name, std::int64_t amount) {
    t.AddRecord();
    t.SetValue(0, ClientValue::Text(name));
    t.SetValue(1, ClientValue::Int(amount));
    return t.Post();
}

std::vector<std::int64_t> Forward(Table& t) {
    std::vector<std::int64_t> out;
    t.MoveFirst();
    while (!t.Eof() && t.RecordNumber() >= 0) {
        out.push_back(t.RecordNumber());
        t.MoveNext();
    }
    return out;
}

std::vector<std::int64_t> Backward(Table& t) {
    std::vector<std::int64_t> out;
    t.MoveLast();
    while (!t.Bof() && t.RecordNumber() >= 0) {
        out.push_back(t.RecordNumber());
        t.MovePrior();
    }
    return out;
}

}  // namespace

TEST(EngineTable, EmptyTableSetsBothFlagsAndHasNoRecord) {
    TempDir dir;
    const std::string path = dir.File("empty.dat");
    CreateTable(path, SimpleSchema());
    Table t;
    t.Open(path);
    EXPECT_TRUE(t.Eof());
    EXPECT_TRUE(t.Bof());
    EXPECT_EQ(t.RecordNumber(), -1);
    EXPECT_EQ(t.CountRecords(), 0);
    for (auto move : {&Table::MoveFirst, &Table::MoveLast, &Table::MoveNext, &Table::MovePrior}) {
        (t.*move)();
        EXPECT_TRUE(t.Eof());
        EXPECT_TRUE(t.Bof());
    }
    EXPECT_FALSE(t.MoveToRecord(1));
    EXPECT_ENGINE_STATUS(t.GetValue(0), stMisuse);
    EXPECT_ENGINE_STATUS(t.EditRecord(), stMisuse);
    EXPECT_ENGINE_STATUS(t.Delete(), stMisuse);
}

TEST(EngineTable, OneRecordStaysCurrentAtBothEnds) {
    TempDir dir;
    const std::string path = dir.File("one.dat");
    CreateTable(path, SimpleSchema());
    Table t;
    t.Open(path);
    EXPECT_EQ(Add(t, "Alice", 5), 1);
    t.MoveFirst();
    EXPECT_EQ(t.RecordNumber(), 1);
    EXPECT_FALSE(t.Eof());
    EXPECT_FALSE(t.Bof());
    t.MoveNext();
    EXPECT_TRUE(t.Eof());
    EXPECT_FALSE(t.Bof());
    EXPECT_EQ(t.RecordNumber(), 1);
    t.MovePrior();
    EXPECT_TRUE(t.Bof());
    EXPECT_FALSE(t.Eof());
    EXPECT_EQ(t.RecordNumber(), 1);
    t.MoveLast();
    EXPECT_FALSE(t.Eof());
    EXPECT_FALSE(t.Bof());
    EXPECT_EQ(t.GetValue(0).s, "Alice");
}

TEST(EngineTable, ManyRecordsWalkBothWaysInRecordAndIndexOrder) {
    TempDir dir;
    const std::string path = dir.File("many.dat");
    CreateTable(path, SimpleSchema());
    Table t;
    t.Open(path);
    std::vector<std::int64_t> expect;
    for (int i = 0; i < 300; ++i) expect.push_back(Add(t, "n" + std::to_string((i * 7919) % 300), i));
    EXPECT_EQ(Forward(t), expect);
    std::vector<std::int64_t> rev(expect.rbegin(), expect.rend());
    EXPECT_EQ(Backward(t), rev);
    EXPECT_EQ(t.CountRecords(), 300);

    t.SetIndex("name");
    std::vector<std::int64_t> byName = Forward(t);
    ASSERT_EQ(byName.size(), 300u);
    std::string prev;
    for (std::int64_t r : byName) {
        ASSERT_TRUE(t.MoveToRecord(r));
        const std::string name = t.GetValue(0).s;
        EXPECT_LE(prev, name);
        prev = name;
    }
    std::vector<std::int64_t> back = Backward(t);
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, byName);
}

TEST(EngineTable, RecordNumbersAreNeverReused) {
    TempDir dir;
    const std::string path = dir.File("stable.dat");
    CreateTable(path, SimpleSchema());
    Table t;
    t.Open(path);
    Add(t, "a", 1);
    Add(t, "b", 2);
    const std::int64_t third = Add(t, "c", 3);
    ASSERT_TRUE(t.MoveToRecord(third));
    t.Delete();
    // Deleting the last record leaves the cursor on the previous one.
    EXPECT_EQ(t.RecordNumber(), 2);
    EXPECT_EQ(Add(t, "d", 4), 4);
    t.Close();
    t.Open(path);
    EXPECT_EQ(Add(t, "e", 5), 5);
    EXPECT_EQ(Forward(t), (std::vector<std::int64_t>{1, 2, 4, 5}));
    ASSERT_TRUE(t.MoveToRecord(1));
    t.Delete();
    EXPECT_EQ(t.RecordNumber(), 2);  // the next record
    EXPECT_FALSE(t.MoveToRecord(1));
    EXPECT_EQ(t.RecordNumber(), 2);  // unchanged
    EXPECT_EQ(t.CountRecords(), 3);
    for (std::int64_t r : {2, 4, 5}) {
        ASSERT_TRUE(t.MoveToRecord(r));
        t.Delete();
    }
    EXPECT_EQ(t.RecordNumber(), -1);
    EXPECT_TRUE(t.Eof() && t.Bof());
    EXPECT_EQ(t.CountRecords(), 0);
}
