// The COM layer: reference counting, the class registry, per-thread
// initialisation, error info, variants and safe arrays.
#include <gtest/gtest.h>

#include <thread>

#include "rtl/Rtl.h"
#include "rtl/ole/Ole.h"
#include "tests/LocaleTestKit.h"

namespace {

struct ICounter : IUnknown {
    static constexpr IID Iid{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
    using BaseInterface = IUnknown;
    virtual HRESULT Increment(std::int32_t* value) = 0;
};
struct ICounter2 : ICounter {
    static constexpr IID Iid{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};
    using BaseInterface = ICounter;
};
struct IOther : IUnknown {
    static constexpr IID Iid{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 10}};
    using BaseInterface = IUnknown;
};

int gDestroyed = 0;

class Counter : public rtl::ComObject<ICounter2> {
public:
    ~Counter() override { ++gDestroyed; }
    HRESULT Increment(std::int32_t* value) override {
        if (!value) {
            rtl::SetErrorInfo("Counter", "No place for the value");
            return E_POINTER;
        }
        *value = ++FValue;
        return S_OK;
    }

private:
    std::int32_t FValue = 0;
};

constexpr CLSID CLSID_Counter{0xABCDEF01, 0x1111, 0x2222, {9, 9, 9, 9, 9, 9, 9, 9}};
constexpr CLSID CLSID_Unknown{0xABCDEF02, 0x1111, 0x2222, {9, 9, 9, 9, 9, 9, 9, 9}};

class OleTest : public ::testing::Test {
protected:
    void SetUp() override {
        gDestroyed = 0;
        ASSERT_EQ(CoInitialize(), S_OK);
        rtl::RegisterClassObject(CLSID_Counter, "Test.Counter", [] {
            IUnknown* u = static_cast<ICounter*>(new Counter);
            u->AddRef();
            return u;
        });
    }
    void TearDown() override {
        rtl::UnregisterClassObject(CLSID_Counter);
        CoUninitialize();
        rtl::ClearErrorInfo();
    }
};

TEST_F(OleTest, ReferenceCountReachesZeroExactlyOnce) {
    {
        auto counter = rtl::CreateComObject<ICounter>(CLSID_Counter);
        ASSERT_TRUE(counter);
        rtl::ComPtr<ICounter> copy = counter;
        rtl::ComPtr<ICounter> moved = std::move(copy);
        EXPECT_FALSE(copy);
        auto again = counter.As<ICounter2>();
        ASSERT_TRUE(again);
        EXPECT_EQ(static_cast<ICounter*>(again.get()), counter.get());
        std::int32_t v = 0;
        ASSERT_EQ(again->Increment(&v), S_OK);
        ASSERT_EQ(counter->Increment(&v), S_OK);
        EXPECT_EQ(v, 2);  // one object behind every reference
        EXPECT_EQ(gDestroyed, 0);
    }
    EXPECT_EQ(gDestroyed, 1);
}

TEST_F(OleTest, QueryInterfaceAnswersForAncestorsOnly) {
    auto counter = rtl::CreateComObject<ICounter2>(CLSID_Counter);
    EXPECT_TRUE(counter.As<IUnknown>());
    EXPECT_TRUE(counter.As<ICounter>());
    EXPECT_FALSE(counter.As<IOther>());
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(counter->QueryInterface(IOther::Iid, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    counter.reset();
    EXPECT_EQ(gDestroyed, 1);
}

TEST_F(OleTest, AttachAndDetachMoveOneReference) {
    auto* raw = new Counter;
    raw->AddRef();
    {
        auto owner = rtl::ComPtr<ICounter>::Attach(raw);
        EXPECT_EQ(raw->RefCount(), 1u);
        ICounter* back = owner.Detach();
        EXPECT_EQ(back, static_cast<ICounter*>(raw));
    }
    EXPECT_EQ(gDestroyed, 0);
    raw->Release();
    EXPECT_EQ(gDestroyed, 1);
}

TEST_F(OleTest, UnknownClassIsNotRegistered) {
    try {
        rtl::CreateComObject<ICounter>(CLSID_Unknown);
        FAIL() << "no exception";
    } catch (const EOleException&) {
        FAIL() << "no server, so no server message";
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.Message(), "Class not registered");
        EXPECT_EQ(e.ErrorCode, REGDB_E_CLASSNOTREG);
    }
}

TEST_F(OleTest, MissingInterfaceFailsAndFreesTheObject) {
    try {
        rtl::CreateComObject<IOther>(CLSID_Counter);
        FAIL() << "no exception";
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.Message(), "No such interface supported");
    }
    EXPECT_EQ(gDestroyed, 1);
}

TEST_F(OleTest, InitialisationIsCountedPerThread) {
    EXPECT_EQ(CoInitialize(), S_FALSE);  // nested on this thread
    CoUninitialize();
    HRESULT onOtherThread = S_OK;
    HRESULT afterInit = E_FAIL;
    HRESULT firstInit = E_FAIL;
    std::thread t([&] {
        void* p = nullptr;
        onOtherThread = CoCreateInstance(CLSID_Counter, nullptr, CLSCTX_SERVER, ICounter::Iid, &p);
        firstInit = CoInitialize();
        afterInit = CoCreateInstance(CLSID_Counter, nullptr, CLSCTX_SERVER, ICounter::Iid, &p);
        if (p) static_cast<ICounter*>(p)->Release();
        CoUninitialize();
    });
    t.join();
    EXPECT_EQ(onOtherThread, CO_E_NOTINITIALIZED);
    EXPECT_EQ(firstInit, S_OK);  // the other thread's first CoInitialize
    EXPECT_EQ(afterInit, S_OK);
    EXPECT_EQ(gDestroyed, 1);
}

TEST_F(OleTest, CreationWithoutInitialisationRaises) {
    CoUninitialize();
    try {
        rtl::CreateComObject<ICounter>(CLSID_Counter);
        FAIL() << "no exception";
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.Message(), "CoInitialize has not been called");
        EXPECT_EQ(e.ErrorCode, CO_E_NOTINITIALIZED);
    }
    CoInitialize();
}

TEST_F(OleTest, OleCheckCarriesTheServersMessageOnce) {
    auto counter = rtl::CreateComObject<ICounter>(CLSID_Counter);
    try {
        OleCheck(counter->Increment(nullptr));
        FAIL() << "no exception";
    } catch (const EOleException& e) {
        EXPECT_EQ(e.Message(), "No place for the value");
        EXPECT_EQ(e.Source, "Counter");
        EXPECT_EQ(e.ErrorCode, E_POINTER);
    }
    // The error info was consumed: the next failure has only the system text.
    try {
        OleCheck(E_FAIL);
        FAIL() << "no exception";
    } catch (const EOleException&) {
        FAIL() << "stale error info";
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.Message(), "Unspecified error");
    }
    EXPECT_EQ(OleCheck(S_FALSE), S_FALSE);
}

TEST_F(OleTest, RemoteActivationIsRefusedClearly) {
    EXPECT_TRUE(rtl::CreateRemoteComObject<ICounter>("", CLSID_Counter));
    EXPECT_TRUE(rtl::CreateRemoteComObject<ICounter>("localhost", CLSID_Counter));
    try {
        rtl::CreateRemoteComObject<ICounter>("far-away-host", CLSID_Counter);
        FAIL() << "no exception";
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.Message(), "Cannot create the object on machine 'far-away-host': remote activation is not available");
    }
}

TEST(Guid, RoundTripsThroughText) {
    const GUID g{0x5B7E2A10, 0x3C41, 0x4D0A, {0x9E, 0x21, 0x6F, 0x0B, 0x8A, 0x51, 0x11, 0x01}};
    EXPECT_EQ(GUIDToString(g), "{5B7E2A10-3C41-4D0A-9E21-6F0B8A511101}");
    EXPECT_EQ(StringToGUID("{5b7e2a10-3c41-4d0a-9e21-6f0b8a511101}"), g);
    for (const char* bad : {"", "{5B7E2A10-3C41-4D0A-9E21-6F0B8A51110}", "{5B7E2A10-3C41-4D0A-9E21-6F0B8A51110X}",
                            "5B7E2A10-3C41-4D0A-9E21-6F0B8A511101xx"}) {
        try {
            StringToGUID(bad);
            FAIL() << bad;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid GUID value");
        }
    }
}

class VariantTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSaved = FormatSettings;
        FormatSettings.DecimalSeparator = '.';
        FormatSettings.DateSeparator = '-';
        FormatSettings.TimeSeparator = ':';
        FormatSettings.ShortDateFormat = "yyyy-mm-dd";
        FormatSettings.LongTimeFormat = "hh:nn:ss";
    }
    void TearDown() override { FormatSettings = FSaved; }
    TFormatSettings FSaved;
};

template <class E, class F>
std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return "<no exception>";
}

TEST_F(VariantTest, ConvertsBetweenTypes) {
    EXPECT_EQ(OleVariant().VType(), VT_EMPTY);
    EXPECT_EQ(OleVariant().ToInt(), 0);
    EXPECT_EQ(OleVariant().ToString(), "");
    EXPECT_EQ(OleVariant(std::int16_t(-5)).VType(), VT_I2);
    EXPECT_EQ(OleVariant(std::int32_t(70000)).ToDouble(), 70000.0);
    EXPECT_EQ(OleVariant(2.5).ToInt(), 2);  // banker's rounding
    EXPECT_EQ(OleVariant(3.5).ToInt(), 4);
    EXPECT_EQ(OleVariant(" 42 ").ToInt(), 42);
    EXPECT_EQ(OleVariant("1.25").ToDouble(), 1.25);
    EXPECT_TRUE(OleVariant("True").ToBool());
    EXPECT_FALSE(OleVariant("0").ToBool());
    EXPECT_EQ(OleVariant(true).ToString(), "True");
    EXPECT_EQ(OleVariant(std::int32_t(-12)).ToString(), "-12");
    EXPECT_EQ(OleVariant::FromDate(EncodeDate(2024, 2, 29)).ToString(), "2024-02-29");
    EXPECT_EQ(OleVariant("2024-02-29").ToDate(), EncodeDate(2024, 2, 29));
    EXPECT_EQ(OleVariant(u"P\u0159\u00EDli\u0161").ToString(), "P\xC5\x99\xC3\xADli\xC5\xA1");
    EXPECT_EQ(OleVariant("\xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD").ToWide(), u"\u017Elu\u0165ou\u010Dk\u00FD");
    EXPECT_EQ(VarToStr(OleVariant::Null()), "");
    EXPECT_EQ(OleVariant(std::int32_t(40000)).ToDate(), 40000.0);
}

// Text reads as a number in the user's notation or in C notation; the C
// form must not depend on the C library's locale, which a Qt program sets.
TEST_F(VariantTest, TextToNumberTakesTheUsersAndTheCNotation) {
    ENTER_COMMA_DECIMAL_LOCALE(german);
    EXPECT_EQ(OleVariant("1,5").ToDouble(), 1.5);
    EXPECT_EQ(OleVariant(" 1.25 ").ToDouble(), 1.25);
    EXPECT_EQ(OleVariant("-2.5e3").ToInt(), -2500);
    EXPECT_EQ(MessageOf<EVariantTypeCastError>([] { OleVariant("1.5x").ToDouble(); }),
              "Could not convert variant of type (String) into type (Double)");
}

TEST_F(VariantTest, RefusesWhatDoesNotConvert) {
    EXPECT_EQ(MessageOf<EVariantTypeCastError>([] { OleVariant("abc").ToInt(); }),
              "Could not convert variant of type (String) into type (Integer)");
    EXPECT_EQ(MessageOf<EVariantTypeCastError>([] { OleVariant::Null().ToInt(); }),
              "Could not convert variant of type (Null) into type (Integer)");
    EXPECT_EQ(MessageOf<EVariantTypeCastError>([] { OleVariant::Null().ToString(); }),
              "Could not convert variant of type (Null) into type (String)");
    EXPECT_EQ(MessageOf<EVariantTypeCastError>([] { OleVariant("maybe").ToBool(); }),
              "Could not convert variant of type (String) into type (Boolean)");
    EXPECT_EQ(MessageOf<EVariantTypeCastError>([] { OleVariant("not a date").ToDate(); }),
              "Could not convert variant of type (String) into type (Date)");
    EXPECT_EQ(MessageOf<EVariantOverflowError>([] { OleVariant(1e12).ToInt(); }),
              "Overflow while converting variant of type (Double) into type (Integer)");
    EXPECT_EQ(MessageOf<EVariantOverflowError>([] { OleVariant(std::int32_t(40000)).ToSmallInt(); }),
              "Overflow while converting variant of type (Integer) into type (Smallint)");
    EXPECT_EQ(OleVariant(std::int32_t(-32768)).ToSmallInt(), -32768);
}

TEST_F(VariantTest, ArraysAreValuesWithLowerBoundZero) {
    OleVariant a = VarArrayOf({OleVariant("Smith"), OleVariant(std::int32_t(7))});
    ASSERT_TRUE(a.IsArray());
    EXPECT_EQ(a.ArrayCount(), 2);
    OleVariant b = a;
    b.At(0) = OleVariant("Jones");
    EXPECT_EQ(a.At(0).ToString(), "Smith");  // deep copy
    EXPECT_FALSE(a == b);
    EXPECT_EQ(MessageOf<EVariantError>([&] { a.At(2); }), "Variant array index out of bounds");
    EXPECT_EQ(MessageOf<EVariantError>([] { OleVariant(1.0).ArrayCount(); }), "Variant is not an array");
    EXPECT_EQ(MessageOf<EVariantTypeCastError>([&] { a.ToString(); }),
              "Could not convert variant of type (Array Variant) into type (String)");
}

TEST_F(VariantTest, ResetTextTurnsAnyVariantIntoTextFilledInPlace) {
    OleVariant v = VarArrayOf({OleVariant("Smith")});
    v.ResetText() = u"long enough to need its own buffer";
    EXPECT_EQ(v.VType(), VT_BSTR);
    EXPECT_EQ(v.ToString(), "long enough to need its own buffer");
    v.ResetText() += u"ab";
    EXPECT_EQ(v.TextView(), u"ab");
    EXPECT_TRUE(v == OleVariant(u"ab"));
    v = OleVariant(std::int32_t(4));
    EXPECT_TRUE(v.TextView().empty());
    EXPECT_TRUE(OleVariant().ResetText().empty());
}

// A text handed over in UTF-8 is the same text in every respect: both forms,
// conversions, comparison and copies; refilling in either form replaces it.
TEST_F(VariantTest, TextGivenInUtf8IsTheSameTextInEveryForm) {
    OleVariant v(std::int32_t(7));
    v.ResetUtf8Text() = "P\xC5\x99\xC3\xAD" "bram \xF0\x9D\x84\x9E 12.5";  // Příbram, an astral character
    EXPECT_EQ(v.VType(), VT_BSTR);
    EXPECT_EQ(v.Utf8TextView(), "P\xC5\x99\xC3\xAD" "bram \xF0\x9D\x84\x9E 12.5");
    const OleVariant Wide(u"P\u0159\u00EDbram \U0001D11E 12.5");
    EXPECT_TRUE(v == Wide);
    EXPECT_TRUE(Wide == v);
    const OleVariant Copy = v;
    EXPECT_EQ(Copy.TextView(), Wide.TextView());
    EXPECT_EQ(v.ToWide(), Wide.ToWide());
    EXPECT_EQ(Wide.Utf8TextView(), v.Utf8TextView());
    EXPECT_FALSE(v == OleVariant(u"Pribram"));
    v.ResetUtf8Text() = " 12.5 ";
    EXPECT_EQ(v.ToDouble(), 12.5);
    EXPECT_EQ(v.ToString(), " 12.5 ");
    v.ResetText() = u"x";  // the UTF-8 form of the earlier text is not kept
    EXPECT_EQ(v.Utf8TextView(), "x");
    v.ResetUtf8Text() = "yz";
    EXPECT_EQ(v.TextView(), u"yz");
    // A lone surrogate reads as U+FFFD in UTF-8, as ToString gives it.
    OleVariant Lone;
    Lone.ResetText() = std::u16string(1, char16_t(0xD800));
    EXPECT_EQ(Lone.Utf8TextView(), "\xEF\xBF\xBD");
    EXPECT_FALSE(Lone == OleVariant(u"\uFFFD"));
    EXPECT_TRUE(OleVariant(std::int32_t(1)).Utf8TextView().empty());
}

TEST(SafeArray, ElementsAndBounds) {
    EXPECT_EQ(SafeArrayCreateVector(VT_I4, 0, 3), nullptr);
    PSafeArray psa = SafeArrayCreateVector(VT_VARIANT, 0, 3);
    ASSERT_NE(psa, nullptr);
    std::int32_t lo = -1, hi = -1;
    EXPECT_EQ(SafeArrayGetLBound(psa, 1, &lo), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(psa, 1, &hi), S_OK);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 2);
    EXPECT_EQ(SafeArrayGetLBound(psa, 2, &lo), DISP_E_BADINDEX);
    for (std::int32_t i = 0; i < 3; ++i) {
        OleVariant v(i * 10);
        EXPECT_EQ(SafeArrayPutElement(psa, &i, &v), S_OK);
    }
    std::int32_t bad = 3;
    OleVariant v;
    EXPECT_EQ(SafeArrayPutElement(psa, &bad, &v), DISP_E_BADINDEX);
    bad = -1;
    EXPECT_EQ(SafeArrayGetElement(psa, &bad, &v), DISP_E_BADINDEX);
    PSafeArray copy = SafeArrayCopy(psa);
    std::int32_t one = 1;
    OleVariant changed("x");
    SafeArrayPutElement(psa, &one, &changed);
    ASSERT_EQ(SafeArrayGetElement(copy, &one, &v), S_OK);
    EXPECT_EQ(v.ToInt(), 10);
    ASSERT_EQ(SafeArrayGetElement(psa, &one, &v), S_OK);
    EXPECT_EQ(v.ToString(), "x");
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(SafeArrayCopy(nullptr), nullptr);
    EXPECT_EQ(SafeArrayGetElement(nullptr, &one, &v), E_INVALIDARG);
}

}  // namespace
