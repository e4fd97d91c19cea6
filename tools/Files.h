// Files of the `tamblor` tool: what a path names, the checks that a command
// makes before it reads a table or a CSV file, and the output file of an
// export, written beside its target and renamed over it only when complete.
//
// DescribeFile(path) says what a path names, for messages: "a directory",
// "a table file" (the table signature at its start), "an empty file", "a
// text file" or "a binary file" (a NUL byte in its first 4 KiB); "" when the
// path does not exist or names neither a regular file nor a directory (a
// pipe or a device, whose content is not looked at).
// CheckTableFile(path) throws ToolError "<path>: is <what>, not a table file"
// when the path names something other than a table file; a missing path
// passes (the engine names it). CheckCsvFile(path) throws ToolError
// "<path>: is <what>, not a CSV file" for a directory, a table file or a
// binary file.
//
// TReplacingFile writes an output file so that the file as it was stays
// whole until the new one is complete:
//   - construction creates a temporary file ".NAME.XXXXXX" in the target's
//     folder (the folder of the file a symbolic link points to), with the
//     target's permissions (those of a new file when there is none); a
//     target that is a directory, or a folder where no file can be created,
//     throws ToolError naming the target and the reason;
//   - Write appends; a failed write throws ToolError "<target>: cannot
//     write: <reason>" (a full disk, say);
//   - Commit flushes the data to the disk (fsync), renames the temporary
//     file over the target and flushes the folder;
//   - destruction without Commit removes the temporary file. While the
//     object lives, SIGINT, SIGTERM, SIGHUP and SIGXFSZ (those not ignored
//     when it was made) remove it too before they end the process; a
//     SIGKILL or a power failure leaves it behind, but never touches the
//     target.
//
// Ownership: TReplacingFile owns its descriptor and its temporary file.
// Threads: one TReplacingFile at a time per process (the signal handlers
// know one temporary file), used by the thread that made it.
#pragma once

#include "rtl/Classes.h"

#include <string>

namespace tools {

std::string DescribeFile(const std::string& Path);
void CheckTableFile(const std::string& Path);
void CheckCsvFile(const std::string& Path);

class TReplacingFile : public TStream {
public:
    explicit TReplacingFile(const std::string& Target);
    ~TReplacingFile() override;
    TReplacingFile(const TReplacingFile&) = delete;
    TReplacingFile& operator=(const TReplacingFile&) = delete;

    std::int64_t Read(void* Buffer, std::int64_t Count) override;
    std::int64_t Write(const void* Buffer, std::int64_t Count) override;
    std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
    void Commit();

    // The file that Commit replaces (a symbolic link resolved).
    const std::string& Target() const noexcept { return FTarget; }
    const std::string& TempName() const noexcept { return FTemp; }

private:
    std::string FName;    // as given, for messages
    std::string FTarget;  // the path renamed over
    std::string FTemp;
    int FHandle = -1;
    std::int64_t FWritten = 0;
};

}  // namespace tools
