// The loops of scripts/stress: crashes, failing storage and two writers, each
// against real table files in a scratch folder.
//
//   stress_driver kill DIR TRIALS [MS]  writers killed with SIGKILL at a
//                                     random moment within MS (150) of their
//                                     start, every 4th with a checkpointer
//                                     that kills itself inside a checkpoint;
//                                     after each: every logged post present,
//                                     the table checked and opened
//   stress_driver loads DIR TRIALS [MS]
//                                     bulk loads killed with SIGKILL at a
//                                     random moment within MS (300) or at a
//                                     random write into the table file; after
//                                     each: all of the load or none, the
//                                     table checked and back on its log
//   stress_driver fault DIR           create, import, insert, edit, delete and
//                                     add index with the Nth write, sync or
//                                     read of the storage interface failing
//                                     (error or short write), N = 1, 2, ...
//                                     until the operation completes
//   stress_driver writers DIR SECONDS two processes incrementing counters in
//                                     the same few records through Edit/Post
//
// Each prints one line of figures on the standard output ("kill loop: 200
// trials, ...") and every fault it finds on the error stream; the exit code is
// 0 when nothing was found, 1 otherwise, 2 for a wrong command line.
// Children are forked while the process has no table open and no thread.
#include "engine/Engine.h"
#include "engine/PageStore.h"
#include "engine/StorageIo.h"
#include "engine/Table.h"
#include "engine/Vfs.h"
#include "moneytable/Tamblor.h"
#include "tools/Commands.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// ------------------------------------------------------------------ common

void RemoveTable(const std::string& path) {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path + suffix, ec);
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The whole numbers of a line separated by blanks (after `skip` words);
// empty when one does not read.
std::vector<long> Numbers(const std::string& line, std::size_t skip = 0) {
    std::vector<long> out;
    std::istringstream words(line);
    for (std::string w; words >> w;) {
        if (skip > 0) {
            --skip;
            continue;
        }
        long v = 0;
        const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
        if (ec != std::errc() || end != w.data() + w.size()) return {};
        out.push_back(v);
    }
    return out;
}

// The table's integrity as `tamblor check` finds it: "" when sound, else the
// problems it reports.
std::string CheckTable(const std::string& path) {
    std::ostringstream out, err;
    if (tools::RunTool({"check", path}, out, err) == 0) return "";
    std::string problems = err.str();
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("PROBLEM: ")) problems += line.substr(9) + " ";
    return problems.empty() ? "tamblor check finds it damaged" : problems;
}

// Whether the page store's header says that it keeps a write-ahead log: the
// read and write versions at its bytes 18 and 19 are 2 then.
bool KeepsLog(const std::string& path) {
    char versions[2] = {};
    std::ifstream(path, std::ios::binary).seekg(65536 + 18).read(versions, 2);
    return versions[0] == 2 && versions[1] == 2;
}

// Every record of the table in record-number order, one line each, after
// its columns and its journal mode: what a fault must not change. "" when the
// file is missing; an exception when it does not open.
std::string Contents(const std::string& path) {
    if (!fs::exists(path)) return "";
    engine::Table t;
    t.Open(path);
    // Read after the open: a bulk load that could not return from its
    // rollback journal leaves the table so, and the next open for writing
    // returns it.
    std::string s = KeepsLog(path) ? "write-ahead log\n" : "no write-ahead log\n";
    for (const engine::ColumnSpec& c : t.Schema().Columns) s += c.Name + ":" + c.Type + " ";
    s += "indexes " + std::to_string(t.Schema().Indexes.size()) + "\n";
    for (t.MoveFirst(); !t.Eof(); t.MoveNext()) {
        s += std::to_string(t.RecordNumber());
        for (std::size_t c = 0; c < t.Schema().Columns.size(); ++c) {
            const char type = t.Schema().Columns[c].Type;
            if (type == 'Y' || type == 'Z') continue;  // the time of the post
            const engine::Value& v = t.GetValue(static_cast<int>(c));
            s += "|";
            switch (v.kind) {
            case engine::Value::Kind::Null: s += "null"; break;
            case engine::Value::Kind::Int: s += std::to_string(v.i); break;
            case engine::Value::Kind::Real: {
                char buf[32];
                s.append(buf, std::to_chars(buf, buf + sizeof buf, v.r).ptr);
                break;
            }
            case engine::Value::Kind::Text: s += v.s; break;
            }
        }
        s += "\n";
    }
    return s;
}

// Waits for a child; returns its wait status.
int Reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool KilledBySigkill(int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }

// -------------------------------------------------------------- kill loop
//
// The writer posts inserts and edits through TMoneyTable. Each record holds
// Id (its number among the posts) and Seq (the number of the last post that
// changed it); numbers only grow. Each returned post is logged, synced, as
// "I id" or "E id seq": afterwards the record id must exist with Seq >= seq.

constexpr int kSeqPerTrial = 1000000;

[[noreturn]] void RunWriter(const std::string& path, const std::string& log, int trial) {
    try {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) throw std::runtime_error("cannot create " + log);
        std::mt19937 rng(static_cast<unsigned>(trial));
        TMoneyTable t(nullptr);
        t.SetFileName(path);
        t.Open();
        int count = t.RecordCount();
        for (int seq = trial * kSeqPerTrial + 1;; ++seq) {
            std::string line;
            const std::string note = "post " + std::to_string(seq) + std::string(rng() % 40, 'x');
            if (count == 0 || rng() % 3 == 0) {
                t.Append();
                t.FieldByName("Id")->SetAsInteger(seq);
                t.FieldByName("Seq")->SetAsInteger(seq);
                t.FieldByName("Note")->SetAsString(note);
                if (rng() % 4 == 0) t.FieldByName("Memo")->SetAsString(std::string(rng() % 3000, 'm'));
                t.Post();
                ++count;
                line = "I " + std::to_string(seq) + "\n";
            } else {
                const int recno = 1 + static_cast<int>(rng() % static_cast<unsigned>(count));
                t.SetRecNo(recno);
                if (t.RecNo() != recno) throw std::runtime_error("record " + std::to_string(recno) + " not found");
                t.Edit();
                const int id = t.FieldByName("Id")->AsInteger();
                t.FieldByName("Seq")->SetAsInteger(seq);
                t.FieldByName("Note")->SetAsString(note);
                t.Post();
                line = "E " + std::to_string(id) + " " + std::to_string(seq) + "\n";
            }
            if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()) || ::fdatasync(fd) != 0)
                throw std::runtime_error("cannot write " + log);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "writer of trial %d failed: %s\n", trial, e.what());
    }
    std::_Exit(3);
}

// Kills its own process at the killAt-th write to the table file: in WAL mode
// only a checkpoint writes there, so the kill lands inside one; a bulk load
// writes its pages there.
class KillAtTableWrite : public engine::StorageIo {
public:
    explicit KillAtTableWrite(int killAt) : FKillAt(killAt) {}
    int Write(engine::StorageFile& file, const void* buffer, int amount, std::int64_t offset) override {
        if (file.Kind == engine::FileKind::Table && ++FWrites == FKillAt) ::raise(SIGKILL);
        return StorageIo::Write(file, buffer, amount, offset);
    }

private:
    int FKillAt;
    int FWrites = 0;
};

[[noreturn]] void RunCheckpointer(const std::string& path, int killAt) {
    static KillAtTableWrite io(killAt);
    engine::SetStorageIo(&io);
    try {
        engine::PageStore store;
        store.Open(path, engine::OpenMode::ReadWrite);
        store.StartReading();
        for (;;) {
            store.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
            SleepMs(2);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "checkpointer failed: %s\n", e.what());
    }
    std::_Exit(3);
}

int KillLoop(const std::string& dir, int trials, int maxMs) {
    const std::string path = dir + "/kill.dat";
    const std::string log = dir + "/kill.log";
    RemoveTable(path);
    engine::TableSchema schema;
    schema.Columns = {{"Id", 'L', 0}, {"Seq", 'L', 0}, {"Note", 'C', 60}, {"Memo", 'M', 0}};
    schema.Indexes = {{{1}, false}, {{2}, false}};
    engine::CreateTable(path, schema);

    std::map<int, int> required;  // Id -> smallest Seq it may hold
    std::set<int> lost;
    long posts = 0;
    int done = 0, damaged = 0, failures = 0, checkpointTrials = 0, insideCheckpoint = 0;
    std::mt19937 rng(18);
    for (int trial = 1; trial <= trials; ++trial) {
        ++done;
        const bool withCheckpointer = trial % 4 == 0;
        const pid_t writer = ::fork();
        if (writer == 0) RunWriter(path, log, trial);
        pid_t checkpointer = -1;
        if (withCheckpointer) {
            ++checkpointTrials;
            const int killAt = 1 + static_cast<int>(rng() % 8);
            checkpointer = ::fork();
            if (checkpointer == 0) RunCheckpointer(path, killAt);
        }
        SleepMs(1 + static_cast<int>(rng() % static_cast<unsigned>(maxMs)));
        if (checkpointer > 0) {
            int status = 0;
            if (::waitpid(checkpointer, &status, WNOHANG) == checkpointer) {
                if (KilledBySigkill(status)) ++insideCheckpoint;
                else ++failures;
            } else {
                ::kill(checkpointer, SIGKILL);
                Reap(checkpointer);
            }
        }
        ::kill(writer, SIGKILL);
        if (!KilledBySigkill(Reap(writer))) {
            std::fprintf(stderr, "kill loop: trial %d: the writer stopped before it was killed\n", trial);
            ++failures;
        }

        // "I id" or "E id seq"; the last line may be cut by the kill.
        std::ifstream in(log);
        for (std::string line; std::getline(in, line) && !in.eof();) {
            const std::vector<long> n = Numbers(line, 1);
            if (n.empty()) continue;
            int& r = required[static_cast<int>(n[0])];
            r = std::max(r, static_cast<int>(n.back()));
            ++posts;
        }
        const std::string problem = CheckTable(path);
        if (!problem.empty()) {
            std::fprintf(stderr, "kill loop: trial %d: the table is damaged: %s\n", trial, problem.c_str());
            ++damaged;
            break;
        }
        std::map<int, int> stored;
        try {
            TMoneyTable t(nullptr);
            t.SetFileName(path);
            t.Open();
            for (t.First(); !t.Eof(); t.Next())
                stored[t.FieldByName("Id")->AsInteger()] = t.FieldByName("Seq")->AsInteger();
            if (t.RecordCount() != static_cast<int>(stored.size()))
                throw std::runtime_error("it counts " + std::to_string(t.RecordCount()) + " records and shows " +
                                         std::to_string(stored.size()));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kill loop: trial %d: the table does not open: %s\n", trial, e.what());
            ++damaged;
            break;
        }
        for (const auto& [rid, rseq] : required) {
            auto it = stored.find(rid);
            if ((it == stored.end() || it->second < rseq) && lost.insert(rid).second)
                std::fprintf(stderr, "kill loop: trial %d: post %d of record %d lost\n", trial, rseq, rid);
        }
    }
    std::printf("kill loop: %d trials, %ld posts logged, %zu lost, %d damaged, %d of %d checkpointer kills inside a "
                "checkpoint\n",
                done, posts, lost.size(), damaged, insideCheckpoint, checkpointTrials);
    return lost.empty() && damaged == 0 && failures == 0 ? 0 : 1;
}

// -------------------------------------------------------------- load loop
//
// A bulk load (what `tamblor import` runs: a rollback journal in place of the
// log, indexes built at the commit when the table starts empty) killed with
// SIGKILL at a random moment, or at a random write into the table file. A
// load that committed logs it, synced. After each: the next open for writing
// rolls an unfinished load back; then the table holds all the rows of the
// load or none (all when it logged its commit), checks clean, keeps its
// write-ahead log again and has no journal left.

constexpr int kLoadRows = 20000;

[[noreturn]] void RunLoad(const std::string& path, const std::string& log, int trial, int killAt) {
    static KillAtTableWrite io(killAt);
    if (killAt > 0) engine::SetStorageIo(&io);
    try {
        engine::BulkInserter ins(path);
        for (int i = 0; i < kLoadRows; ++i) {
            const int id = trial * kSeqPerTrial + i;
            ins.Add({engine::Value::Int(id), engine::Value::Text("load " + std::to_string(id % 977)),
                     i % 10 == 0 ? engine::Value::Text(std::string(200 + i % 300, 'm')) : engine::Value::Null()});
        }
        ins.Commit();
        const std::string line = "C " + std::to_string(trial) + "\n";
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
            ::fdatasync(fd) != 0)
            throw std::runtime_error("cannot write " + log);
        ::close(fd);
        std::_Exit(0);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "load of trial %d failed: %s\n", trial, e.what());
    }
    std::_Exit(3);
}

int LoadLoop(const std::string& dir, int trials, int maxMs) {
    const std::string path = dir + "/load.dat";
    const std::string log = dir + "/load.log";
    engine::TableSchema schema;
    schema.Columns = {{"Id", 'L', 0}, {"Name", 'C', 30}, {"Memo", 'M', 0}};
    schema.Indexes = {{{1}, false}, {{0}, true}};
    std::int64_t expected = 0;
    int committed = 0, rolledBack = 0, hot = 0, lost = 0, partial = 0, damaged = 0, failures = 0;
    std::mt19937 rng(19);
    std::set<int> logged;
    for (int trial = 1; trial <= trials; ++trial) {
        // Every third load goes into an empty table (its indexes put aside).
        if (trial % 3 == 1) {
            RemoveTable(path);
            engine::CreateTable(path, schema);
            expected = 0;
        }
        const int killAt = trial % 2 == 0 ? 1 + static_cast<int>(rng() % 400) : 0;
        const pid_t loader = ::fork();
        if (loader == 0) RunLoad(path, log, trial, killAt);
        if (killAt == 0) {
            SleepMs(1 + static_cast<int>(rng() % static_cast<unsigned>(maxMs)));
            ::kill(loader, SIGKILL);
        }
        const int status = Reap(loader);
        if (!KilledBySigkill(status) && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
            std::fprintf(stderr, "load loop: trial %d: the load failed\n", trial);
            ++failures;
        }
        std::ifstream in(log);
        for (std::string line; std::getline(in, line) && !in.eof();) {
            const std::vector<long> n = Numbers(line, 1);
            if (!n.empty()) logged.insert(static_cast<int>(n[0]));
        }
        // A journal that SQLite must apply (its magic after the engine's header).
        {
            std::ifstream j(path + "-journal", std::ios::binary);
            unsigned char magic = 0;
            if (j.seekg(engine::LogHeaderSize).read(reinterpret_cast<char*>(&magic), 1) && magic == 0xd9) ++hot;
        }
        std::int64_t count = -1;
        std::string problem;
        try {
            engine::Table t;
            t.Open(path);  // rolls an unfinished load back
            count = t.CountRecords();
            std::int64_t walked = 0;
            for (t.MoveFirst(); !t.Eof(); t.MoveNext()) ++walked;
            if (walked != count)
                problem = "it counts " + std::to_string(count) + " records and shows " + std::to_string(walked);
            t.Close();
        } catch (const std::exception& e) {
            problem = std::string("it does not open: ") + e.what();
        }
        if (problem.empty() && !KeepsLog(path)) problem = "it has no write-ahead log";
        if (problem.empty() && fs::exists(path + "-journal"))
            problem = "its journal is left (" + std::to_string(fs::file_size(path + "-journal")) + " bytes)";
        if (problem.empty()) problem = CheckTable(path);
        if (!problem.empty()) {
            std::fprintf(stderr, "load loop: trial %d: the table is damaged: %s\n", trial, problem.c_str());
            ++damaged;
            break;
        }
        if (count == expected + kLoadRows) {
            ++committed;
            expected = count;
        } else if (count == expected) {
            if (logged.count(trial)) {
                std::fprintf(stderr, "load loop: trial %d: the committed load is lost\n", trial);
                ++lost;
            } else {
                ++rolledBack;
            }
        } else {
            std::fprintf(stderr, "load loop: trial %d: %lld records, neither %lld nor %lld\n", trial,
                         static_cast<long long>(count), static_cast<long long>(expected),
                         static_cast<long long>(expected + kLoadRows));
            ++partial;
            expected = count;
        }
    }
    std::printf("load loop: %d trials, %d committed, %d rolled back (%d from a journal to apply), %d lost, %d partial, "
                "%d damaged\n",
                trials, committed, rolledBack, hot, lost, partial, damaged);
    return lost == 0 && partial == 0 && damaged == 0 && failures == 0 ? 0 : 1;
}

// ------------------------------------------------------------- fault loop

// Fails the Nth call of one kind, counted while armed, and keeps track of
// the files written since their last sync.
class FaultIo : public engine::StorageIo {
public:
    enum class Kind { Write, ShortWrite, Sync, Read };

    void Set(Kind kind, int n) {
        FKind = kind;
        FTarget = n;
        FCalls = 0;
        FFired = false;
        FUnsynced.clear();
    }
    void Arm(bool on) { FArmed = on; }
    bool Fired() const { return FFired; }
    // The files written while armed and not synced since whose contents a
    // power failure could lose: a write-ahead log, or any other file unless
    // the table's log is still there (a checkpoint that failed leaves the
    // log, which holds everything, and the table file unsynced).
    std::string NotDurable(const std::string& table) const {
        std::error_code ec;
        const bool logKept = fs::file_size(table + "-wal", ec) > 0 && !ec;
        std::string files;
        for (const std::string& path : FUnsynced) {
            if (!fs::exists(path) || (logKept && !path.ends_with("-wal"))) continue;
            // A log that holds no frame (its own header and SQLite's), or a
            // journal that holds nothing but its header, has nothing to lose.
            const std::uintmax_t size = fs::file_size(path, ec);
            if (!ec && ((path.ends_with("-wal") && size <= engine::LogHeaderSize + 32) ||
                        (path.ends_with("-journal") && size <= engine::LogHeaderSize)))
                continue;
            files += (files.empty() ? "" : ", ") + path;
        }
        return files;
    }

    int Write(engine::StorageFile& file, const void* buffer, int amount, std::int64_t offset) override {
        // The table identity and log stamp in the catalog area are not
        // data: losing a write of them leaves a side file that holds nothing
        // to apply, which the next open takes over.
        const bool marksOnly = file.Kind == engine::FileKind::Table && offset >= engine::TableIdentityOffset &&
                               offset + amount <= engine::LogStampOffset + 8;
        if (FArmed && !marksOnly) FUnsynced.insert(file.Path);
        if (Hit(Kind::Write)) return SQLITE_IOERR_WRITE;
        if (Hit(Kind::ShortWrite)) {
            // Part of the data reaches the file, then the disk is full.
            if (amount / 2 > 0) StorageIo::Write(file, buffer, amount / 2, offset);
            return SQLITE_FULL;
        }
        return StorageIo::Write(file, buffer, amount, offset);
    }
    int Sync(engine::StorageFile& file, int flags) override {
        if (Hit(Kind::Sync)) return SQLITE_IOERR_FSYNC;
        const int rc = StorageIo::Sync(file, flags);
        if (rc == SQLITE_OK) FUnsynced.erase(file.Path);
        return rc;
    }
    int Read(engine::StorageFile& file, void* buffer, int amount, std::int64_t offset) override {
        return Hit(Kind::Read) ? SQLITE_IOERR_READ : StorageIo::Read(file, buffer, amount, offset);
    }

private:
    bool Hit(Kind kind) {
        if (!FArmed || FKind != kind || ++FCalls != FTarget) return false;
        FFired = true;
        return true;
    }

    Kind FKind = Kind::Write;
    int FTarget = 0;
    int FCalls = 0;
    bool FFired = false;
    bool FArmed = false;
    std::set<std::string> FUnsynced;
};

constexpr FaultIo::Kind kKinds[] = {FaultIo::Kind::Write, FaultIo::Kind::ShortWrite, FaultIo::Kind::Sync,
                                    FaultIo::Kind::Read};
const char* const kKindNames[] = {"write error", "short write", "sync error", "read error"};

FaultIo gFaults;

// Runs a step with the fault armed; returns "" or the failure it reported.
template <class F>
std::string Armed(F&& step) {
    gFaults.Arm(true);
    std::string failure;
    try {
        step();
    } catch (const std::exception& e) {
        failure = e.what();
        if (failure.empty()) failure = "(an error without a message)";
    }
    gFaults.Arm(false);
    return failure;
}

std::string Tool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    std::string failure;
    const std::string e = Armed([&] {
        if (tools::RunTool(args, out, err) != 0) failure = err.str().empty() ? "(no message)" : err.str();
    });
    return e.empty() ? failure : e;
}

// The operations. A tool operation runs whole; a table operation is a step
// on a table opened through TMoneyTable on record 150.
std::string OpCreate(const std::string& path, const std::string&) {
    return Tool({"create", path, "--column", "Id:L", "--column", "Name:C:30", "--column", "Amount:R", "--column",
                 "Memo:M", "--index", "Name"});
}

std::string OpImport(const std::string& path, const std::string& dir) {
    return Tool({"import", path, dir + "/fault.csv"});
}

std::string OpAddIndex(const std::string& path, const std::string&) {
    return Armed([&] { engine::AddIndex(path, engine::IndexSpec{{2}, false}); });
}

void OpInsert(TMoneyTable& t) {
    t.Append();
    t.FieldByName("Id")->SetAsInteger(1000);
    t.FieldByName("Name")->SetAsString("inserted");
    t.FieldByName("Memo")->SetAsString(std::string(5000, 'i'));
    t.Post();
}

void OpEdit(TMoneyTable& t) {
    t.Edit();
    t.FieldByName("Name")->SetAsString("edited");
    t.FieldByName("Memo")->SetAsString(std::string(3000, 'e'));
    t.Post();
}

void OpDelete(TMoneyTable& t) { t.Delete(); }

struct Operation {
    const char* Name;
    bool OnBaseTable;
    std::string (*Tool)(const std::string& path, const std::string& dir);  // or
    void (*Step)(TMoneyTable& t);
};

const Operation kOperations[] = {
    {"create", false, OpCreate, nullptr},   {"import", true, OpImport, nullptr}, {"insert", true, nullptr, OpInsert},
    {"edit", true, nullptr, OpEdit},        {"delete", true, nullptr, OpDelete}, {"add index", true, OpAddIndex, nullptr},
};

// The table of a table operation: open from its first attempt until Finish.
std::unique_ptr<TMoneyTable> gTable;

std::string Attempt(const Operation& op, const std::string& path, const std::string& dir) {
    if (op.Tool) return op.Tool(path, dir);
    gTable = std::make_unique<TMoneyTable>(nullptr);
    gTable->SetFileName(path);
    gTable->Open();
    gTable->SetRecNo(150);
    return Armed([&] { op.Step(*gTable); });
}

// What a user does after a failure: the same again, on the same table (a
// pending insert or edit is posted again).
std::string Retry(const Operation& op, const std::string& path, const std::string& dir) {
    if (op.Tool) return op.Tool(path, dir);
    return Armed([&] {
        if (gTable->State() == dsInsert || gTable->State() == dsEdit)
            gTable->Post();
        else
            op.Step(*gTable);
    });
}

// Leaves a pending change and closes the table; "" or the failure.
std::string Finish() {
    std::string failure;
    if (!gTable) return failure;
    try {
        if (gTable->State() == dsInsert || gTable->State() == dsEdit) gTable->Cancel();
        gTable->Close();
    } catch (const std::exception& e) {
        failure = e.what();
    }
    gTable.reset();
    return failure;
}

void MakeBase(const std::string& dir) {
    const std::string base = dir + "/base.dat";
    RemoveTable(base);
    engine::TableSchema schema;
    schema.Columns = {{"Id", 'L', 0}, {"Name", 'C', 30}, {"Amount", 'R', 0}, {"Memo", 'M', 0}};
    schema.Indexes = {{{1}, false}};
    engine::CreateTable(base, schema);
    engine::BulkInserter in(base);
    std::ofstream csv(dir + "/fault.csv");
    csv << "Id,Name,Amount,Memo\n";
    for (int i = 1; i <= 300; ++i) {
        in.Add({engine::Value::Int(i), engine::Value::Text("name " + std::to_string(i * 7919 % 300)),
                engine::Value::Real(i * 0.25), engine::Value::Text(std::string(static_cast<std::size_t>(i * 13 % 400), 'b'))});
        if (i <= 200) csv << 1000 + i << ",import " << i << "," << i << ".5," << std::string(static_cast<std::size_t>(i), 'c') << "\n";
    }
    in.Commit();
}

// What one operation's faults did.
struct Tally {
    long Injected = 0, Reported = 0, Lost = 0, Damaged = 0, Faults = 0;
    long Absorbed[std::size(kKinds)] = {};  // the operation succeeded with the right result
};

// The table's state: its contents, or "damaged: ..." when it fails the check
// or does not open.
std::string State(const std::string& path) {
    try {
        if (fs::exists(path))
            if (const std::string problem = CheckTable(path); !problem.empty()) return "damaged: " + problem;
        return Contents(path);
    } catch (const std::exception& e) {
        return std::string("damaged: ") + e.what();
    }
}

// The first line in which two states differ, for a message.
std::string Difference(const std::string& found, const std::string& expected) {
    std::istringstream f(found), e(expected);
    std::string a, b;
    while (true) {
        const bool moreF = static_cast<bool>(std::getline(f, a)), moreE = static_cast<bool>(std::getline(e, b));
        if (!moreF && !moreE) return "(no difference)";
        if (!moreF) a = "(the end)";
        if (!moreE) b = "(the end)";
        if (a != b) return "'" + a + "' where '" + b + "' was expected";
    }
}

// One run with the Nth call of kind k failing; done when the operation
// completed before the Nth call.
void FaultRun(const Operation& op, std::size_t k, int n, const std::string& path, const std::string& dir,
              const std::string& before, const std::string& after, Tally& t, bool& done) {
    const std::string failure = Attempt(op, path, dir);
    // Tool operations say "done" only once their result is durable.
    const std::string unsynced = op.Tool ? gFaults.NotDurable(path) : "";
    const std::string where = std::string(op.Name) + ", " + kKindNames[k] + " " + std::to_string(n);
    auto fault = [&](const std::string& what) {
        std::fprintf(stderr, "fault loop: %s: %s\n", where.c_str(), what.c_str());
        ++t.Faults;
    };
    std::string state = State(path);
    if (state.starts_with("damaged: ")) {
        std::fprintf(stderr, "fault loop: %s: the table is %s\n", where.c_str(), state.c_str());
        ++t.Damaged;
    }
    if (!gFaults.Fired()) {
        done = true;
        if (!failure.empty()) fault("fails without a fault: " + failure);
        else if (state != after) fault("gives another result without a fault: " + Difference(state, after));
        else if (!unsynced.empty()) fault("reported done with writes not synced: " + unsynced);
    } else if (failure.empty()) {
        // A failed write, read or sync of a checkpoint at the close leaves
        // the result in the write-ahead log: absorbed.
        ++t.Injected;
        if (state != after) fault("reported success with another result: " + Difference(state, after));
        else if (!unsynced.empty()) fault("reported success with writes not synced: " + unsynced);
        else ++t.Absorbed[k];
    } else {
        ++t.Injected;
        ++t.Reported;
        if (failure.find(fs::path(path).filename().string()) == std::string::npos)
            fault("the message does not name the file: " + failure);
        if (state == after) {
            // Applied, but whether durably a failed sync leaves open: saying
            // so is right. Any other fault must not fail what is done.
            if (kKinds[k] != FaultIo::Kind::Sync) fault("reported failure but applied: " + failure);
        } else if (state != before) {
            if (!state.starts_with("damaged: ")) {
                std::fprintf(stderr, "fault loop: %s: failed and left neither the old nor the new contents: %s\n",
                             where.c_str(), Difference(state, before).c_str());
                ++t.Lost;
            }
        } else if (const std::string again = Retry(op, path, dir); !again.empty()) {
            fault("once the disk works again, doing it again fails: " + again);
        } else if (const std::string contents = State(path); contents != after) {
            fault("once the disk works again, doing it again gives another result: " + Difference(contents, after));
        }
    }
    if (const std::string e = Finish(); !e.empty()) fault("the table does not close: " + e);
    if (fs::exists(path + ".rebuild")) fault("left " + path + ".rebuild behind");
}

int FaultLoop(const std::string& dir) {
    MakeBase(dir);
    const std::string base = dir + "/base.dat";
    const std::string path = dir + "/fault.dat";
    engine::SetStorageIo(&gFaults);
    auto reset = [&](const Operation& op) {
        RemoveTable(path);
        RemoveTable(path + ".rebuild");
        if (op.OnBaseTable) fs::copy_file(base, path);
    };
    Tally total;
    for (const Operation& op : kOperations) {
        Tally t;
        reset(op);
        const std::string before = State(path);
        gFaults.Set(FaultIo::Kind::Write, 0);
        const std::string e = Attempt(op, path, dir);
        const std::string closing = Finish();
        if (!e.empty() || !closing.empty()) {
            std::fprintf(stderr, "fault loop: %s fails without a fault: %s%s\n", op.Name, e.c_str(), closing.c_str());
            ++total.Faults;
            continue;
        }
        const std::string after = State(path);
        for (std::size_t k = 0; k < std::size(kKinds); ++k) {
            bool done = false;
            for (int n = 1; !done; ++n) {
                reset(op);
                gFaults.Set(kKinds[k], n);
                FaultRun(op, k, n, path, dir, before, after, t, done);
            }
        }
        long absorbed = 0;
        std::string kinds;
        for (std::size_t k = 0; k < std::size(kKinds); ++k) {
            absorbed += t.Absorbed[k];
            if (t.Absorbed[k]) kinds += std::string(kinds.empty() ? " (" : ", ") + kKindNames[k] + " " + std::to_string(t.Absorbed[k]);
        }
        if (!kinds.empty()) kinds += ")";
        std::printf("fault loop: %-9s %3ld faults: %3ld reported (each then done again), %3ld absorbed%s, %ld lost, "
                    "%ld damaged, %ld other faults\n",
                    op.Name, t.Injected, t.Reported, absorbed, kinds.c_str(), t.Lost, t.Damaged, t.Faults);
        total.Injected += t.Injected;
        total.Reported += t.Reported;
        total.Lost += t.Lost;
        total.Damaged += t.Damaged;
        total.Faults += t.Faults;
    }
    engine::SetStorageIo(nullptr);
    RemoveTable(path);
    std::printf("fault loop: %zu operations, %ld faults injected, %ld reported, %ld lost, %ld damaged\n",
                std::size(kOperations), total.Injected, total.Reported, total.Lost, total.Damaged);
    return total.Faults == 0 && total.Lost == 0 && total.Damaged == 0 ? 0 : 1;
}

// ------------------------------------------------------------ two writers

constexpr int kCounters = 3;

// Increments random counters until the deadline; writes "posts conflicts
// others" to fd.
[[noreturn]] void RunCounter(const std::string& path, int seconds, int seed, int fd) {
    long posts = 0, conflicts = 0, others = 0;
    try {
        std::mt19937 rng(static_cast<unsigned>(seed));
        TMoneyTable t(nullptr);
        t.SetFileName(path);
        t.Open();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            t.SetRecNo(1 + static_cast<int>(rng() % kCounters));
            try {
                t.Edit();
                TField* count = t.FieldByName("Count");
                count->SetAsInteger(count->AsInteger() + 1);
                // Holding the lock a moment lets the other writer meet it.
                if (rng() % 2) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 300));
                t.Post();
                ++posts;
            } catch (const std::exception& e) {
                if (t.State() == dsEdit) t.Cancel();
                if (std::string(e.what()).find("locked by another user") != std::string::npos) {
                    ++conflicts;
                } else {
                    ++others;
                    std::fprintf(stderr, "two writers: writer %d: %s\n", seed, e.what());
                }
            }
        }
        t.Close();
    } catch (const std::exception& e) {
        ++others;
        std::fprintf(stderr, "two writers: writer %d failed: %s\n", seed, e.what());
    }
    const std::string line = std::to_string(posts) + " " + std::to_string(conflicts) + " " + std::to_string(others) + "\n";
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    std::_Exit(written ? 0 : 3);
}

int TwoWriters(const std::string& dir, int seconds) {
    const std::string path = dir + "/writers.dat";
    RemoveTable(path);
    engine::TableSchema schema;
    schema.Columns = {{"Slot", 'L', 0}, {"Count", 'L', 0}};
    engine::CreateTable(path, schema);
    {
        engine::BulkInserter in(path);
        for (int i = 1; i <= kCounters; ++i) in.Add({engine::Value::Int(i), engine::Value::Int(0)});
        in.Commit();
    }
    long posts = 0, conflicts = 0, others = 0;
    std::vector<std::pair<pid_t, int>> children;
    for (int w = 1; w <= 2; ++w) {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("cannot make a pipe");
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            RunCounter(path, seconds, w, fds[1]);
        }
        ::close(fds[1]);
        children.emplace_back(pid, fds[0]);
    }
    for (auto [pid, fd] : children) {
        std::string text;
        char buf[128];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
        ::close(fd);
        const int status = Reap(pid);
        const std::vector<long> n = Numbers(text);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || n.size() != 3) {
            ++others;
            continue;
        }
        posts += n[0];
        conflicts += n[1];
        others += n[2];
    }
    long sum = 0;
    std::string problem = CheckTable(path);
    try {
        TMoneyTable t(nullptr);
        t.SetFileName(path);
        t.Open();
        for (t.First(); !t.Eof(); t.Next()) sum += t.FieldByName("Count")->AsInteger();
    } catch (const std::exception& e) {
        problem += e.what();
    }
    if (!problem.empty()) std::fprintf(stderr, "two writers: the table is damaged: %s\n", problem.c_str());
    std::printf("two writers: %d s, %ld posts, %ld conflicts (locked by another user), %ld other errors, sum of "
                "counters %ld, %ld lost\n",
                seconds, posts, conflicts, others, sum, posts - sum);
    return sum == posts && others == 0 && problem.empty() ? 0 : 1;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: stress_driver kill DIR TRIALS [MS] | loads DIR TRIALS [MS] | fault DIR | writers DIR SECONDS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    engine::RegisterEngineServer();
    FormatSettings = TFormatSettings::Invariant();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 2) return Usage();
    const std::string& dir = args[1];
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::string rest;
    for (std::size_t i = 2; i < args.size(); ++i) rest += args[i] + " ";
    const std::vector<long> n = Numbers(rest);
    try {
        if (args[0] == "kill" && (n.size() == 1 || n.size() == 2) && n[0] > 0 && n[0] <= 2000 && n.back() > 0)
            return KillLoop(dir, static_cast<int>(n[0]), n.size() == 2 ? static_cast<int>(n[1]) : 150);
        if (args[0] == "loads" && (n.size() == 1 || n.size() == 2) && n[0] > 0 && n[0] <= 2000 && n.back() > 0)
            return LoadLoop(dir, static_cast<int>(n[0]), n.size() == 2 ? static_cast<int>(n[1]) : 300);
        if (args[0] == "fault" && args.size() == 2) return FaultLoop(dir);
        if (args[0] == "writers" && n.size() == 1 && n[0] > 0) return TwoWriters(dir, static_cast<int>(n[0]));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "stress_driver %s: %s\n", args[0].c_str(), e.what());
        return 1;
    }
    return Usage();
}
