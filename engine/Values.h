// Values of table columns: conversion of client values into the stored form
// of a column, with the refusals (out of range, text too long, a value that
// does not fit the type) that name the column.
//
// Stored forms (see Engine.h, Value): B Int 0/1; C U M G Text (UTF-8); D Z Int
// days since 30 Dec 1899; T Y Int milliseconds since midnight; E R Real;
// I L V W Int.
//
// Threads: pure functions; any thread.
#pragma once

#include "engine/Engine.h"

#include <cstdint>
#include <string>

namespace engine {

// A value as a client hands it over (converted from an OLE variant).
// Date: a date-time number (days since 30 Dec 1899 plus the time as a
// fraction of a day).
struct ClientValue {
    enum class Kind { Null, Int, Real, Text, Bool, Date };
    Kind kind = Kind::Null;
    std::int64_t i = 0;
    double r = 0;
    std::string s;

    static ClientValue Null() { return {}; }
    static ClientValue Int(std::int64_t v) { ClientValue x; x.kind = Kind::Int; x.i = v; return x; }
    static ClientValue Real(double v) { ClientValue x; x.kind = Kind::Real; x.r = v; return x; }
    static ClientValue Text(std::string v) { ClientValue x; x.kind = Kind::Text; x.s = std::move(v); return x; }
    static ClientValue Bool(bool v) { ClientValue x; x.kind = Kind::Bool; x.i = v ? 1 : 0; return x; }
    static ClientValue Date(double v) { ClientValue x; x.kind = Kind::Date; x.r = v; return x; }
};

// Why the conversion is made: a column write checks sizes and refuses Y/Z
// columns; a key (seek or range bound) only converts to the comparable form.
enum class ConvertFor { Write, Key, EngineWrite };

// Converts to the stored form of column (whose name the messages use).
// Throws EngineError naming the column when the value does not fit.
Value ConvertClientValue(const ColumnSpec& column, const ClientValue& v, ConvertFor purpose);

// Checks a value already in stored form (bulk inserts) and normalises it.
Value CheckStoredValue(const ColumnSpec& column, const Value& v, ConvertFor purpose);

// Civil date <-> day number (days since 30 Dec 1899). ValidDate: year 1..9999.
std::int64_t DayFromCivil(int year, int month, int day);
bool ValidDate(int year, int month, int day);
constexpr std::int64_t MinDay = -693593;   // 0001-01-01
constexpr std::int64_t MaxDay = 2958465;   // 9999-12-31
constexpr std::int64_t MsPerDay = 86400000;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, or "" when the text
// is not a GUID (braces optional on input).
std::string NormalizeGuid(const std::string& text);

}  // namespace engine
