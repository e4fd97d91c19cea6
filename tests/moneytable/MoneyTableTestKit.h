// Shared helpers of the table component's tests: a fixture that installs
// the recording fake engine, a table class that opens the protected hooks to
// the tests, a recording data link, and exception checks that compare the
// exact class and message.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "moneytable/Tamblor.h"
#include "tests/moneytable/FakeEngine.h"

namespace mttest {

// A TMoneyTable whose hooks the tests may call.
class TTestTable : public TMoneyTable {
public:
    using TMoneyTable::TMoneyTable;
    using TMoneyTable::AllocRecordBuffer;
    using TMoneyTable::FreeRecordBuffer;
    using TMoneyTable::GetBookmarkData;
    using TMoneyTable::GetBookmarkFlag;
    using TMoneyTable::GetRecord;
    using TMoneyTable::GetRecordSize;
    using TMoneyTable::InternalFirst;
    using TMoneyTable::InternalInitRecord;
    using TMoneyTable::InternalLast;
    using TMoneyTable::InternalSetToRecord;
    using TMoneyTable::SetTempState;
    using TMoneyTable::RestoreState;
};

// Records every notification that reaches it.
class TRecordingLink : public TDataLink {
public:
    std::vector<std::pair<TDataEvent, std::intptr_t>> Events;
    int Count(TDataEvent E) const {
        int N = 0;
        for (auto& [Ev, Info] : Events)
            if (Ev == E) ++N;
        return N;
    }
    // The fields that deFieldChange named, in order.
    std::vector<TField*> ChangedFields() const {
        std::vector<TField*> R;
        for (auto& [Ev, Info] : Events)
            if (Ev == deFieldChange) R.push_back(fw::InfoToField(Info));
        return R;
    }

protected:
    void DataEvent(TDataEvent Event, std::intptr_t Info) override {
        Events.emplace_back(Event, Info);
        TDataLink::DataEvent(Event, Info);
    }
};

// Runs F and checks that it raises exactly class E with message Msg.
template <class E, class F>
void ExpectError(F&& Fn, const std::string& Msg) {
    try {
        Fn();
        ADD_FAILURE() << "no exception; expected " << typeid(E).name() << " \"" << Msg << "\"";
    } catch (const std::exception& Ex) {
        EXPECT_EQ(typeid(Ex), typeid(E)) << "message: " << Ex.what();
        EXPECT_EQ(std::string(Ex.what()), Msg);
    }
}

class FakeEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        FormatSettings = TFormatSettings::Invariant();
        Engine().Reset();
        fake::FakeEngine::Register();
    }
    void TearDown() override {
        Engine().Reset();
        EXPECT_EQ(Engine().LiveObjects(), 0) << "engine objects left alive";
        // COM is balanced: this thread starts afresh.
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        CoUninitialize();
    }
    static fake::FakeEngine& Engine() { return fake::FakeEngine::Instance(); }
    static std::vector<std::string>& Calls() { return Engine().Calls; }
};

}  // namespace mttest
