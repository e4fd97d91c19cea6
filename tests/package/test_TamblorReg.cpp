// The published properties and events of TMoneyTable as the package
// registers them: names and types in their published order, and the text
// getters and setters that an object inspector uses.
#include "package/PackageLoader.h"

#include <memory>

#include "PackageTestKit.h"
#include "framework/DB.h"

namespace {

using pkgtest::ExpectRaise;

class MoneyTablePropertiesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Package = new package::TLoadedPackage(pkgtest::PackageFile); }
    static void TearDownTestSuite() {
        delete Package;
        Package = nullptr;
    }
    void SetUp() override {
        std::optional<TComponentClass> Found = rtl::FindComponentClass("TMoneyTable");
        ASSERT_TRUE(Found);
        Class = *Found;
        Owner = std::make_unique<TComponent>(nullptr);
        Table = Class.Create(Owner.get());
    }
    void TearDown() override {
        Owner.reset();
        Class = TComponentClass{};
    }
    const TPropInfo& Prop(const std::string& Name) {
        for (const TPropInfo& P : Class.Properties)
            if (P.Name == Name) return P;
        throw std::runtime_error("no property " + Name);
    }
    std::string Get(const std::string& Name) { return Prop(Name).Get(Table); }
    void Set(const std::string& Name, const std::string& Value) { Prop(Name).Set(Table, Value); }

    static inline package::TLoadedPackage* Package = nullptr;
    TComponentClass Class;
    std::unique_ptr<TComponent> Owner;
    TComponent* Table = nullptr;
};

TEST_F(MoneyTablePropertiesTest, PublishedInOrderWithTheirTypes) {
    const std::vector<std::pair<std::string, std::string>> Expected{
        {"Name", "TComponentName"},
        {"Tag", "NativeInt"},
        {"Exclusive", "Boolean"},
        {"FileName", "TFileName"},
        {"IndexFieldNames", "string"},
        {"MasterFields", "string"},
        {"MasterSource", "TDataSource"},
        {"ReadOnly", "Boolean"},
        {"BeforeOpen", "TDataSetNotifyEvent"},
        {"AfterOpen", "TDataSetNotifyEvent"},
        {"BeforeClose", "TDataSetNotifyEvent"},
        {"AfterClose", "TDataSetNotifyEvent"},
        {"BeforeInsert", "TDataSetNotifyEvent"},
        {"AfterInsert", "TDataSetNotifyEvent"},
        {"BeforeEdit", "TDataSetNotifyEvent"},
        {"AfterEdit", "TDataSetNotifyEvent"},
        {"BeforePost", "TDataSetNotifyEvent"},
        {"AfterPost", "TDataSetNotifyEvent"},
        {"BeforeCancel", "TDataSetNotifyEvent"},
        {"AfterCancel", "TDataSetNotifyEvent"},
        {"BeforeDelete", "TDataSetNotifyEvent"},
        {"AfterDelete", "TDataSetNotifyEvent"},
        {"BeforeScroll", "TDataSetNotifyEvent"},
        {"AfterScroll", "TDataSetNotifyEvent"},
        {"BeforeRefresh", "TDataSetNotifyEvent"},
        {"AfterRefresh", "TDataSetNotifyEvent"},
        {"OnCalcFields", "TDataSetNotifyEvent"},
        {"OnDeleteError", "TDataSetErrorEvent"},
        {"OnEditError", "TDataSetErrorEvent"},
        {"OnNewRecord", "TDataSetNotifyEvent"},
        {"OnPostError", "TDataSetErrorEvent"},
    };
    std::vector<std::pair<std::string, std::string>> Actual;
    for (const TPropInfo& P : Class.Properties) Actual.emplace_back(P.Name, P.TypeName);
    EXPECT_EQ(Actual, Expected);
    // Public-only dataset properties stay off the list.
    for (const char* Hidden : {"Active", "Filter", "Filtered", "FilterOptions"})
        EXPECT_THROW(Prop(Hidden), std::runtime_error) << Hidden;
}

TEST_F(MoneyTablePropertiesTest, PropertiesHaveGettersAndSettersEventsOnlyGetters) {
    for (const TPropInfo& P : Class.Properties) {
        EXPECT_TRUE(P.Get) << P.Name;
        const bool IsEvent = P.TypeName.ends_with("Event");
        EXPECT_EQ(static_cast<bool>(P.Set), !IsEvent) << P.Name;
    }
}

TEST_F(MoneyTablePropertiesTest, DefaultsOfANewTable) {
    EXPECT_EQ(Get("Name"), "");
    EXPECT_EQ(Get("Tag"), "0");
    EXPECT_EQ(Get("Exclusive"), "False");
    EXPECT_EQ(Get("FileName"), "");
    EXPECT_EQ(Get("IndexFieldNames"), "");
    EXPECT_EQ(Get("MasterFields"), "");
    EXPECT_EQ(Get("MasterSource"), "");
    EXPECT_EQ(Get("ReadOnly"), "False");
    EXPECT_EQ(Get("BeforeOpen"), "");
    EXPECT_EQ(Get("OnPostError"), "");
}

TEST_F(MoneyTablePropertiesTest, SettersReachTheTable) {
    Set("Name", "Accounts");
    Set("Tag", "-42");
    Set("Exclusive", "true");
    Set("FileName", "/data/BANK.MNY");
    Set("IndexFieldNames", "Payee;Date");
    Set("ReadOnly", "TRUE");
    auto* T = dynamic_cast<TDataSet*>(Table);
    ASSERT_NE(T, nullptr);
    EXPECT_EQ(T->Name(), "Accounts");
    EXPECT_EQ(T->Tag(), -42);
    EXPECT_EQ(Get("Tag"), "-42");
    EXPECT_EQ(Get("Exclusive"), "True");
    EXPECT_EQ(Get("FileName"), "/data/BANK.MNY");
    EXPECT_EQ(Get("IndexFieldNames"), "Payee;Date");
    EXPECT_EQ(Get("ReadOnly"), "True");
    // ReadOnly reaches the dataset: it refuses to edit.
    EXPECT_FALSE(T->CanModify());
    Set("ReadOnly", "False");
    EXPECT_EQ(Get("ReadOnly"), "False");
    EXPECT_TRUE(T->CanModify());
}

TEST_F(MoneyTablePropertiesTest, BadTextsAreRefusedAndChangeNothing) {
    ExpectRaise<EConvertError>([&] { Set("Exclusive", "yes"); }, "'yes' is not a valid boolean value");
    EXPECT_EQ(Get("Exclusive"), "False");
    ExpectRaise<EConvertError>([&] { Set("Tag", "4x"); }, "'4x' is not a valid integer value");
    EXPECT_EQ(Get("Tag"), "0");
    ExpectRaise<EComponentError>([&] { Set("Name", "1st table"); }, "'1st table' is not a valid component name");
    EXPECT_EQ(Get("Name"), "");
}

TEST_F(MoneyTablePropertiesTest, MasterSourceNamesADataSourceOfTheOwner) {
    auto* Source = new TDataSource(Owner.get());
    Source->SetName("CustomersSource");
    auto* Other = new TComponent(Owner.get());
    Other->SetName("NotASource");

    Set("MasterSource", "customerssource");
    EXPECT_EQ(Get("MasterSource"), "CustomersSource");
    EXPECT_EQ(dynamic_cast<TDataSet*>(Table)->DataSource(), Source);

    ExpectRaise<EConvertError>([&] { Set("MasterSource", "NotASource"); },
                               "'NotASource' is not a data source of the table's owner");
    ExpectRaise<EConvertError>([&] { Set("MasterSource", "Missing"); },
                               "'Missing' is not a data source of the table's owner");
    EXPECT_EQ(Get("MasterSource"), "CustomersSource");

    Set("MasterSource", "");
    EXPECT_EQ(Get("MasterSource"), "");
    EXPECT_EQ(dynamic_cast<TDataSet*>(Table)->DataSource(), nullptr);

    // A source that is freed leaves the property empty.
    Set("MasterSource", "CustomersSource");
    delete Source;
    EXPECT_EQ(Get("MasterSource"), "");
}

TEST_F(MoneyTablePropertiesTest, MasterFieldsFollowTheMasterLink) {
    Set("MasterFields", "AccountId");
    EXPECT_EQ(Get("MasterFields"), "AccountId");
}

TEST_F(MoneyTablePropertiesTest, EventsShowWhetherAHandlerIsAssigned) {
    auto* T = dynamic_cast<TDataSet*>(Table);
    ASSERT_NE(T, nullptr);
    T->AfterScroll = [](TDataSet*) {};
    T->OnEditError = [](TDataSet*, EDatabaseError&, TDataAction&) {};
    EXPECT_EQ(Get("AfterScroll"), "(assigned)");
    EXPECT_EQ(Get("OnEditError"), "(assigned)");
    EXPECT_EQ(Get("BeforeScroll"), "");
    EXPECT_EQ(Get("OnPostError"), "");
}

}  // namespace
