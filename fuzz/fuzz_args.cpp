// Fuzz target: the `tamblor` command line, run against a scratch folder.
//
// Input: the arguments after the program name, one per line. Before each
// input the folder holds a small table t.dat, a CSV file a.csv that matches
// it and an empty text file o.txt; the command runs with the folder as the
// working directory. Checked: the exit code is 0, 1 or 2, and a failure says
// why on the error stream in a line that starts with "tamblor".
// Arguments that could reach outside the folder (an absolute path, also as
// --option=/path, or "..") and `sample` runs of more than a few records
// (10,000 by default) are skipped: every input stays inside the folder and
// quick.
#include "engine/Engine.h"
#include "fuzz/FuzzSupport.h"
#include "rtl/Rtl.h"
#include "tools/Commands.h"

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string gOrigin;     // the working directory that libFuzzer was started in
std::string gWork;       // the folder the commands run in
std::string gTableBytes;  // t.dat as made at start-up

void MakeFixtures() {
    const std::string path = fuzz::ScratchDir() + "/template.dat";
    engine::TableSchema schema;
    schema.Columns = {{"Name", 'C', 20}, {"Amount", 'R', 0}, {"Day", 'D', 0}, {"Id", 'L', 0, true}, {"Note", 'M', 0}};
    schema.Indexes = {{{0}, false}, {{3}, true}};
    engine::CreateTable(path, schema);
    {
        engine::BulkInserter in(path);
        using engine::Value;
        in.Add({Value::Text("Alice"), Value::Real(12.5), Value::Int(45000), Value::Null(), Value::Text("a, \"b\"")});
        in.Add({Value::Text("bob"), Value::Null(), Value::Null(), Value::Null(), Value::Null()});
        in.Add({Value::Text("\xC3\x89mile"), Value::Real(-3), Value::Int(1), Value::Null(), Value::Text("x\r\ny")});
        in.Commit();
    }
    gTableBytes = fuzz::ReadFile(path);
    fuzz::RemoveTable(path);
    gWork = fuzz::ScratchDir() + "/work";
}

void ResetWork() {
    std::error_code ec;
    std::filesystem::remove_all(gWork, ec);
    std::filesystem::create_directory(gWork, ec);
    fuzz::WriteFile(gWork + "/t.dat", gTableBytes);
    fuzz::WriteFile(gWork + "/a.csv", "Name,Amount,Day,Note\r\nCarol,1.5,2024-02-29,\"multi\nline\"\r\n,,,\r\n");
    fuzz::WriteFile(gWork + "/o.txt", "");
}

bool StaysInside(const std::vector<std::string>& args) {
    for (const std::string& a : args)
        if (a.starts_with("/") || a.find("=/") != std::string::npos || a.find("..") != std::string::npos)
            return false;
    return true;
}

bool Quick(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "sample") return true;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string value;
        if (args[i] == "--records" && i + 1 < args.size())
            value = args[i + 1];
        else if (args[i].starts_with("--records="))
            value = args[i].substr(10);
        else
            continue;
        return !value.empty() && value.size() <= 2 && value.find_first_not_of("0123456789") == std::string::npos;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    engine::RegisterEngineServer();
    FormatSettings = TFormatSettings::Invariant();
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) fuzz::Fail("cannot read the working directory");
    gOrigin = cwd;
    MakeFixtures();
    // The commands run inside the scratch folder: a crash input must still be
    // written where libFuzzer was started, unless a prefix was given.
    bool hasPrefix = false;
    for (int i = 1; i < *argc; ++i) hasPrefix = hasPrefix || std::string((*argv)[i]).starts_with("-artifact_prefix=");
    if (!hasPrefix) {
        static std::vector<char*> args(*argv, *argv + *argc);
        static std::string prefix = "-artifact_prefix=" + gOrigin + "/";
        args.push_back(prefix.data());
        args.push_back(nullptr);
        *argc += 1;
        *argv = args.data();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        args.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (!StaysInside(args) || !Quick(args)) return 0;
    ResetWork();
    if (::chdir(gWork.c_str()) != 0) fuzz::Fail("cannot enter the scratch folder");
    std::ostringstream out, err;
    const int code = tools::RunTool(args, out, err);
    if (::chdir(gOrigin.c_str()) != 0) fuzz::Fail("cannot return to the working directory");
    const std::string e = err.str();
    fuzz::Check(code == 0 || code == 1 || code == 2, "exit code " + std::to_string(code));
    if (code != 0)
        fuzz::Check(e.starts_with("tamblor") && e.ends_with("\n"), "a failure without its reason: '" + e + "'");
    return 0;
}
