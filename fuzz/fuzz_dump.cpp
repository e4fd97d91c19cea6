// Fuzz target: the header dump over arbitrary bytes.
//
// Input: the whole table file. Its header dump is written as
// `tamblor dump-header` and the browser write it. Checked: the dump ends with
// the two empty lines and grows only with the bytes read (a record prints at
// most five characters per byte of the file).
#include "fuzz/FuzzSupport.h"
#include "moneytable/Tamblor.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::ScratchDir() + "/dump.dat";
    fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
    std::string dump;
    moneytable::WriteHeaderDump(path, [&dump](std::string_view text) { dump += text; });
    fuzz::Check(dump.ends_with("\r\n\r\n\r\n"), "the dump does not end with two empty lines");
    fuzz::Check(dump.size() <= path.size() + 300 + 5 * size, "the dump prints more than the file holds");
    return 0;
}
