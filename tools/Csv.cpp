#include "tools/Csv.h"

namespace tools {

CsvReader::CsvReader(std::istream& in, char separator) : FBuf(in.rdbuf()), FSeparator(separator) {
    if (separator == '"' || separator == '\r' || separator == '\n')
        throw std::invalid_argument("a quote or a line break cannot separate fields");
}

int CsvReader::Get() {
    if (!FPending.empty()) {
        const int c = static_cast<unsigned char>(FPending.front());
        FPending.erase(0, 1);
        return c;
    }
    return FBuf ? FBuf->sbumpc() : std::char_traits<char>::eof();
}
int CsvReader::Peek() {
    if (!FPending.empty()) return static_cast<unsigned char>(FPending.front());
    return FBuf ? FBuf->sgetc() : std::char_traits<char>::eof();
}

// Record parser, one character at a time:
//   state          | character            | action, next state
//   FieldStart     | '"'                  | -> Quoted
//                  | separator            | end empty field -> FieldStart
//                  | CR [LF], LF, EOF     | end field and record
//                  | other                | append -> Unquoted
//   Unquoted       | separator            | end field -> FieldStart
//                  | CR [LF], LF, EOF     | end field and record
//                  | '"'                  | error "quote inside an unquoted field"
//                  | other                | append -> Unquoted
//   Quoted         | '"'                  | -> QuoteSeen
//                  | EOF                  | error "quoted field not closed"
//                  | other (line breaks)  | append -> Quoted
//   QuoteSeen      | '"'                  | append '"' -> Quoted
//                  | separator            | end field -> FieldStart
//                  | CR [LF], LF, EOF     | end field and record
//                  | other                | error "text after a closing quote"
// Before a record, empty lines are skipped; EOF there ends the input.
bool CsvReader::Next(std::vector<std::string>& fields) {
    constexpr int eof = std::char_traits<char>::eof();
    fields.clear();
    FQuoted.clear();
    if (!FStarted) {
        FStarted = true;
        // The byte order mark EF BB BF is skipped. Any other character that
        // starts with EF (U+F000 to U+FFFF) is data: the bytes read to tell
        // are read again. EF BB before a byte that cannot continue a
        // character is a damaged mark.
        if (Peek() == 0xEF) {
            Get();
            if (Peek() != 0xBB) {
                FPending = "\xEF";
            } else {
                Get();
                const int c = Peek();
                if (c == 0xBF)
                    Get();
                else if (c >= 0x80 && c < 0xBF)
                    FPending = "\xEF\xBB";
                else
                    throw CsvError(1, "invalid byte order mark");
            }
        }
    }
    // Skip empty lines.
    for (;;) {
        const int c = Peek();
        if (c == eof) return false;
        if (c == '\n') {
            Get();
            ++FLine;
        } else if (c == '\r') {
            Get();
            if (Peek() == '\n') Get();
            ++FLine;
        } else {
            break;
        }
    }
    FRecordLine = FLine;

    enum class State { FieldStart, Unquoted, Quoted, QuoteSeen } state = State::FieldStart;
    std::string field;
    std::int64_t quoteLine = 0;
    for (;;) {
        const int c = Get();
        const bool lineEnd = c == '\n' || c == '\r';
        if (state == State::Quoted) {
            if (c == eof) throw CsvError(quoteLine, "quoted field not closed");
            if (c == '"') {
                state = State::QuoteSeen;
            } else {
                if (c == '\n' || (c == '\r' && Peek() != '\n')) ++FLine;
                field.push_back(char(c));
            }
            continue;
        }
        if (c == eof || lineEnd || c == static_cast<unsigned char>(FSeparator)) {
            fields.push_back(std::move(field));
            FQuoted.push_back(state == State::QuoteSeen);
            field.clear();
            if (c == eof) return true;
            if (lineEnd) {
                if (c == '\r' && Peek() == '\n') Get();
                ++FLine;
                return true;
            }
            state = State::FieldStart;
            continue;
        }
        switch (state) {
            case State::FieldStart:
                if (c == '"') {
                    state = State::Quoted;
                    quoteLine = FLine;
                } else {
                    field.push_back(char(c));
                    state = State::Unquoted;
                }
                break;
            case State::Unquoted:
                if (c == '"') throw CsvError(FLine, "quote inside an unquoted field");
                field.push_back(char(c));
                break;
            case State::QuoteSeen:
                if (c != '"') throw CsvError(FLine, "text after a closing quote");
                field.push_back('"');
                state = State::Quoted;
                break;
            case State::Quoted:
                break;
        }
    }
}

std::string CsvField(std::string_view text, char separator) {
    bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
    for (char c : text)
        if (c == separator || c == '"' || c == '\r' || c == '\n') quote = true;
    if (!quote) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

}  // namespace tools
