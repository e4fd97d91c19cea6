// The engine's filter object (class BFFilter, interface IMoneyFilter): an
// expression, compare flags and two range bounds, taking effect when it is
// installed on an engine table with SetFilter.
//
// The object only stores what it is given (SetExpression does not parse);
// the table reads the state through the engine-private interface
// IEngineFilter when the object is installed, compiles the expression then
// and keeps a snapshot: later changes take effect at the next SetFilter.
//
// Ownership: SetRangeBound takes over the safe array it is given and destroys
// it when the bound is replaced or the object is released. State() returns a
// reference valid until the next call that changes the object.
// Threads: an object belongs to the thread that created it.
#pragma once

#include "moneytable/Vennick_TLB.h"

#include <optional>
#include <vector>

namespace engine {

struct FilterState {
    WideString Expression;
    std::int32_t CompareFlags = 0;
    PSafeArray Lower = nullptr;  // owned by the filter object; nullptr = open side
    PSafeArray Upper = nullptr;
};

// Implemented by the engine's filter object only: how the engine table reads
// the state of an IBFFilter it is given.
struct IEngineFilter : IUnknown {
    static constexpr IID Iid{0x7A1C3E21, 0x58D2, 0x4B61, {0xA4, 0x0F, 0x2C, 0x93, 0x6E, 0x17, 0x2E, 0x01}};
    virtual const FilterState& State() const = 0;
};

// A new filter object (one reference, held by the returned pointer).
rtl::ComPtr<IMoneyFilter> CreateFilterObject();

}  // namespace engine
