// Command-line arguments of the `tamblor` tool's commands.
//
// ParseArgs splits a command's arguments into positional parameters and
// options. An option is "--name", "--name value" or "--name=value"; "--"
// ends the options (everything after it is positional). An unknown option, a
// missing value, a value given to a flag, or a repeated option that is not
// repeatable throws UsageError, as does every check of a command's
// arguments: the tool answers it with exit code 2.
//
// Ownership: values. Threads: reentrant.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tools {

// A wrong command line: the tool prints the message and exits with 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failure of a command (file, table, data): the tool prints the message,
// which names the file concerned, and exits with 1.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Why an output could not be written, for a ToolError: "the disk is full"
// for a full disk (the one wording the engine uses as well), else the
// system's text for err ("write error" when err is 0).
std::string WriteFailureReason(int err);

struct OptionSpec {
    std::string Name;  // without the leading "--"
    bool TakesValue = false;
    bool Repeatable = false;
};

struct ParsedArgs {
    std::vector<std::string> Positional;
    std::map<std::string, std::vector<std::string>> Options;  // flags hold one empty value

    bool Has(const std::string& name) const { return Options.count(name) != 0; }
    // The values of an option in the order given (empty when absent).
    const std::vector<std::string>& Values(const std::string& name) const;
    // The value of a single-valued option, or `fallback` when absent.
    std::string Value(const std::string& name, const std::string& fallback = "") const;
};

ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs);

// Parses a whole non-negative decimal number within [min, max]; throws
// UsageError "invalid value '<text>' for --<option>" otherwise.
long long ParseCount(const std::string& text, const std::string& option, long long min, long long max);

}  // namespace tools
