#include "engine/Cursor.h"

#include "engine/Catalog.h"
#include "engine/Vfs.h"

#include <cstring>

#include <algorithm>

namespace engine {

namespace {
constexpr std::size_t kMaxBatch = 128;
// A positioning reads only the record it lands on: a seek is often the last
// move before the client reads that one record. Moves from there fetch
// batches that grow while the cursor keeps its direction.
constexpr std::size_t kFirstBatch = 1;
// SegmentShape of a segment whose query text is not cached.
constexpr std::uint64_t kNoShape = ~std::uint64_t(0);
}

Cursor::Cursor(PageStore& store, const TableSchema& schema, const Collator& collator)
    : FStore(store), FSchema(schema), FCollator(collator) {}

void Cursor::SetOrder(std::vector<int> keyColumns) {
    FKeyColumns = std::move(keyColumns);
    FFetchSql.clear();
    // The window was ordered by the old key: keep only the current record.
    KeepOnlyCurrent();
    FCount.reset();
}

void Cursor::SetVisibility(Visibility v) {
    FVis = std::move(v);
    FFetchSql.clear();
    KeepOnlyCurrent();
    FCount.reset();
}

void Cursor::Invalidate() {
    FCurrentStale = FHasCurrent;
    KeepOnlyCurrent();
    FCount.reset();
}

void Cursor::KeepOnlyCurrent() {
    // The rows read ahead are gone: reading ahead starts small again.
    FRun = 0;
    if (!FHasCurrent) {
        Recycle(FWin, FWin.size());
        return;
    }
    Row cur = std::move(FWin[FPos]);
    Recycle(FWin, FPos);
    FWin.push_back(std::move(cur));
    FPos = 0;
}

void Cursor::Sync() {
    // Fast path: the WAL index header has not changed since the last check,
    // so no connection has committed since.
    std::uint8_t stamp[ChangeStampSize];
    if (!FTableFile) FTableFile = TableFileOf(FStore.Db());
    const bool have = ReadChangeStamp(FTableFile, stamp);
    if (have && FHaveStamp && std::memcmp(stamp, FStamp, ChangeStampSize) == 0) return;
    if (have) std::memcpy(FStamp, stamp, ChangeStampSize);
    FHaveStamp = have;
    const std::int64_t v = FStore.DataVersion();
    if (v != FDataVersion) {
        if (FDataVersion != -1) Invalidate();
        FDataVersion = v;
    }
}

// ----------------------------------------------------------- comparisons

int Cursor::CompareKeyValue(std::size_t i, const Value& a, const Value& b) const {
    using K = Value::Kind;
    if (a.kind == K::Null || b.kind == K::Null) {
        if (a.kind == b.kind) return 0;
        return a.kind == K::Null ? -1 : 1;
    }
    const bool aText = a.kind == K::Text, bText = b.kind == K::Text;
    if (aText != bText) return aText ? 1 : -1;  // numbers before texts
    if (aText) {
        const bool collated = i < FKeyColumns.size() && IsTextType(FSchema.Columns[FKeyColumns[i]].Type);
        if (collated) return FCollator.Compare(a.s, b.s);
        const int c = a.s.compare(b.s);
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    if (a.kind == K::Int && b.kind == K::Int) return a.i < b.i ? -1 : a.i > b.i ? 1 : 0;
    const long double x = a.kind == K::Int ? static_cast<long double>(a.i) : a.r;
    const long double y = b.kind == K::Int ? static_cast<long double>(b.i) : b.r;
    return x < y ? -1 : x > y ? 1 : 0;
}

int Cursor::CompareKeys(const std::vector<Value>& a, std::size_t n, const std::vector<Value>& b) const {
    for (std::size_t i = 0; i < n && i < a.size() && i < b.size(); ++i)
        if (const int c = CompareKeyValue(i, a[i], b[i])) return c;
    return 0;
}

int Cursor::CompareBounds(const Bound& a, const Bound& b) const {
    const std::size_t m = std::min(a.Key.size(), b.Key.size());
    if (const int c = CompareKeys(a.Key, m, b.Key)) return c;
    if (a.Key.size() == b.Key.size()) return a.PlusInf == b.PlusInf ? 0 : (a.PlusInf ? 1 : -1);
    if (a.Key.size() < b.Key.size()) return a.PlusInf ? 1 : -1;
    return b.PlusInf ? -1 : 1;
}

int Cursor::CompareRowToBound(const std::vector<Value>& key, const Bound& b) const {
    if (const int c = CompareKeys(key, b.Key.size(), b.Key)) return c;
    return b.PlusInf ? -1 : 1;
}

std::vector<Value> Cursor::KeyOf(const Row& row) const {
    std::vector<Value> k;
    k.reserve(KeyCount());
    for (int c : FKeyColumns) k.push_back(row.Values[static_cast<std::size_t>(c)]);
    k.push_back(Value::Int(row.RecNo));
    return k;
}

Cursor::Bound Cursor::LowerLimit() const {
    Bound b;
    if (!FKeyColumns.empty() && FVis.HasLower) {
        b.Key = FVis.Lower;
        if (b.Key.size() > FKeyColumns.size()) b.Key.resize(FKeyColumns.size());
    }
    return b;
}

Cursor::Bound Cursor::UpperLimit() const {
    Bound b;
    b.PlusInf = true;
    if (!FKeyColumns.empty() && FVis.HasUpper) {
        b.Key = FVis.Upper;
        if (b.Key.size() > FKeyColumns.size()) b.Key.resize(FKeyColumns.size());
    }
    return b;
}

bool Cursor::InRange(const std::vector<Value>& key) const {
    if (FKeyColumns.empty()) return true;
    if (FVis.HasLower && CompareRowToBound(key, LowerLimit()) < 0) return false;
    if (FVis.HasUpper && CompareRowToBound(key, UpperLimit()) > 0) return false;
    return true;
}

// -------------------------------------------------------- decomposition
//
// The records strictly between two bounds lo < x < hi form a list of index
// range scans, in key order. With c the length of the common prefix of the
// bounds' keys A and B:
//   A side: records with prefix A itself (when lo's tail is below A), then for
//           i from |A|-1 down to c+1: prefix A[0..i-1] fixed, column i > A[i];
//   middle: prefix A[0..c-1] fixed, A[c] < column c < B[c];
//   B side: for i from c+1 to |B|-1: prefix B[0..i-1] fixed, column i < B[i],
//           then records with prefix B itself (when hi's tail is above B).
// When one key is a prefix of the other, the middle and one side vanish.

void Cursor::AddASide(std::vector<Segment>& out, const std::vector<Value>& a, std::size_t downTo, bool plus) const {
    const std::size_t n = a.size();
    if (n == downTo) {
        if (!plus) out.push_back(Segment{a, std::nullopt, std::nullopt, false, false, false});
        return;
    }
    for (std::size_t i = n; i-- > downTo;) {
        Segment s;
        s.Fixed.assign(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(i));
        if (i == n - 1 && !plus) {
            // "prefix A itself, then column i > A[i]" is one scan: column i >= A[i]
            // (and >= null is every value).
            if (!a[i].IsNull()) {
                s.Lo = a[i];
                s.LoIncl = true;
            }
        } else {
            s.Lo = a[i];
        }
        out.push_back(std::move(s));
    }
}

void Cursor::AddBSide(std::vector<Segment>& out, const std::vector<Value>& b, std::size_t from, bool plus) const {
    const std::size_t n = b.size();
    bool merged = false;
    for (std::size_t i = from; i < n; ++i) {
        if (b[i].IsNull()) continue;  // nothing lies below null
        std::vector<Value> fixed(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(i));
        // Nulls sort first: they lie below any value.
        if (i < FKeyColumns.size()) out.push_back(Segment{fixed, std::nullopt, std::nullopt, true, false, false});
        Segment s;
        s.Fixed = std::move(fixed);
        s.Hi = b[i];
        if (i == n - 1 && plus) {
            // "column i < B[i], then prefix B itself" is one scan: column i <= B[i].
            s.HiIncl = true;
            merged = true;
        }
        out.push_back(std::move(s));
    }
    if (plus && !merged) out.push_back(Segment{b, std::nullopt, std::nullopt, false, false, false});
}

std::vector<Cursor::Segment> Cursor::Decompose(const Bound& lo, const Bound& hi) const {
    std::vector<Segment> out;
    const std::vector<Value>& a = lo.Key;
    const std::vector<Value>& b = hi.Key;
    const std::size_t m = std::min(a.size(), b.size());
    std::size_t c = 0;
    while (c < m && CompareKeyValue(c, a[c], b[c]) == 0) ++c;
    if (c == m) {
        if (a.size() == b.size()) {
            if (!lo.PlusInf && hi.PlusInf) out.push_back(Segment{a, std::nullopt, std::nullopt, false, false, false});
        } else if (a.size() < b.size()) {
            if (!lo.PlusInf) AddBSide(out, b, a.size(), hi.PlusInf);
        } else {
            if (hi.PlusInf) AddASide(out, a, b.size(), lo.PlusInf);
        }
        return out;
    }
    if (CompareKeyValue(c, a[c], b[c]) > 0) return out;
    AddASide(out, a, c + 1, lo.PlusInf);
    Segment mid;
    mid.Fixed.assign(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(c));
    mid.Lo = a[c];
    mid.Hi = b[c];
    if (!b[c].IsNull()) out.push_back(std::move(mid));
    AddBSide(out, b, c + 1, hi.PlusInf);
    return out;
}

std::string Cursor::KeyExpr(std::size_t i) const {
    if (i >= FKeyColumns.size()) return "rowid";
    const int col = FKeyColumns[i];
    std::string e = "c" + std::to_string(col);
    if (IsTextType(FSchema.Columns[static_cast<std::size_t>(col)].Type)) e += " COLLATE MONEYKEY";
    return e;
}

std::string Cursor::SegmentWhere(const Segment& s, std::vector<Value>& params, bool withSql) const {
    // withSql false: only the parameters, in the order the text binds them.
    std::string w;
    auto add = [&](std::size_t i, const char* cond) {
        if (!withSql) return;
        if (!w.empty()) w += " AND ";
        w += KeyExpr(i);
        w += cond;
    };
    for (std::size_t i = 0; i < s.Fixed.size(); ++i) {
        if (s.Fixed[i].IsNull()) {
            add(i, " IS NULL");
        } else {
            add(i, "=?");
            params.push_back(s.Fixed[i]);
        }
    }
    const std::size_t j = s.Fixed.size();
    if (j < KeyCount()) {
        if (s.NullOnly) add(j, " IS NULL");
        if (s.Lo) {
            if (s.Lo->IsNull()) {
                if (!s.Hi) add(j, " IS NOT NULL");  // `< ?` below excludes nulls as well
            } else {
                add(j, s.LoIncl ? ">=?" : ">?");
                params.push_back(*s.Lo);
            }
        }
        if (s.Hi) {
            add(j, s.HiIncl ? "<=?" : "<?");
            params.push_back(*s.Hi);
        }
    }
    return w.empty() ? "1" : w;
}

std::uint64_t Cursor::SegmentShape(const Segment& s, bool forward) const {
    // Everything the text of a segment's query depends on, besides the
    // order and the filter (a change of either empties the cache).
    if (s.Fixed.size() > 14) return kNoShape;  // more key columns than a code holds
    std::uint64_t code = s.Fixed.size();
    std::uint64_t bit = 1u << 5;
    for (const Value& v : s.Fixed) {
        if (v.IsNull()) code |= bit;
        bit <<= 1;
    }
    bit = std::uint64_t(1) << 20;
    for (const bool b : {s.NullOnly, s.Lo.has_value(), s.Lo && s.Lo->IsNull(), s.LoIncl, s.Hi.has_value(), s.HiIncl,
                         forward}) {
        if (b) code |= bit;
        bit <<= 1;
    }
    return code;
}

std::string Cursor::SelectList() const {
    std::string s = "rowid";
    for (std::size_t c = 0; c < FSchema.Columns.size(); ++c) s += ",c" + std::to_string(c);
    return s;
}

std::vector<Row> Cursor::Fetch(const Bound& lo, const Bound& hi, bool forward, std::size_t limit) {
    std::vector<Row> rows;
    rows.reserve(limit);
    std::vector<Segment> segs = Decompose(lo, hi);
    if (!forward) std::reverse(segs.begin(), segs.end());
    const std::size_t ncol = FSchema.Columns.size();
    for (const Segment& s : segs) {
        if (rows.size() >= limit) break;
        std::vector<Value> params;
        const std::uint64_t shape = SegmentShape(s, forward);
        std::string uncached;
        std::string& sql = shape == kNoShape ? uncached : FFetchSql[shape];
        if (sql.empty()) {
            sql = "SELECT " + SelectList() + " FROM records WHERE " + SegmentWhere(s, params, true);
            if (!FVis.Where.empty()) sql += " AND (" + FVis.Where + ")";
            sql += " ORDER BY ";
            for (std::size_t i = 0; i < KeyCount(); ++i) {
                if (i) sql += ",";
                sql += KeyExpr(i);
                if (!forward) sql += " DESC";
            }
            sql += " LIMIT ?";
        } else {
            SegmentWhere(s, params, false);
        }
        Query q = FStore.Prepare(sql);
        int p = 1;
        for (const Value& v : params) q.Bind(p++, v);
        for (const Value& v : FVis.WhereParams) q.Bind(p++, v);
        q.Bind(p, static_cast<std::int64_t>(limit - rows.size()));
        // Stop at the limit rather than stepping on to the end: finishing the
        // statement costs more than resetting it (a seek reads one row).
        while (rows.size() < limit && q.Step()) {
            Row r = TakeRow();
            r.RecNo = q.Int(0);
            r.Values.resize(ncol);
            for (std::size_t c = 0; c < ncol; ++c) q.ColumnInto(static_cast<int>(c + 1), r.Values[c]);
            rows.push_back(std::move(r));
        }
    }
    return rows;
}

Row Cursor::TakeRow() {
    if (FPool.empty()) return Row{};
    Row r = std::move(FPool.back());
    FPool.pop_back();
    return r;
}

void Cursor::Recycle(std::vector<Row>& rows, std::size_t keep) {
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (i != keep && FPool.size() < kMaxBatch + 1) FPool.push_back(std::move(rows[i]));
    rows.clear();
}

std::size_t Cursor::BatchSize(bool forward) {
    if (FRun < 0) {
        FRun = 0;
        FRunForward = forward;
        return 1;
    }
    if (FRunForward == forward) {
        if (FRun < 6) ++FRun;
    } else {
        FRun = 0;
        FRunForward = forward;
    }
    return std::min<std::size_t>(kMaxBatch, std::size_t(4) << FRun);
}

bool Cursor::LoadRow(std::int64_t recno, Row& row, bool applyFilter) {
    std::string sql = "SELECT " + SelectList() + " FROM records WHERE rowid=?";
    if (applyFilter && !FVis.Where.empty()) sql += " AND (" + FVis.Where + ")";
    Query q = FStore.Prepare(sql);
    q.Bind(1, recno);
    int p = 2;
    if (applyFilter)
        for (const Value& v : FVis.WhereParams) q.Bind(p++, v);
    if (!q.Step()) return false;
    row.RecNo = q.Int(0);
    row.Values.clear();
    for (std::size_t c = 0; c < FSchema.Columns.size(); ++c) row.Values.push_back(q.Column(static_cast<int>(c + 1)));
    return true;
}

// ------------------------------------------------------------- movement

bool Cursor::First() {
    Sync();
    FRun = 0;
    FRunForward = true;
    std::vector<Row> rows = Fetch(LowerLimit(), UpperLimit(), true, kFirstBatch);
    if (rows.empty()) {
        Clear();
        return false;
    }
    SetWindow(std::move(rows), 0);
    return true;
}

bool Cursor::Last() {
    Sync();
    FRun = 0;
    FRunForward = false;
    std::vector<Row> rows = Fetch(LowerLimit(), UpperLimit(), false, kFirstBatch);
    if (rows.empty()) {
        Clear();
        return false;
    }
    std::reverse(rows.begin(), rows.end());
    const std::size_t last = rows.size() - 1;
    SetWindow(std::move(rows), last);
    return true;
}

bool Cursor::Next() {
    Sync();
    if (!FHasCurrent) return First();
    if (FPos + 1 < FWin.size()) {
        ++FPos;
        FEof = FBof = false;
        FCurrentStale = false;
        return true;
    }
    Bound after{KeyOf(FWin[FPos]), true};
    Bound lo = LowerLimit();
    if (CompareBounds(after, lo) > 0) lo = std::move(after);
    const Bound from{KeyOf(FWin[FPos]), true};
    std::vector<Row> rows = Fetch(lo, UpperLimit(), true, BatchSize(true));
    // An index whose order disagrees with the comparisons (a damaged one)
    // could lead back; never move to a key that is not greater.
    if (!rows.empty() && CompareRowToBound(KeyOf(rows.front()), from) <= 0) rows.clear();
    if (rows.empty()) {
        FEof = true;
        FBof = false;
        return false;
    }
    Row cur = std::move(FWin[FPos]);
    Recycle(FWin, FPos);
    FWin.reserve(rows.size() + 1);
    FWin.push_back(std::move(cur));
    for (Row& r : rows) FWin.push_back(std::move(r));
    FPos = 1;
    FEof = FBof = false;
    FCurrentStale = false;
    return true;
}

bool Cursor::Prior() {
    Sync();
    if (!FHasCurrent) return Last();
    if (FPos > 0) {
        --FPos;
        FEof = FBof = false;
        FCurrentStale = false;
        return true;
    }
    Bound before{KeyOf(FWin[FPos]), false};
    Bound hi = UpperLimit();
    if (CompareBounds(before, hi) < 0) hi = std::move(before);
    const Bound from{KeyOf(FWin[FPos]), false};
    std::vector<Row> rows = Fetch(LowerLimit(), hi, false, BatchSize(false));
    if (!rows.empty() && CompareRowToBound(KeyOf(rows.front()), from) >= 0) rows.clear();
    if (rows.empty()) {
        FBof = true;
        FEof = false;
        return false;
    }
    Row cur = std::move(FWin[FPos]);
    Recycle(FWin, FPos);
    FWin.reserve(rows.size() + 1);
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) FWin.push_back(std::move(*it));
    FWin.push_back(std::move(cur));
    FPos = FWin.size() - 2;
    FEof = FBof = false;
    FCurrentStale = false;
    return true;
}

bool Cursor::GoTo(std::int64_t recno) {
    Sync();
    // A record of the window is fresh (the window is dropped on any change).
    if (FHasCurrent && !FCurrentStale)
        for (std::size_t i = 0; i < FWin.size(); ++i)
            if (FWin[i].RecNo == recno) {
                FPos = i;
                FEof = FBof = false;
                FCurrentStale = false;
                return true;
            }
    Row row;
    if (!LoadRow(recno, row, true) || !InRange(KeyOf(row))) return false;
    SetWindow({std::move(row)}, 0);
    FRun = 0;
    return true;
}

int Cursor::Seek(const std::vector<Value>& key) {
    Sync();
    std::vector<Value> k = key;
    if (k.size() > FKeyColumns.size()) k.resize(FKeyColumns.size());
    Bound lo{k, false};
    const Bound limit = LowerLimit();
    if (CompareBounds(limit, lo) > 0) lo = limit;
    FRun = 0;
    FRunForward = true;
    std::vector<Row> rows = Fetch(lo, UpperLimit(), true, kFirstBatch);
    if (rows.empty()) return 0;
    const bool equal = CompareKeys(KeyOf(rows.front()), k.size(), k) == 0;
    SetWindow(std::move(rows), 0);
    return equal ? 7 : 1;
}

std::int64_t Cursor::Count() {
    Sync();
    if (FCount) return *FCount;
    std::int64_t n = 0;
    if (!Restricted()) {
        n = FStore.GetMetaInt("count", 0);
    } else {
        std::vector<Segment> segs = Decompose(LowerLimit(), UpperLimit());
        for (const Segment& s : segs) {
            std::vector<Value> params;
            std::string sql = "SELECT count(*) FROM records WHERE " + SegmentWhere(s, params, true);
            if (!FVis.Where.empty()) sql += " AND (" + FVis.Where + ")";
            Query q = FStore.Prepare(sql);
            int p = 1;
            for (const Value& v : params) q.Bind(p++, v);
            for (const Value& v : FVis.WhereParams) q.Bind(p++, v);
            if (q.Step()) n += q.Int(0);
        }
    }
    FCount = n;
    return n;
}

std::optional<bool> Cursor::VisibleForCount(std::int64_t recno) {
    if (!FCount || !Restricted()) return std::nullopt;
    Row row;
    return LoadRow(recno, row, true) && InRange(KeyOf(row));
}

void Cursor::SetPosted(Row row, bool added, std::optional<int> countChange) {
    // The rest of the window may have moved in the order: only the posted
    // row stays.
    std::vector<Row> win;
    win.push_back(std::move(row));
    SetWindow(std::move(win), 0);
    // So are the rows read ahead: a walk that posts every record would
    // otherwise read a full batch ahead for each post and throw it away.
    // The next fetch reads one record; reading ahead grows from there.
    FRun = -1;
    // Counting again under a filter or range reads the whole table: a
    // change this connection made is counted in instead.
    if (countChange && FCount)
        *FCount += *countChange;
    else if (added || Restricted())
        FCount.reset();
}

void Cursor::SetDeleted(std::optional<bool> wasVisible) {
    const std::optional<std::int64_t> count = FCount;
    Invalidate();
    if (count && wasVisible) FCount = *count - (*wasVisible ? 1 : 0);
}

void Cursor::SetWindow(std::vector<Row> rows, std::size_t pos) {
    Recycle(FWin, FWin.size());  // their buffers serve the next fetches
    FWin = std::move(rows);
    FPos = pos;
    FHasCurrent = true;
    FEof = FBof = false;
    FCurrentStale = false;
}

bool Cursor::Refresh() {
    if (!FHasCurrent) return false;
    Row row;
    if (!LoadRow(FWin[FPos].RecNo, row, false)) {
        Clear();
        return false;
    }
    FWin.clear();
    FWin.push_back(std::move(row));
    FPos = 0;
    FCurrentStale = false;
    return true;
}

void Cursor::Forget(std::int64_t recno) {
    for (std::size_t i = 0; i < FWin.size(); ++i) {
        if (FWin[i].RecNo != recno) continue;
        if (FHasCurrent && i == FPos) {
            Clear();
            return;
        }
        FWin.erase(FWin.begin() + static_cast<std::ptrdiff_t>(i));
        if (FHasCurrent && i < FPos) --FPos;
        return;
    }
}

void Cursor::Clear() {
    FWin.clear();
    FPos = 0;
    FHasCurrent = false;
    FEof = FBof = true;
}

}  // namespace engine
