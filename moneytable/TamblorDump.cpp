// TMoneyTable: the header dump, a readable copy of a table file's header
// block, column records and index records, appended to an existing text file.
// The one place where the component reads a table file itself.
//
// Layout read (little-endian):
//   0      Byte1, 1 byte          5   DataPos, 2 bytes (where the index records end)
//   1      Header, 4 bytes        7   FieldCount, 1 byte
//   8      Data, 32 bytes
//   40     FieldCount column records of 26 bytes: name length L, 10 name
//          bytes, type letter, size, 13 further bytes
//   then   index records of 13 bytes while the position is below DataPos:
//          n, 10 bytes of which 1..n are printed (n at most 12), Byte1, Byte2
//
// The dump prints only bytes that it read. A file shorter than the header
// block gives one line with the bytes read instead of the header lines; the
// column and index lists end at the end of the file (an incomplete record is
// not printed).
#include "moneytable/Tamblor.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char* CRLF = "\r\n";
constexpr std::size_t HeaderSize = 40;
constexpr std::size_t ColumnRecordSize = 26;
constexpr std::size_t IndexRecordSize = 13;
constexpr std::size_t MaxIndexBytes = 12;

// Each byte as two upper-case hexadecimal digits and a blank.
std::string Hex(const std::uint8_t* Bytes, std::size_t Count) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string Result;
    Result.reserve(Count * 3);
    for (std::size_t I = 0; I < Count; ++I) {
        Result += Digits[Bytes[I] >> 4];
        Result += Digits[Bytes[I] & 0x0F];
        Result += ' ';
    }
    return Result;
}

std::string Hex2(std::uint8_t Byte) { return Hex(&Byte, 1).substr(0, 2); }

}  // namespace

namespace moneytable {

void WriteHeaderDump(const std::string& TableFileName, const std::function<void(std::string_view)>& Write) {
    {
        TFileStream Table(TableFileName, fmOpenRead | fmShareDenyNone);
        std::uint8_t Header[HeaderSize] = {};
        const auto HeaderRead = static_cast<std::size_t>(std::max<std::int64_t>(Table.Read(Header, HeaderSize), 0));
        Write(TableFileName);
        Write(CRLF);
        if (HeaderRead < HeaderSize) {
            Write("Header block: " + std::to_string(HeaderRead) + " of 40 bytes: " + Hex(Header, HeaderRead));
            Write(CRLF);
        } else {
            const unsigned DataPos = Header[5] | (static_cast<unsigned>(Header[6]) << 8);
            const unsigned FieldCount = Header[7];
            std::string Line = "Byte1: " + Hex2(Header[0]) + ", Header: ";
            Line.append(reinterpret_cast<const char*>(Header + 1), 4);
            Line += ", FieldCount: " + std::to_string(FieldCount) + " ";
            Write(Line);
            char DataPosText[16];
            std::snprintf(DataPosText, sizeof DataPosText, "%X", DataPos);
            Write(std::string("DataPos: ") + DataPosText + ", Data: " + Hex(Header + 8, 32));
            Write(CRLF);

            Write("Fields:");
            Write(CRLF);
            bool AtEnd = false;
            std::size_t Position = HeaderSize;
            for (unsigned K = 0; K < FieldCount; ++K) {
                std::uint8_t Record[ColumnRecordSize];
                if (Table.Read(Record, ColumnRecordSize) != static_cast<std::int64_t>(ColumnRecordSize)) {
                    AtEnd = true;
                    break;
                }
                Position += ColumnRecordSize;
                const std::size_t NameLength = std::min<std::size_t>(Record[0], 10);
                std::string Name(reinterpret_cast<const char*>(Record + 1), NameLength);
                Name.resize(10, ' ');
                char Size[8];
                std::snprintf(Size, sizeof Size, "%.3u", static_cast<unsigned>(Record[12]));
                Line = Name + " ";
                Line += static_cast<char>(Record[11]);
                Line += Size;
                Line += " " + Hex(Record + 13, 13);
                Write(Line);
                Write(CRLF);
            }

            Write("Indexis:");
            Write(CRLF);
            while (!AtEnd && Position < DataPos) {
                std::uint8_t Record[IndexRecordSize];
                if (Table.Read(Record, IndexRecordSize) != static_cast<std::int64_t>(IndexRecordSize)) break;
                Position += IndexRecordSize;
                const std::size_t N = std::min<std::size_t>(Record[0], MaxIndexBytes);
                Write(Hex(Record + 1, N) + " Byte1: " + Hex2(Record[11]) + ", Byte2: " + Hex2(Record[12]));
                Write(CRLF);
            }
        }
    }  // the table file is closed here
    Write(CRLF);
    Write(CRLF);
}

}  // namespace moneytable

void TMoneyTable::DumpHeader(const std::string& OutFileName) {
    // The output file first: it must exist ("File not found" otherwise), and
    // nothing is read before it is open.
    rtl::TTextAppender Out(OutFileName);
    moneytable::WriteHeaderDump(FFileName, [&Out](std::string_view Text) { Out.Write(Text); });
    Out.Close();
}
