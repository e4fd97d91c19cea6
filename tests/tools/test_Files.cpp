// What a path names, the checks before a table or a CSV file is read, and
// the output file that replaces its target only when complete.
#include "tools/Files.h"

#include "engine/Engine.h"
#include "tools/Args.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using tools::TReplacingFile;

namespace {

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tamblor-files-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        target = (dir / "out.csv").string();
        std::ofstream(target, std::ios::binary) << "old content\n";
        ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    }
    void TearDown() override { fs::remove_all(dir); }

    // The names in the folder (so a temporary file left behind shows).
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    template <class F>
    static std::string ToolErrorOf(F&& f) {
        try {
            f();
        } catch (const tools::ToolError& e) {
            return e.what();
        }
        return "(no error)";
    }

    fs::path dir;
    std::string target;
};

}  // namespace

TEST_F(Files, DescribeFileSaysWhatAPathNames) {
    const std::string table = (dir / "t.dat").string(), empty = (dir / "empty").string(),
                      binary = (dir / "pic.png").string(), missing = (dir / "missing").string();
    engine::CreateTable(table, {{{"A", 'L', 0, false}}, {}, ""});
    std::ofstream(empty).flush();
    std::ofstream(binary, std::ios::binary) << std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    EXPECT_EQ(tools::DescribeFile(dir.string()), "a directory");
    EXPECT_EQ(tools::DescribeFile(table), "a table file");
    EXPECT_EQ(tools::DescribeFile(target), "a text file");
    EXPECT_EQ(tools::DescribeFile(empty), "an empty file");
    EXPECT_EQ(tools::DescribeFile(binary), "a binary file");
    EXPECT_EQ(tools::DescribeFile(missing), "");
    EXPECT_EQ(tools::DescribeFile("/dev/null"), "");  // a device: its content is not looked at

    EXPECT_EQ(ToolErrorOf([&] { tools::CheckTableFile(table); }), "(no error)");
    EXPECT_EQ(ToolErrorOf([&] { tools::CheckTableFile(missing); }), "(no error)");  // the engine names it
    EXPECT_EQ(ToolErrorOf([&] { tools::CheckTableFile(target); }), target + ": is a text file, not a table file");
    EXPECT_EQ(ToolErrorOf([&] { tools::CheckTableFile(dir.string()); }), dir.string() + ": is a directory, not a table file");
    EXPECT_EQ(ToolErrorOf([&] { tools::CheckTableFile(empty); }), empty + ": is an empty file, not a table file");
    EXPECT_EQ(ToolErrorOf([&] { tools::CheckCsvFile(target); }), "(no error)");
    EXPECT_EQ(ToolErrorOf([&] { tools::CheckCsvFile(empty); }), "(no error)");
    EXPECT_EQ(ToolErrorOf([&] { tools::CheckCsvFile(table); }), table + ": is a table file, not a CSV file");
    EXPECT_EQ(ToolErrorOf([&] { tools::CheckCsvFile(binary); }), binary + ": is a binary file, not a CSV file");
    EXPECT_EQ(ToolErrorOf([&] { tools::CheckCsvFile(dir.string()); }), dir.string() + ": is a directory, not a CSV file");
}

TEST_F(Files, ReplacingFileReplacesOnlyWhenCommitted) {
    {
        TReplacingFile file(target);
        file.WriteString("new content\n");
        EXPECT_EQ(ReadFile(target), "old content\n");
        EXPECT_EQ(Names().size(), 2u);  // the target and the temporary file beside it
    }
    EXPECT_EQ(ReadFile(target), "old content\n");
    EXPECT_EQ(Names(), std::vector<std::string>({"out.csv"}));

    {
        TReplacingFile file(target);
        file.WriteString("new content\n");
        file.Commit();
    }
    EXPECT_EQ(ReadFile(target), "new content\n");
    EXPECT_EQ(Names(), std::vector<std::string>({"out.csv"}));
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));  // the replaced file's permissions

    // Through a symbolic link: the file it points to is replaced, the link stays.
    fs::create_symlink("out.csv", dir / "link.csv");
    {
        TReplacingFile file((dir / "link.csv").string());
        EXPECT_EQ(file.Target(), fs::canonical(target).string());
        file.WriteString("through the link\n");
        file.Commit();
    }
    EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));
    EXPECT_EQ(ReadFile(target), "through the link\n");

    // A new file; a device is written in place.
    {
        TReplacingFile file((dir / "new.csv").string());
        file.WriteString("x");
        file.Commit();
    }
    EXPECT_EQ(ReadFile(dir / "new.csv"), "x");
    {
        TReplacingFile file("/dev/null");
        file.WriteString("nothing");
        file.Commit();
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(ToolErrorOf([&] { TReplacingFile file(dir.string()); }), dir.string() + ": is a directory");
}

// A full disk, as the file size limit makes it: the write fails with the
// system's reason, the target stays as it was and no temporary file is left.
TEST_F(Files, AFailedWriteLeavesTheFileAsItWas) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(pipeFds[0]);
        struct rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG
        std::string message = "(no error)";
        try {
            TReplacingFile file(target);
            const std::string block(1000, 'y');
            for (int i = 0; i < 10; ++i) file.WriteString(block);
            file.Commit();
        } catch (const tools::ToolError& e) {
            message = e.what();
        }
        [[maybe_unused]] const ssize_t written = write(pipeFds[1], message.data(), message.size());
        _exit(0);
    }
    close(pipeFds[1]);
    std::string message;
    char buf[256];
    ssize_t n;
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) message.append(buf, std::size_t(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(message, target + ": cannot write: File too large");
    EXPECT_EQ(ReadFile(target), "old content\n");
    EXPECT_EQ(Names(), std::vector<std::string>({"out.csv"}));
}
