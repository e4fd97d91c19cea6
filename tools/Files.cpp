#include "tools/Files.h"

#include "tools/Args.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace tools {

namespace {

// One wording for a full disk wherever it strikes (WriteFailureReason).
std::string ErrnoText(int Error) { return WriteFailureReason(Error); }

// ---------------------------------------------------------------- signals

// The temporary file that the signal handlers remove: a fixed buffer, as a
// handler may only read memory that needs no allocation.
char GTempPath[PATH_MAX];
volatile std::sig_atomic_t GArmed = 0;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
struct sigaction GOldActions[std::size(kSignals)];
bool GInstalled[std::size(kSignals)];

extern "C" void RemoveTempAndEnd(int Signal) {
    if (GArmed) ::unlink(GTempPath);
    std::signal(Signal, SIG_DFL);
    std::raise(Signal);  // delivered with its default action once the handler returns
}

void Arm(const std::string& Path) {
    if (Path.size() >= sizeof GTempPath) return;
    std::memcpy(GTempPath, Path.c_str(), Path.size() + 1);
    GArmed = 1;
    for (std::size_t I = 0; I < std::size(kSignals); ++I) {
        struct sigaction Old{};
        sigaction(kSignals[I], nullptr, &Old);
        GInstalled[I] = Old.sa_handler != SIG_IGN;  // an ignored signal stays ignored
        if (!GInstalled[I]) continue;
        struct sigaction Action{};
        Action.sa_handler = RemoveTempAndEnd;
        sigemptyset(&Action.sa_mask);
        sigaction(kSignals[I], &Action, &GOldActions[I]);
    }
}

void Disarm() {
    if (!GArmed) return;
    GArmed = 0;
    for (std::size_t I = 0; I < std::size(kSignals); ++I)
        if (GInstalled[I]) sigaction(kSignals[I], &GOldActions[I], nullptr);
}

}  // namespace

// ---------------------------------------------------------------- kinds of files

std::string DescribeFile(const std::string& Path) {
    struct stat St{};
    if (::stat(Path.c_str(), &St) != 0) return "";
    if (S_ISDIR(St.st_mode)) return "a directory";
    if (!S_ISREG(St.st_mode)) return "";
    if (St.st_size == 0) return "an empty file";
    const int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0) return "";
    char Head[4096];
    const ssize_t N = ::read(Fd, Head, sizeof Head);
    ::close(Fd);
    if (N <= 0) return "";
    // The table file's signature follows its format version byte.
    if (N >= 5 && std::memcmp(Head + 1, "BFT1", 4) == 0) return "a table file";
    if (std::memchr(Head, 0, static_cast<std::size_t>(N))) return "a binary file";
    return "a text file";
}

void CheckTableFile(const std::string& Path) {
    const std::string What = DescribeFile(Path);
    if (!What.empty() && What != "a table file") throw ToolError(Path + ": is " + What + ", not a table file");
}

void CheckCsvFile(const std::string& Path) {
    const std::string What = DescribeFile(Path);
    if (What == "a directory" || What == "a table file" || What == "a binary file")
        throw ToolError(Path + ": is " + What + ", not a CSV file");
}

// ---------------------------------------------------------------- TReplacingFile

TReplacingFile::TReplacingFile(const std::string& Target) : FName(Target), FTarget(Target) {
    namespace fs = std::filesystem;
    struct stat St{};
    if (::lstat(FTarget.c_str(), &St) == 0 && S_ISLNK(St.st_mode)) {
        // Replace the file the link points to, not the link.
        if (char* Real = ::realpath(FTarget.c_str(), nullptr)) {
            FTarget = Real;
            std::free(Real);
        }
    }
    const bool Exists = ::stat(FTarget.c_str(), &St) == 0;
    if (Exists && S_ISDIR(St.st_mode)) throw ToolError(FName + ": is a directory");
    if (Exists && !S_ISREG(St.st_mode)) {
        // A device or a pipe (/dev/null, a FIFO): written in place.
        FHandle = ::open(FTarget.c_str(), O_WRONLY | O_CLOEXEC);
        if (FHandle < 0) throw ToolError(FName + ": cannot open: " + ErrnoText(errno));
        return;
    }
    if (Exists && ::access(FTarget.c_str(), W_OK) != 0)
        throw ToolError(FName + ": cannot replace the file: " + ErrnoText(errno));
    mode_t Mode;
    if (Exists) {
        Mode = St.st_mode & 07777;
    } else {
        const mode_t Mask = ::umask(0);
        ::umask(Mask);
        Mode = 0666 & ~Mask;
    }
    const fs::path Path(FTarget);
    const fs::path Folder = Path.has_parent_path() ? Path.parent_path() : fs::path(".");
    std::string Template = (Folder / ("." + Path.filename().string() + ".XXXXXX")).string();
    FHandle = ::mkostemp(Template.data(), O_CLOEXEC);
    if (FHandle < 0)
        throw ToolError(FName + ": cannot create a file in " + Folder.string() + ": " + ErrnoText(errno));
    FTemp = Template;
    Arm(FTemp);
    ::fchmod(FHandle, Mode);
    // The owner of the file replaced stays its owner (when we may say so).
    if (Exists && (St.st_uid != ::geteuid() || St.st_gid != ::getegid()) &&
        ::fchown(FHandle, St.st_uid, St.st_gid) != 0) {
        // Not permitted: the new file is ours.
    }
}

TReplacingFile::~TReplacingFile() {
    if (FHandle >= 0) ::close(FHandle);
    if (!FTemp.empty()) ::unlink(FTemp.c_str());
    Disarm();
}

std::int64_t TReplacingFile::Read(void*, std::int64_t) { return 0; }

std::int64_t TReplacingFile::Write(const void* Buffer, std::int64_t Count) {
    const char* P = static_cast<const char*>(Buffer);
    std::int64_t Left = Count;
    while (Left > 0) {
        const ssize_t N = ::write(FHandle, P, static_cast<std::size_t>(Left));
        if (N < 0 && errno == EINTR) continue;
        if (N < 0) throw ToolError(FName + ": cannot write: " + ErrnoText(errno));
        P += N;
        Left -= N;
    }
    FWritten += Count;
    return Count;
}

std::int64_t TReplacingFile::Seek(std::int64_t Offset, TSeekOrigin Origin) {
    if (Offset == 0 && Origin != soBeginning) return FWritten;
    throw EStreamError("Invalid stream position");
}

void TReplacingFile::Commit() {
    if (FTemp.empty()) {  // written in place
        const int Fd = FHandle;
        FHandle = -1;
        if (::close(Fd) != 0) throw ToolError(FName + ": cannot write: " + ErrnoText(errno));
        return;
    }
    if (::fsync(FHandle) != 0) throw ToolError(FName + ": cannot write: " + ErrnoText(errno));
    const int Fd = FHandle;
    FHandle = -1;
    if (::close(Fd) != 0) throw ToolError(FName + ": cannot write: " + ErrnoText(errno));
    if (::rename(FTemp.c_str(), FTarget.c_str()) != 0)
        throw ToolError(FName + ": cannot replace the file: " + ErrnoText(errno));
    FTemp.clear();
    Disarm();
    // The new directory entry reaches the disk too.
    const std::filesystem::path Path(FTarget);
    const std::string Folder = Path.has_parent_path() ? Path.parent_path().string() : ".";
    const int Dir = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Dir >= 0) {
        ::fsync(Dir);
        ::close(Dir);
    }
}

}  // namespace tools
