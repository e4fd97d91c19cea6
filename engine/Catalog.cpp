#include "engine/Catalog.h"

#include "engine/Vfs.h"

#include <cerrno>
#include <cstring>
#include <set>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {

namespace {

const char kTypes[] = "BCDEGILMRTUVWYZ";

void Put16(std::vector<std::uint8_t>& b, std::size_t at, unsigned v) {
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}
unsigned Get16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t Get32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

// Counts code points; -1 when the text is not valid UTF-8.
int Utf8Length(const std::string& s) {
    int n = 0;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return -1;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return -1;
        i += len;
        ++n;
    }
    return n;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

void ReadExactly(int fd, const std::string& path, void* buffer, std::size_t size, std::size_t offset,
                 const char* what) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EngineError("Cannot read table file '" + path + "': " + std::strerror(errno));
        }
        if (n == 0)
            throw EngineError("Table file '" + path + "' is truncated: its " + what + " is incomplete");
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

bool IsKnownType(char type) { return type != 0 && std::strchr(kTypes, type) != nullptr; }

bool IsTextType(char type) { return type == 'C' || type == 'U' || type == 'M' || type == 'G'; }

int NaturalColumnSize(char type, int size) {
    switch (type) {
    case 'B': return 1;
    case 'C':
    case 'U': return size;
    case 'D':
    case 'T':
    case 'Y':
    case 'Z':
    case 'L': return 4;
    case 'E':
    case 'R': return 8;
    case 'G': return 38;
    case 'I':
    case 'V':
    case 'W': return 2;
    case 'M': return 0;
    default: return -1;
    }
}

std::string CutUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t end = maxBytes;
    // Step back over continuation bytes to the start of the sequence that
    // would be split.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

void ValidateSchema(const TableSchema& schema) {
    if (schema.Columns.size() > 255) throw EngineError("A table has at most 255 columns");
    if (schema.Indexes.size() > 255) throw EngineError("A table has at most 255 indexes");
    if (schema.Locale.size() > 8) throw EngineError("Locale '" + schema.Locale + "' is longer than 8 characters");
    for (char c : schema.Locale)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
            throw EngineError("Locale '" + schema.Locale + "' is not a valid locale id");
    std::set<std::string> names;
    for (std::size_t k = 0; k < schema.Columns.size(); ++k) {
        const ColumnSpec& c = schema.Columns[k];
        const std::string where = "Column " + std::to_string(k + 1) + " ('" + c.Name + "')";
        const int len = Utf8Length(c.Name);
        if (len < 0) throw EngineError(where + ": the name is not valid UTF-8");
        if (len < 1 || len > 64) throw EngineError(where + ": a column name has 1 to 64 characters");
        for (unsigned char ch : c.Name)
            if (ch < 0x20 || ch == 0x7F || std::strchr("+;[]|", ch))
                throw EngineError(where + ": a column name may not contain + ; [ ] | or control characters");
        if (!names.insert(Lower(c.Name)).second) throw EngineError(where + ": the name is used twice");
        if (!IsKnownType(c.Type))
            throw EngineError(where + ": unknown type letter '" + std::string(1, c.Type) + "'");
        if ((c.Type == 'C' || c.Type == 'U') && (c.Size < 1 || c.Size > 255))
            throw EngineError(where + ": a text column has a size of 1 to 255 bytes");
        if (c.AutoInc && !std::strchr("ILVW", c.Type))
            throw EngineError(where + ": only integer columns (I, L, V, W) can be auto-increment");
    }
    for (std::size_t x = 0; x < schema.Indexes.size(); ++x) {
        const IndexSpec& ix = schema.Indexes[x];
        const std::string where = "Index " + std::to_string(x + 1);
        if (ix.Columns.empty() || ix.Columns.size() > MaxIndexColumns)
            throw EngineError(where + ": an index has 1 to 10 key columns");
        std::set<int> seen;
        for (int col : ix.Columns) {
            if (col < 0 || col >= static_cast<int>(schema.Columns.size()))
                throw EngineError(where + ": there is no column number " + std::to_string(col));
            if (!seen.insert(col).second)
                throw EngineError(where + ": column '" + schema.Columns[col].Name + "' appears twice");
        }
    }
}

std::vector<std::uint8_t> EncodeCatalog(const TableSchema& schema) {
    ValidateSchema(schema);
    const std::size_t fields = schema.Columns.size();
    const std::size_t indexes = schema.Indexes.size();
    const std::size_t dataPos = CatalogHeaderSize + ColumnRecordSize * fields + IndexRecordSize * indexes;
    std::vector<std::uint8_t> b(dataPos, 0);
    b[0] = 1;
    std::memcpy(&b[1], "BFT1", 4);
    Put16(b, 5, static_cast<unsigned>(dataPos));
    b[7] = static_cast<std::uint8_t>(fields);
    Put32(b, 8, static_cast<std::uint32_t>(PageStoreOffset));
    b[12] = static_cast<std::uint8_t>(indexes);
    std::memcpy(&b[13], schema.Locale.data(), schema.Locale.size());
    for (std::size_t k = 0; k < fields; ++k) {
        const ColumnSpec& c = schema.Columns[k];
        const std::size_t at = CatalogHeaderSize + ColumnRecordSize * k;
        const std::string name = CutUtf8(c.Name, CatalogNameBytes);
        b[at] = static_cast<std::uint8_t>(name.size());
        std::memcpy(&b[at + 1], name.data(), name.size());
        b[at + 11] = static_cast<std::uint8_t>(c.Type);
        b[at + 12] = static_cast<std::uint8_t>(NaturalColumnSize(c.Type, c.Size));
        b[at + 13] = c.AutoInc ? 1 : 0;
    }
    for (std::size_t x = 0; x < indexes; ++x) {
        const IndexSpec& ix = schema.Indexes[x];
        const std::size_t at = CatalogHeaderSize + ColumnRecordSize * fields + IndexRecordSize * x;
        b[at] = static_cast<std::uint8_t>(ix.Columns.size());
        for (std::size_t i = 0; i < ix.Columns.size(); ++i) b[at + 1 + i] = static_cast<std::uint8_t>(ix.Columns[i]);
        b[at + 11] = ix.Unique ? 1 : 0;
    }
    return b;
}

TableSchema DecodeCatalog(const std::uint8_t* h, std::size_t size, std::int64_t fileSize, const std::string& path) {
    if (size < 5 || h[0] != 1 || std::memcmp(&h[1], "BFT1", 4) != 0)
        throw EngineError("'" + path + "' is not a table file");
    if (size < CatalogHeaderSize)
        throw EngineError("Table file '" + path + "' is truncated: its catalog header is incomplete");
    const unsigned dataPos = Get16(&h[5]);
    const unsigned fields = h[7];
    const unsigned indexes = h[12];
    if (Get32(&h[8]) != PageStoreOffset ||
        dataPos != CatalogHeaderSize + ColumnRecordSize * fields + IndexRecordSize * indexes)
        throw EngineError("Table file '" + path + "' has a damaged catalog header");
    if (size < dataPos)
        throw EngineError("Table file '" + path + "' is truncated: its catalog is incomplete");
    TableSchema s;
    for (int i = 13; i < 21 && h[i]; ++i) s.Locale.push_back(static_cast<char>(h[i]));
    for (unsigned k = 0; k < fields; ++k) {
        const std::uint8_t* r = &h[CatalogHeaderSize + ColumnRecordSize * k];
        ColumnSpec c;
        if (r[0] > CatalogNameBytes || !IsKnownType(static_cast<char>(r[11])))
            throw EngineError("Table file '" + path + "' has a damaged record for column " + std::to_string(k + 1));
        c.Name.assign(reinterpret_cast<const char*>(r + 1), r[0]);
        c.Type = static_cast<char>(r[11]);
        c.Size = (c.Type == 'C' || c.Type == 'U') ? r[12] : NaturalColumnSize(c.Type, 0);
        c.AutoInc = (r[13] & 1) != 0;
        s.Columns.push_back(std::move(c));
    }
    for (unsigned x = 0; x < indexes; ++x) {
        const std::uint8_t* r = &h[CatalogHeaderSize + ColumnRecordSize * fields + IndexRecordSize * x];
        if (r[0] < 1 || r[0] > MaxIndexColumns)
            throw EngineError("Table file '" + path + "' has a damaged record for index " + std::to_string(x + 1));
        IndexSpec ix;
        for (unsigned i = 0; i < r[0]; ++i) {
            if (r[1 + i] >= fields)
                throw EngineError("Table file '" + path + "' has a damaged record for index " + std::to_string(x + 1));
            ix.Columns.push_back(r[1 + i]);
        }
        ix.Unique = (r[11] & 1) != 0;
        s.Indexes.push_back(std::move(ix));
    }
    if (fileSize < PageStoreOffset)
        throw EngineError("Table file '" + path + "' is truncated: its catalog area is incomplete");
    return s;
}

TableSchema ReadCatalogFromFd(int fd, const std::string& path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw EngineError("Cannot read table file '" + path + "': " + std::strerror(errno));
    std::vector<std::uint8_t> b(MaxCatalogSize);
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(st.st_size, MaxCatalogSize));
    ReadExactly(fd, path, b.data(), want, 0, "catalog");
    return DecodeCatalog(b.data(), want, st.st_size, path);
}

}  // namespace engine
