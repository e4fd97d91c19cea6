// The palette host: the tamblor-palette program run on the built package
// (listing, --bitmap, exit codes) and its command line in process.
#include "package/PaletteHost.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "PackageTestKit.h"
#include "package/PackageLoader.h"

extern char** environ;

namespace {

using package::RunPaletteHost;
using pkgtest::PackageFile;

struct TRun {
    int Code = -1;
    std::string Out;
    std::string Err;
};

std::string ReadFile(const std::string& Name) {
    std::ifstream In(Name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), {});
}

// A temporary folder, removed with its files.
class TTempDir {
public:
    TTempDir() {
        char Template[] = "/tmp/palette-test-XXXXXX";
        FPath = mkdtemp(Template);
    }
    ~TTempDir() {
        for (const std::string& F : FFiles) unlink(F.c_str());
        rmdir(FPath.c_str());
    }
    std::string File(const std::string& Name) {
        FFiles.push_back(FPath + "/" + Name);
        return FFiles.back();
    }

private:
    std::string FPath;
    std::vector<std::string> FFiles;
};

// Runs the palette host program (no shell) and collects its output.
TRun RunProgram(const std::vector<std::string>& Args, TTempDir& Dir) {
    const std::string OutFile = Dir.File("stdout"), ErrFile = Dir.File("stderr");
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, 1, OutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&Actions, 2, ErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> All{pkgtest::PaletteHostFile};
    All.insert(All.end(), Args.begin(), Args.end());
    std::vector<char*> Argv;
    for (std::string& A : All) Argv.push_back(A.data());
    Argv.push_back(nullptr);
    pid_t Pid = 0;
    TRun R;
    if (posix_spawn(&Pid, All[0].c_str(), &Actions, nullptr, Argv.data(), environ) == 0) {
        int Status = 0;
        waitpid(Pid, &Status, 0);
        R.Code = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
    }
    posix_spawn_file_actions_destroy(&Actions);
    R.Out = ReadFile(OutFile);
    R.Err = ReadFile(ErrFile);
    return R;
}

TRun RunInProcess(const std::vector<std::string>& Args) {
    std::ostringstream Out, Err;
    TRun R;
    R.Code = RunPaletteHost(Args, Out, Err);
    R.Out = Out.str();
    R.Err = Err.str();
    return R;
}

const std::string Usage = "usage: tamblor-palette [--bitmap FILE] PACKAGE.so\n";

const std::string Listing = R"(Package Quenby_Tamblor: Money table components: TMoneyTable and the engine's filter and relation servers
Units: Tamblor, Orbalk_TLB, Vennick_TLB

Page "Data Access"
  TMoneyTable (unit Tamblor; bitmap TMONEYTABLE 24 x 24, 16 colours)
    Name: TComponentName
    Tag: NativeInt = 0
    Exclusive: Boolean = False
    FileName: TFileName
    IndexFieldNames: string
    MasterFields: string
    MasterSource: TDataSource
    ReadOnly: Boolean = False
    BeforeOpen: TDataSetNotifyEvent
    AfterOpen: TDataSetNotifyEvent
    BeforeClose: TDataSetNotifyEvent
    AfterClose: TDataSetNotifyEvent
    BeforeInsert: TDataSetNotifyEvent
    AfterInsert: TDataSetNotifyEvent
    BeforeEdit: TDataSetNotifyEvent
    AfterEdit: TDataSetNotifyEvent
    BeforePost: TDataSetNotifyEvent
    AfterPost: TDataSetNotifyEvent
    BeforeCancel: TDataSetNotifyEvent
    AfterCancel: TDataSetNotifyEvent
    BeforeDelete: TDataSetNotifyEvent
    AfterDelete: TDataSetNotifyEvent
    BeforeScroll: TDataSetNotifyEvent
    AfterScroll: TDataSetNotifyEvent
    BeforeRefresh: TDataSetNotifyEvent
    AfterRefresh: TDataSetNotifyEvent
    OnCalcFields: TDataSetNotifyEvent
    OnDeleteError: TDataSetErrorEvent
    OnEditError: TDataSetErrorEvent
    OnNewRecord: TDataSetNotifyEvent
    OnPostError: TDataSetErrorEvent

Page "Servers"
  TBFFilter (unit Vennick_TLB; no bitmap)
    no published properties
  TBFRelation (unit Vennick_TLB; no bitmap)
    no published properties
)";

TEST(PaletteHostProgramTest, ListsPagesClassesAndProperties) {
    TTempDir Dir;
    const TRun R = RunProgram({PackageFile}, Dir);
    EXPECT_EQ(R.Code, 0) << R.Err;
    EXPECT_EQ(R.Out, Listing);
    EXPECT_EQ(R.Err, "");
}

TEST(PaletteHostProgramTest, WritesThePaletteBitmap) {
    TTempDir Dir;
    const std::string Bmp = Dir.File("table.bmp");
    const TRun R = RunProgram({"--bitmap", Bmp, PackageFile}, Dir);
    EXPECT_EQ(R.Code, 0) << R.Err;
    EXPECT_EQ(R.Out, Listing + "\nWrote bitmap TMONEYTABLE (406 bytes) to " + Bmp + "\n");
    package::TLoadedPackage Package(PackageFile);
    const auto Resource = Package.FindResource("TMONEYTABLE");
    EXPECT_EQ(ReadFile(Bmp), std::string(Resource.begin(), Resource.end()));
}

TEST(PaletteHostProgramTest, FailsClearlyOnAFileThatIsNoPackage) {
    TTempDir Dir;
    const TRun R = RunProgram({pkgtest::RuntimeFile}, Dir);
    EXPECT_EQ(R.Code, 1);
    EXPECT_EQ(R.Out, "");
    EXPECT_EQ(R.Err, "tamblor-palette: " + pkgtest::RuntimeFile +
                         " is not a component package: it has no entry point QuenbyPackageInfo\n");
}

TEST(PaletteHostCommandLineTest, WrongUsage) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> Cases{
        {{}, Usage},
        {{"--bitmap"}, "tamblor-palette: --bitmap needs a file name\n" + Usage},
        {{PackageFile, "--bitmap"}, "tamblor-palette: --bitmap needs a file name\n" + Usage},
        {{"--colour", PackageFile}, "tamblor-palette: unknown option --colour\n" + Usage},
        {{PackageFile, PackageFile}, "tamblor-palette: more than one package given\n" + Usage},
    };
    for (const auto& [Args, Err] : Cases) {
        const TRun R = RunInProcess(Args);
        EXPECT_EQ(R.Code, 2);
        EXPECT_EQ(R.Out, "");
        EXPECT_EQ(R.Err, Err);
    }
    const TRun Help = RunInProcess({"--help"});
    EXPECT_EQ(Help.Code, 0);
    EXPECT_EQ(Help.Out, Usage);
}

TEST(PaletteHostCommandLineTest, LoadAndWriteFailures) {
    TRun R = RunInProcess({"no-such-package.so"});
    EXPECT_EQ(R.Code, 1);
    const std::string Prefix = "tamblor-palette: Cannot load package ./no-such-package.so: ";
    EXPECT_EQ(R.Err.substr(0, Prefix.size()), Prefix);

    R = RunInProcess({"--bitmap", "/nonexistent-folder/table.bmp", PackageFile});
    EXPECT_EQ(R.Code, 1);
    EXPECT_EQ(R.Err, "tamblor-palette: Cannot create file /nonexistent-folder/table.bmp\n");
    // The listing came before the failed write.
    EXPECT_EQ(R.Out, Listing);
    // The package is unloaded again after the run.
    EXPECT_FALSE(rtl::FindComponentClass("TMoneyTable"));
}

}  // namespace
