// The package's entry point as a host reaches it with dlopen/dlsym: its
// description, its units, the registrations they make (pages and classes in
// order, seen by the host's handler and in the one registry), and the
// resource API.
#include "package/Package.h"

#include <dlfcn.h>

#include <cstring>

#include "PackageTestKit.h"
#include "framework/DB.h"

namespace {

using pkgtest::PackageFile;

class PackageEntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        Handle = dlopen(PackageFile.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(Handle, nullptr) << dlerror();
        auto Entry = reinterpret_cast<QuenbyPackageInfoProc>(dlsym(Handle, QUENBY_PACKAGE_INFO_SYMBOL));
        ASSERT_NE(Entry, nullptr);
        Info = Entry();
        ASSERT_NE(Info, nullptr);
    }
    void TearDown() override {
        // The registry's copies of the classes hold code of the library.
        for (const char* Name : {"TMoneyTable", "TBFFilter", "TBFRelation"}) rtl::UnregisterComponentClass(Name);
        if (Handle) dlclose(Handle);
    }
    const std::uint8_t* FindResource(const char* Name, std::size_t* Size) { return Info->FindResource(Name, Size); }
    void* Handle = nullptr;
    const QuenbyPackage* Info = nullptr;
};

TEST_F(PackageEntryTest, DescribesThePackageAndItsUnitsInOrder) {
    EXPECT_EQ(Info->ApiVersion, QuenbyPackageApiVersion);
    EXPECT_STREQ(Info->Name, "Quenby_Tamblor");
    ASSERT_NE(Info->Description, nullptr);
    EXPECT_GT(std::strlen(Info->Description), 0u);
    ASSERT_EQ(Info->UnitCount, 3u);
    EXPECT_STREQ(Info->Units[0].Name, "Tamblor");
    EXPECT_STREQ(Info->Units[1].Name, "Orbalk_TLB");
    EXPECT_STREQ(Info->Units[2].Name, "Vennick_TLB");
    for (std::size_t I = 0; I < Info->UnitCount; ++I) EXPECT_NE(Info->Units[I].Register, nullptr) << I;
    ASSERT_NE(Info->Requires, nullptr);
    EXPECT_STREQ(Info->Requires[0], "libTamblorRuntime.so");
    EXPECT_EQ(Info->Requires[1], nullptr);
    // The resource API is exported under its own name too, and is the same.
    EXPECT_EQ(reinterpret_cast<void*>(Info->FindResource), dlsym(Handle, "QuenbyFindResource"));
}

TEST_F(PackageEntryTest, SharesTheHostsRegistry) {
    // The package's rtl is the host's: one registry in the process.
    EXPECT_EQ(Info->SetRegisterComponentsProc, &rtl::SetRegisterComponentsProc);
}

TEST_F(PackageEntryTest, UnitsRegisterTheirPagesAndClassesInOrder) {
    std::vector<std::pair<std::string, std::vector<std::string>>> Seen;
    std::vector<std::size_t> CallsAfterUnit;
    TRegisterComponentsProc Previous =
        rtl::SetRegisterComponentsProc([&](const std::string& Page, const std::vector<TComponentClass>& Classes) {
            std::vector<std::string> Names;
            for (const TComponentClass& C : Classes) Names.push_back(C.ClassName);
            Seen.emplace_back(Page, Names);
        });
    for (std::size_t I = 0; I < Info->UnitCount; ++I) {
        Info->Units[I].Register();
        CallsAfterUnit.push_back(Seen.size());
    }
    rtl::SetRegisterComponentsProc(std::move(Previous));

    ASSERT_EQ(Seen.size(), 2u);
    EXPECT_EQ(Seen[0].first, "Data Access");
    EXPECT_EQ(Seen[0].second, std::vector<std::string>{"TMoneyTable"});
    EXPECT_EQ(Seen[1].first, "Servers");
    EXPECT_EQ(Seen[1].second, (std::vector<std::string>{"TBFFilter", "TBFRelation"}));
    // Tamblor made the first call, Orbalk_TLB none, Vennick_TLB the second.
    EXPECT_EQ(CallsAfterUnit, (std::vector<std::size_t>{1, 1, 2}));

    // The same registrations are in the registry this host reads.
    std::vector<std::pair<std::string, std::string>> Registered;
    for (const rtl::TRegisteredClass& R : rtl::RegisteredComponentClasses())
        Registered.emplace_back(R.Page, R.Class.ClassName);
    const std::vector<std::pair<std::string, std::string>> Expected{
        {"Data Access", "TMoneyTable"}, {"Servers", "TBFFilter"}, {"Servers", "TBFRelation"}};
    EXPECT_EQ(Registered, Expected);
}

TEST_F(PackageEntryTest, RegisteredClassesCreateWorkingComponents) {
    for (std::size_t I = 0; I < Info->UnitCount; ++I) Info->Units[I].Register();
    TComponent Owner(nullptr);
    for (const char* Name : {"TMoneyTable", "TBFFilter", "TBFRelation"}) {
        std::optional<TComponentClass> Class = rtl::FindComponentClass(Name);
        ASSERT_TRUE(Class) << Name;
        TComponent* C = Class->Create(&Owner);
        ASSERT_NE(C, nullptr);
        EXPECT_EQ(C->ClassName(), Name);
        EXPECT_EQ(C->Owner(), &Owner);
    }
    EXPECT_EQ(Owner.ComponentCount(), 3);
    EXPECT_NE(dynamic_cast<TDataSet*>(Owner.Components(0)), nullptr);
    EXPECT_NE(dynamic_cast<TOleServer*>(Owner.Components(1)), nullptr);
}

TEST_F(PackageEntryTest, FindsTheBitmapResourceByNameIgnoringCase) {
    std::size_t Size = 99;
    const std::uint8_t* Data = FindResource("TMONEYTABLE", &Size);
    ASSERT_NE(Data, nullptr);
    EXPECT_GT(Size, 54u);
    EXPECT_EQ(Data[0], 'B');
    EXPECT_EQ(Data[1], 'M');
    std::size_t Other = 0;
    EXPECT_EQ(FindResource("tMoneyTable", &Other), Data);
    EXPECT_EQ(Other, Size);
    // Unknown or missing names: nothing, size 0.
    Size = 99;
    EXPECT_EQ(FindResource("TBFFILTER", &Size), nullptr);
    EXPECT_EQ(Size, 0u);
    Size = 99;
    EXPECT_EQ(FindResource(nullptr, &Size), nullptr);
    EXPECT_EQ(Size, 0u);
    EXPECT_EQ(FindResource("TMONEYTABLE", nullptr), Data);
}

}  // namespace
