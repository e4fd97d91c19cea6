// Helpers shared by the engine tests (and the tool's tests that inject
// faults): a temporary folder per test, small table builders, a storage that
// fails syncs, writes or closes, and running code as another user.
#pragma once

#include "engine/Engine.h"
#include "engine/StorageIo.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <optional>
#include <set>
#include <string>

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

// A StorageIo that fails the syncs of some kinds of file (EIO), the writes to
// one kind (ENOSPC: a full disk), or the closes of the files that the engine
// opens itself (EIO), as the system would.
struct FaultyIo : engine::StorageIo {
    std::set<engine::FileKind> FailedSyncs;
    std::optional<engine::FileKind> FullDisk;
    bool FailClose = false;
    int Sync(engine::StorageFile& f, int flags) override {
        if (FailedSyncs.count(f.Kind)) {
            errno = EIO;
            return SQLITE_IOERR_FSYNC;
        }
        return StorageIo::Sync(f, flags);
    }
    int Write(engine::StorageFile& f, const void* b, int n, std::int64_t off) override {
        if (FullDisk == f.Kind) {
            errno = ENOSPC;
            return SQLITE_FULL;
        }
        return StorageIo::Write(f, b, n, off);
    }
    int Close(engine::StorageFile& f) override {
        const int rc = StorageIo::Close(f);
        if (FailClose && !f.Os) {
            errno = EIO;
            return SQLITE_IOERR_CLOSE;
        }
        return rc;
    }
};

// Installs a StorageIo for the scope.
struct IoScope {
    explicit IoScope(engine::StorageIo* io) { engine::SetStorageIo(io); }
    ~IoScope() { engine::SetStorageIo(nullptr); }
    IoScope(const IoScope&) = delete;
    IoScope& operator=(const IoScope&) = delete;
};

// Runs body in a forked child process as the user `user` (the tests run as
// root; a test that needs this skips itself otherwise) and returns what body
// returned: "" for success, else a description of what went wrong (an
// exception is described by its message).
inline std::string RunAsUser(const char* user, const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string result;
        const passwd* pw = ::getpwnam(user);
        if (!pw || ::setgroups(0, nullptr) != 0 || ::setgid(pw->pw_gid) != 0 || ::setuid(pw->pw_uid) != 0) {
            result = std::string("cannot become ") + user;
        } else {
            try {
                result = body();
            } catch (const std::exception& e) {
                result = std::string("exception: ") + e.what();
            }
        }
        const char* p = result.data();
        for (std::size_t left = result.size(); left > 0;) {
            const ssize_t n = ::write(fds[1], p, left);
            if (n <= 0) break;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) return "the child process died";
    return out;
}

// The message of the EngineError that statement throws ("" when none).
template <class F>
std::string EngineErrorOf(F statement) {
    try {
        statement();
    } catch (const engine::EngineError& e) {
        return e.what();
    }
    return "";
}

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

// Overwrites size bytes of a file at offset at with data.
inline void PatchBytes(const std::string& path, off_t at, const void* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, data, size, at), static_cast<ssize_t>(size));
    ::close(fd);
}

// Overwrites one byte of a file.
inline void PatchByte(const std::string& path, off_t at, std::uint8_t value) { PatchBytes(path, at, &value, 1); }

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
