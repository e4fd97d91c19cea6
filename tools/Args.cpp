#include "tools/Args.h"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace tools {

std::string WriteFailureReason(int err) {
    if (err == ENOSPC) return "the disk is full";
    return err ? std::strerror(err) : "write error";
}

const std::vector<std::string>& ParsedArgs::Values(const std::string& name) const {
    static const std::vector<std::string> none;
    auto it = Options.find(name);
    return it == Options.end() ? none : it->second;
}

std::string ParsedArgs::Value(const std::string& name, const std::string& fallback) const {
    auto it = Options.find(name);
    return it == Options.end() || it->second.empty() ? fallback : it->second.back();
}

ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs) {
    ParsedArgs result;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            if (!optionsEnded && arg.size() > 1 && arg[0] == '-')
                throw UsageError("unknown option '" + arg + "'");
            result.Positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg.substr(2);
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& s : specs)
            if (s.Name == name) spec = &s;
        if (!spec) throw UsageError("unknown option '--" + name + "'");
        if (spec->TakesValue && !hasValue) {
            if (i + 1 >= args.size()) throw UsageError("option '--" + name + "' needs a value");
            value = args[++i];
        } else if (!spec->TakesValue && hasValue) {
            throw UsageError("option '--" + name + "' takes no value");
        }
        auto& values = result.Options[name];
        if (!values.empty() && !spec->Repeatable) throw UsageError("option '--" + name + "' given twice");
        values.push_back(value);
    }
    return result;
}

long long ParseCount(const std::string& text, const std::string& option, long long min, long long max) {
    long long v = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size() || v < min || v > max)
        throw UsageError("invalid value '" + text + "' for --" + option + " (" + std::to_string(min) + " to " +
                         std::to_string(max) + ")");
    return v;
}

}  // namespace tools
