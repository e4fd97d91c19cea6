// Helpers shared by the engine tests: a temporary folder per test and small
// table builders.
#pragma once

#include "engine/Engine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace enginetest {

// A fresh folder under $TMPDIR, removed at the end of the test.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tamblor-engine-XXXXXX";
        char* p = ::mkdtemp(tmpl.data());
        if (!p) throw std::runtime_error("mkdtemp failed");
        FPath = p;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    std::string File(const std::string& name) const { return FPath + "/" + name; }
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

inline engine::ColumnSpec Col(const std::string& name, char type, int size = 0, bool autoInc = false) {
    engine::ColumnSpec c;
    c.Name = name;
    c.Type = type;
    c.Size = size;
    c.AutoInc = autoInc;
    return c;
}

inline engine::IndexSpec Ix(std::vector<int> cols, bool unique = false) {
    engine::IndexSpec i;
    i.Columns = std::move(cols);
    i.Unique = unique;
    return i;
}

// The bytes of a file ("" when it cannot be read).
inline std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Overwrites one byte of a file.
inline void PatchByte(const std::string& path, off_t at, std::uint8_t value) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, &value, 1, at), 1);
    ::close(fd);
}

// The ledger of the catalog and check tests: Payee C 40, Date D, Amount L;
// index 1 on Payee+Date; locale cs.
inline void CreateLedger(const std::string& path) {
    engine::TableSchema s;
    s.Columns = {Col("Payee", 'C', 40), Col("Date", 'D'), Col("Amount", 'L')};
    s.Indexes = {Ix({0, 1})};
    s.Locale = "cs";
    engine::CreateTable(path, s);
}

// Asserts that statement throws engine::EngineError whose message equals msg.
#define EXPECT_ENGINE_ERROR(statement, msg)                         \
    do {                                                            \
        try {                                                       \
            statement;                                              \
            ADD_FAILURE() << "expected EngineError: " << (msg);     \
        } catch (const engine::EngineError& e_) {                   \
            EXPECT_EQ(std::string(e_.what()), std::string(msg));    \
        }                                                           \
    } while (0)

// Same, checking the status as well.
#define EXPECT_ENGINE_STATUS(statement, status)                     \
    do {                                                            \
        try {                                                       \
            statement;                                              \
            ADD_FAILURE() << "expected EngineError " << (status);   \
        } catch (const engine::EngineError& e_) {                   \
            EXPECT_EQ(e_.Status(), (status)) << e_.what();          \
        }                                                           \
    } while (0)

}  // namespace enginetest
