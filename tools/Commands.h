// The `tamblor` command-line tool: its table of commands and the dispatcher.
//
// RunTool(args) runs one command line (args[0] is the command name, as in
// argv after the program name) and returns the process exit code:
//   0  success
//   1  the command failed; one line "tamblor COMMAND: <message>" on the
//      error stream, the message naming the file concerned
//   2  usage error; "tamblor COMMAND: <reason>" and a hint to --help on the
//      error stream ("tamblor: <reason>" when the command itself is wrong)
// "--help" (or "-h") anywhere in a command's arguments prints that command's
// help on the output stream and returns 0; "tamblor --help" and
// "tamblor help [COMMAND]" print the tool's or a command's help;
// "tamblor --version" is "tamblor version".
// A command that reads the standard input ("import TABLE -") reads std::cin.
//
// Each command is an entry of CommandTable(): name, one-line summary, help
// text and the function that runs it. The function receives the arguments
// after the command name and throws UsageError (exit 2), ToolError or
// engine::EngineError (exit 1); anything it prints goes to `out` / `err`.
// Commands that need the engine's COM classes rely on the program having
// called RegisterEngineServer() before RunTool.
//
// Threads: one call at a time per process (commands write files).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tools {

struct Command {
    const char* Name;
    const char* Summary;  // one line for the tool's help
    const char* Help;     // full help of the command (usage line first)
    int (*Run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

// Every command of the tool, in the order the tool's help lists them.
const std::vector<Command>& CommandTable();

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The commands of this unit (also callable from tests).
int RunCreate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Exit code 0 when the table is sound, 1 when it is damaged.
int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunSample(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunVersion(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// tools/ExportCommand.cpp: `tamblor export`, through TMoneyTable.
int RunExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
extern const char* const kExportHelp;

}  // namespace tools
