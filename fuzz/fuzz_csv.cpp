// Fuzz target: the CSV reader and the value conversion of `tamblor import`.
//
// Input: the first byte chooses the separator (',', ';', TAB or '|'), the
// rest is the CSV text. Every record is read; every field is converted for
// every column type as import does. Checked: a read error carries a line
// number within the input and a reason; a record written back with CsvField
// reads back as the same fields.
#include "engine/Engine.h"
#include "fuzz/FuzzSupport.h"
#include "tools/Csv.h"

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr char kSeparators[] = {',', ';', '\t', '|'};
constexpr const char* kTypes = "BCDEGILMRTUVWYZ";

// A record that CsvField and the reader cannot carry unchanged by design: an
// empty line holds no record, and at the start of the input EF BB begins a
// byte order mark (dropped, or refused as damaged).
bool RoundTrips(const std::vector<std::string>& fields) {
    if (fields.size() == 1 && fields[0].empty()) return false;
    return !fields[0].starts_with("\xEF\xBB");
}

void CheckRoundTrip(const std::vector<std::string>& fields, char separator) {
    std::string text;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) text += separator;
        text += tools::CsvField(fields[i], separator);
    }
    text += "\r\n";
    std::istringstream in(text);
    tools::CsvReader reader(in, separator);
    std::vector<std::string> back;
    try {
        fuzz::Check(reader.Next(back), "a written record reads back as no record");
    } catch (const tools::CsvError& e) {
        fuzz::Fail(std::string("a written record does not read back: ") + e.what());
    }
    fuzz::Check(back == fields, "a written record reads back with other fields");
    fuzz::Check(!reader.Next(back), "a written record reads back as two records");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const char separator = kSeparators[data[0] % 4];
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto lines = static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n') +
                                                 std::count(text.begin(), text.end(), '\r'));
    std::istringstream in(text);
    tools::CsvReader reader(in, separator);
    std::vector<std::string> fields;
    try {
        while (reader.Next(fields)) {
            fuzz::Check(reader.RecordLine() >= 1 && reader.RecordLine() <= lines + 1, "record line out of range");
            if (RoundTrips(fields)) CheckRoundTrip(fields, separator);
            for (const std::string& field : fields) {
                for (const char* t = kTypes; *t; ++t) {
                    try {
                        engine::ParseValue(*t, field);
                    } catch (const engine::EngineError& e) {
                        fuzz::Check(*e.what() != 0, "a value error without a reason");
                    }
                }
            }
        }
    } catch (const tools::CsvError& e) {
        fuzz::Check(e.Line() >= 1 && e.Line() <= lines + 1, "CSV error line out of range");
        fuzz::Check(*e.what() != 0, "a CSV error without a reason");
    }
    return 0;
}
