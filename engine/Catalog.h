// The catalog area of a table file: bytes 0 to DataPos of NAME.dat.
//
// Layout (little-endian):
//   0  1  format version, 1
//   1  4  signature "BFT1"
//   5  2  DataPos = 40 + 26 x FieldCount + 13 x IndexCount
//   7  1  FieldCount (0 to 255)
//   8  4  offset of the page store, 65536
//  12  1  IndexCount
//  13  8  collation locale, ASCII, zero-padded ("" = ICU root)
//  21  8  table identity: random, given when the first write-ahead log of the
//         table is begun (zero in a table written before tables had one)
//  29  8  log stamp: changes whenever a write-ahead log is begun
//  37  3  reserved, zero
//         (identity and stamp tie the side files to the table: see Vfs.h)
//  40     column records, 26 bytes each: name length L (<= 10), 10 name
//         bytes, type letter, size, flags (bit 0 auto-increment), 12 zero
//  ..     index records, 13 bytes each: n key columns (1 to 10), n column
//         numbers, zero padding to byte 10, flags (bit 0 unique), 0
//  DataPos to 65535: zero. The page store follows at 65536.
//
// The catalog holds only the first 10 bytes of each column name (cut before a
// UTF-8 sequence that would not fit); the full names live in the page store.
//
// The page store keeps a copy of what the catalog must say: the catalog's
// bytes 0 to DataPos with the reserved bytes 21..39 left out (zero in the
// copy), as hexadecimal text under the meta key "catalog". CreateTable and
// every schema change write it together with the page store's schema; every
// open compares it with the catalog (O(1) in the table's size) and refuses a
// catalog that disagrees: "Table file '<path>' is damaged (column 2 'Payee':
// the catalog gives type D, the page store C)". A table written before the
// copy was kept has none: it opens as before, and its next open for writing
// stores the copy of its catalog as it then is.
//
// Ownership: values. Threads: any; functions are reentrant (the functions on
// a PageStore run on the thread that owns it).
#pragma once

#include "engine/Engine.h"

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

constexpr int CatalogHeaderSize = 40;
constexpr int ColumnRecordSize = 26;
constexpr int IndexRecordSize = 13;
constexpr int MaxIndexColumns = 10;
constexpr int CatalogNameBytes = 10;

// Natural size byte of a column of the given type (the given size for C and
// U); -1 for an unknown letter.
int NaturalColumnSize(char type, int size);
bool IsKnownType(char type);
// True for C, U, M, G: stored as text, keys under the table's collation.
bool IsTextType(char type);

// Cuts a UTF-8 text to at most maxBytes bytes without splitting a sequence.
std::string CutUtf8(const std::string& text, std::size_t maxBytes);

// Checks the schema (names, types, sizes, auto-increment, index columns,
// locale); throws EngineError naming the offending column or index.
void ValidateSchema(const TableSchema& schema);

// The catalog bytes of a schema (exactly DataPos bytes). Column names are
// written cut to 10 bytes.
std::vector<std::uint8_t> EncodeCatalog(const TableSchema& schema);

// Largest possible catalog: 255 columns and 255 indexes.
constexpr int MaxCatalogSize = CatalogHeaderSize + 255 * ColumnRecordSize + 255 * IndexRecordSize;

// Decodes and validates the catalog from the first `size` bytes of the file
// named path (for messages); fileSize is the whole file's size (the page
// store must follow the catalog area). Column names come back cut to 10
// bytes; the caller replaces them by the full names from the page store.
// Throws EngineError: "'<path>' is not a table file", "Table file '<path>' is
// truncated: ...", "... has a damaged ...".
TableSchema DecodeCatalog(const std::uint8_t* data, std::size_t size, std::int64_t fileSize,
                          const std::string& path);

// Reads the catalog with pread from a descriptor and decodes it. Use it only
// on a file that no page store of this process has open (closing another
// descriptor of a file drops the process's POSIX locks on it).
TableSchema ReadCatalogFromFd(int fd, const std::string& path);

class PageStore;

// Stores the copy of the catalog bytes (exactly DataPos of them) in the page
// store, inside the caller's transaction. Throws EngineError on a failed write.
void WriteCatalogCopy(PageStore& store, const std::vector<std::uint8_t>& catalog);

// What the catalog and the page store of an open table say about its schema.
struct SchemaFindings {
    TableSchema Schema;                 // the catalog's, with the page store's full column names
    std::vector<std::uint8_t> Catalog;  // the catalog bytes as read (DataPos of them)
    bool HasCopy = false;               // the page store holds a copy of the catalog
    // Each disagreement, naming the column or index: the catalog against the
    // copy, the full names against the catalog, the record table against the
    // columns. Empty when they agree.
    std::vector<std::string> Problems;
};

// Reads the catalog through the page store's connection and checks it as
// described above. Throws EngineError when the catalog does not decode (the
// decoder's messages) or the page store cannot be read.
SchemaFindings ExamineSchema(PageStore& store, const std::string& path);

// ExamineSchema for an open: throws "Table file '<path>' is damaged (<the
// first problem>)" when there is a problem.
SchemaFindings LoadSchema(PageStore& store, const std::string& path);

}  // namespace engine
