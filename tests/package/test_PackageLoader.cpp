// Loading a package as a host does (TLoadedPackage): pages and classes in
// order, the handler and registry restored and emptied on unload, and every
// failure leaving nothing behind.
#include "package/PackageLoader.h"

#include "PackageTestKit.h"

namespace {

using package::EPackageError;
using package::TLoadedPackage;
using pkgtest::ExpectRaise;
using pkgtest::FakePackageDir;
using pkgtest::PackageFile;

std::vector<std::string> Names(const std::vector<const TComponentClass*>& Classes) {
    std::vector<std::string> R;
    for (const TComponentClass* C : Classes) R.push_back(C->ClassName);
    return R;
}

TEST(PackageLoaderTest, LoadsPagesAndClassesInOrderAndUnloadsThem) {
    int HostHandlerCalls = 0;
    TRegisterComponentsProc Previous = rtl::SetRegisterComponentsProc(
        [&](const std::string&, const std::vector<TComponentClass>&) { ++HostHandlerCalls; });
    {
        TLoadedPackage Package(PackageFile);
        EXPECT_STREQ(Package.Info().Name, "Quenby_Tamblor");
        ASSERT_EQ(Package.Registrations().size(), 2u);
        EXPECT_EQ(Package.Registrations()[0].Unit, "Tamblor");
        EXPECT_EQ(Package.Registrations()[1].Unit, "Vennick_TLB");

        const std::vector<package::TPalettePage> Pages = Package.Pages();
        ASSERT_EQ(Pages.size(), 2u);
        EXPECT_EQ(Pages[0].Name, "Data Access");
        EXPECT_EQ(Names(Pages[0].Classes), std::vector<std::string>{"TMoneyTable"});
        EXPECT_EQ(Pages[0].Units, std::vector<std::string>{"Tamblor"});
        EXPECT_EQ(Pages[1].Name, "Servers");
        EXPECT_EQ(Names(Pages[1].Classes), (std::vector<std::string>{"TBFFilter", "TBFRelation"}));
        EXPECT_EQ(Pages[1].Units, (std::vector<std::string>{"Vennick_TLB", "Vennick_TLB"}));

        EXPECT_TRUE(rtl::FindComponentClass("TMoneyTable"));
        EXPECT_EQ(Package.FindResource("tmoneytable").size(), 406u);
        EXPECT_TRUE(Package.FindResource("NOSUCH").empty());
    }
    // The host's own handler was back during none of the registrations, and
    // is back now; the classes left with the package.
    EXPECT_EQ(HostHandlerCalls, 0);
    RegisterComponents("Host", {ComponentClassOf<TComponent>("THostComponent")});
    EXPECT_EQ(HostHandlerCalls, 1);
    rtl::SetRegisterComponentsProc(std::move(Previous));
    EXPECT_FALSE(rtl::FindComponentClass("TMoneyTable"));
    EXPECT_FALSE(rtl::FindComponentClass("TBFFilter"));
    EXPECT_FALSE(rtl::FindComponentClass("TBFRelation"));
    EXPECT_TRUE(rtl::UnregisterComponentClass("THostComponent"));
}

TEST(PackageLoaderTest, ALibraryThatCannotBeLoaded) {
    try {
        TLoadedPackage Package("/nonexistent/libNoSuchPackage.so");
        ADD_FAILURE() << "loaded";
    } catch (const EPackageError& E) {
        const std::string Prefix = "Cannot load package /nonexistent/libNoSuchPackage.so: ";
        EXPECT_EQ(E.Message().substr(0, Prefix.size()), Prefix);
        EXPECT_NE(E.Message().find("No such file"), std::string::npos) << E.Message();
    }
}

TEST(PackageLoaderTest, ALibraryWithoutEntryPoint) {
    ExpectRaise<EPackageError>([] { TLoadedPackage Package(pkgtest::RuntimeFile); },
                               pkgtest::RuntimeFile +
                                   " is not a component package: it has no entry point QuenbyPackageInfo");
}

TEST(PackageLoaderTest, AnEntryPointThatGivesNothing) {
    const std::string File = FakePackageDir + "/libFakePackageNoInfo.so";
    ExpectRaise<EPackageError>([&] { TLoadedPackage Package(File); },
                               File + " is not a component package: its entry point gave nothing");
}

TEST(PackageLoaderTest, AnotherInterfaceVersion) {
    ExpectRaise<EPackageError>([] { TLoadedPackage Package(FakePackageDir + "/libFakePackageVersion.so"); },
                               "Package FakePackage has interface version 99; this host needs version 1");
}

TEST(PackageLoaderTest, AnotherCopyOfTheRunTimeLibrary) {
    ExpectRaise<EPackageError>(
        [] { TLoadedPackage Package(FakePackageDir + "/libFakePackageOtherRtl.so"); },
        "Package FakePackage uses another copy of the run-time library; its registrations would not reach this host");
    EXPECT_FALSE(rtl::FindComponentClass("TFakeComponent"));
}

TEST(PackageLoaderTest, AFailingUnitUndoesTheWholeLoad) {
    int HostHandlerCalls = 0;
    TRegisterComponentsProc Previous = rtl::SetRegisterComponentsProc(
        [&](const std::string&, const std::vector<TComponentClass>&) { ++HostHandlerCalls; });
    ExpectRaise<EPackageError>([] { TLoadedPackage Package(FakePackageDir + "/libFakePackageFailing.so"); },
                               "Registration of unit Broken of package FakePackage failed: fake unit refuses");
    // The first unit's class is gone again (its code went with the library)
    // and the host's handler is back.
    EXPECT_FALSE(rtl::FindComponentClass("TFakeComponent"));
    EXPECT_EQ(HostHandlerCalls, 0);
    RegisterComponents("Host", {ComponentClassOf<TComponent>("THostComponent")});
    EXPECT_EQ(HostHandlerCalls, 1);
    rtl::SetRegisterComponentsProc(std::move(Previous));
    rtl::UnregisterComponentClass("THostComponent");
}

}  // namespace
