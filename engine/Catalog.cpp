#include "engine/Catalog.h"

#include "engine/PageStore.h"
#include "engine/Vfs.h"

#include <cerrno>
#include <cstring>
#include <optional>
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

// ------------------------------------------------- the copy in the page store

namespace {

constexpr std::size_t kReservedFirst = 21;  // reserved header bytes, left out of the copy
constexpr std::size_t kReservedEnd = 40;
const char kCopyKey[] = "catalog";

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        s.push_back(digits[b >> 4]);
        s.push_back(digits[b & 15]);
    }
    return s;
}

bool FromHex(const std::string& text, std::vector<std::uint8_t>& out) {
    if (text.size() % 2 != 0) return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int v = 0;
        for (std::size_t k = i; k < i + 2; ++k) {
            const char c = text[k];
            const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0) return false;
            v = v * 16 + d;
        }
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

std::vector<std::uint8_t> WithoutReserved(std::vector<std::uint8_t> catalog) {
    for (std::size_t i = kReservedFirst; i < kReservedEnd && i < catalog.size(); ++i) catalog[i] = 0;
    return catalog;
}

std::string LocaleText(const std::string& locale) { return locale.empty() ? "root" : "'" + locale + "'"; }

std::string KeyColumnNames(const IndexSpec& index, const std::vector<std::string>& names) {
    std::string s;
    for (std::size_t i = 0; i < index.Columns.size(); ++i)
        s += (i ? "+" : "") + names[static_cast<std::size_t>(index.Columns[i])];
    return s;
}

// The differences between a decoded catalog and the decoded copy (both
// exactly DataPos bytes, reserved bytes zeroed). names: the column names to
// show, by column number.
std::vector<std::string> CompareWithCopy(const std::vector<std::uint8_t>& cat, const TableSchema& catSchema,
                                         const std::vector<std::uint8_t>& copy, const TableSchema& copySchema,
                                         const std::vector<std::string>& names) {
    std::vector<std::string> out;
    const auto byteDiffers = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            if (cat[i] != copy[i]) return std::optional<std::size_t>(i);
        return std::optional<std::size_t>();
    };
    const auto otherByte = [&](const std::string& what, std::size_t at) {
        out.push_back(what + "the catalog's byte " + std::to_string(at) + " differs from the page store's copy");
    };
    if (catSchema.Columns.size() != copySchema.Columns.size() || catSchema.Indexes.size() != copySchema.Indexes.size()) {
        out.push_back("the catalog has " + std::to_string(catSchema.Columns.size()) + " columns and " +
                      std::to_string(catSchema.Indexes.size()) + " indexes, the page store " +
                      std::to_string(copySchema.Columns.size()) + " and " + std::to_string(copySchema.Indexes.size()));
        return out;
    }
    if (catSchema.Locale != copySchema.Locale)
        out.push_back("the catalog gives the locale " + LocaleText(catSchema.Locale) + ", the page store " +
                      LocaleText(copySchema.Locale));
    else if (const auto at = byteDiffers(0, CatalogHeaderSize))
        otherByte("", *at);
    for (std::size_t k = 0; k < catSchema.Columns.size(); ++k) {
        const std::size_t at = CatalogHeaderSize + ColumnRecordSize * k;
        if (!byteDiffers(at, at + ColumnRecordSize)) continue;
        const ColumnSpec& c = catSchema.Columns[k];
        const ColumnSpec& p = copySchema.Columns[k];
        const std::string what = "column " + std::to_string(k + 1) + " '" + names[k] + "': ";
        const std::size_t before = out.size();
        if (c.Name != p.Name) out.push_back(what + "the catalog names it '" + c.Name + "'");
        if (c.Type != p.Type)
            out.push_back(what + "the catalog gives type " + std::string(1, c.Type) + ", the page store " +
                          std::string(1, p.Type));
        if (cat[at + 12] != copy[at + 12])
            out.push_back(what + "the catalog gives size " + std::to_string(cat[at + 12]) + ", the page store " +
                          std::to_string(copy[at + 12]));
        if (c.AutoInc != p.AutoInc)
            out.push_back(what + (c.AutoInc ? "the catalog makes it auto-increment, the page store does not"
                                            : "the page store makes it auto-increment, the catalog does not"));
        if (out.size() == before) otherByte(what, *byteDiffers(at, at + ColumnRecordSize));
    }
    for (std::size_t x = 0; x < catSchema.Indexes.size(); ++x) {
        const std::size_t at = CatalogHeaderSize + ColumnRecordSize * catSchema.Columns.size() + IndexRecordSize * x;
        if (!byteDiffers(at, at + IndexRecordSize)) continue;
        const IndexSpec& c = catSchema.Indexes[x];
        const IndexSpec& p = copySchema.Indexes[x];
        const std::string what = "index " + std::to_string(x + 1) + " '" + KeyColumnNames(p, names) + "': ";
        const std::size_t before = out.size();
        if (c.Columns != p.Columns)
            out.push_back(what + "the catalog gives the key columns " + KeyColumnNames(c, names) + ", the page store " +
                          KeyColumnNames(p, names));
        if (c.Unique != p.Unique)
            out.push_back(what + (c.Unique ? "the catalog makes it unique, the page store does not"
                                           : "the page store makes it unique, the catalog does not"));
        if (out.size() == before) otherByte(what, *byteDiffers(at, at + IndexRecordSize));
    }
    return out;
}

}  // namespace

void WriteCatalogCopy(PageStore& store, const std::vector<std::uint8_t>& catalog) {
    store.SetMeta(kCopyKey, Value::Text(ToHex(WithoutReserved(catalog))));
}

SchemaFindings ExamineSchema(PageStore& store, const std::string& path) {
    SchemaFindings f;
    std::vector<std::uint8_t> buf(MaxCatalogSize);
    std::int64_t fileSize = 0;
    const std::int64_t n = ReadTableFileBytes(store.Db(), path, buf.data(), MaxCatalogSize, 0, &fileSize);
    f.Schema = DecodeCatalog(buf.data(), static_cast<std::size_t>(n), fileSize, path);
    // The first read of the page store: its side files are checked here.
    store.StartReading();
    const std::size_t columns = f.Schema.Columns.size();
    f.Catalog.assign(buf.begin(),
                     buf.begin() + static_cast<std::ptrdiff_t>(CatalogHeaderSize + ColumnRecordSize * columns +
                                                               IndexRecordSize * f.Schema.Indexes.size()));

    // The full names, by column number.
    std::vector<std::string> full(columns);
    {
        Query q = store.Prepare("SELECT num, name FROM columns ORDER BY num");
        while (q.Step()) {
            const std::int64_t num = q.Int(0);
            const Value name = q.Column(1);
            if (num >= 0 && num < static_cast<std::int64_t>(columns) && name.kind == Value::Kind::Text)
                full[static_cast<std::size_t>(num)] = name.s;
        }
    }

    Value stored;
    if (store.GetMeta(kCopyKey, stored)) {
        f.HasCopy = true;
        std::vector<std::uint8_t> copy;
        TableSchema copySchema;
        bool readable = stored.kind == Value::Kind::Text && FromHex(stored.s, copy);
        if (readable) {
            try {
                copySchema = DecodeCatalog(copy.data(), copy.size(), PageStoreOffset, path);
            } catch (const EngineError&) {
                readable = false;
            }
        }
        if (!readable) {
            f.Problems.push_back("the page store's copy of the catalog is unreadable");
            return f;
        }
        std::vector<std::string> names(copySchema.Columns.size());
        for (std::size_t k = 0; k < names.size(); ++k) {
            const std::string& cut = copySchema.Columns[k].Name;
            names[k] = k < full.size() && CutUtf8(full[k], CatalogNameBytes) == cut ? full[k] : cut;
        }
        f.Problems = CompareWithCopy(WithoutReserved(f.Catalog), f.Schema, WithoutReserved(copy), copySchema, names);
        if (!f.Problems.empty()) return f;
    }

    for (std::size_t k = 0; k < columns; ++k) {
        ColumnSpec& c = f.Schema.Columns[k];
        if (CutUtf8(full[k], CatalogNameBytes) == c.Name && !full[k].empty())
            c.Name = full[k];
        else
            f.Problems.push_back("column " + std::to_string(k + 1) + " '" + c.Name + "': the page store " +
                                 (full[k].empty() ? "holds no name for it" : "names it '" + full[k] + "'"));
    }
    // The record table must be there with one column per catalog column.
    try {
        std::string probe = "SELECT rowid";
        for (std::size_t c = 0; c < columns; ++c) probe += ",c" + std::to_string(c);
        store.Prepare(probe + " FROM records LIMIT 0").Step();
    } catch (const EngineError& e) {
        f.Problems.push_back(std::string("its page store does not match its catalog: ") + e.what());
    }
    return f;
}

SchemaFindings LoadSchema(PageStore& store, const std::string& path) {
    SchemaFindings f = ExamineSchema(store, path);
    if (!f.Problems.empty()) throw EngineError("Table file '" + path + "' is damaged (" + f.Problems.front() + ")");
    return f;
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
