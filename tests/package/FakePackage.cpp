// Stand-ins of faulty component packages, for the loader's failure paths.
// FAKE_KIND selects the fault:
//   1  an interface version the host does not know
//   2  registrations that go to another copy of the run-time library
//   3  a unit whose Register fails after another unit registered a class
//   4  an entry point that gives nothing
#include "package/Package.h"

namespace {

void RegisterOne() { RegisterComponents("Fake", {ComponentClassOf<TComponent>("TFakeComponent")}); }
void Refuse() { throw EComponentError("fake unit refuses"); }
[[maybe_unused]] TRegisterComponentsProc OtherRegistry(TRegisterComponentsProc Proc) { return Proc; }

const QuenbyUnit Units[] = {{"First", &RegisterOne}, {"Broken", &Refuse}};
const char* const Requires[] = {nullptr};

const QuenbyPackage Package{
#if FAKE_KIND == 1
    QuenbyPackageApiVersion + 98,
#else
    QuenbyPackageApiVersion,
#endif
    "FakePackage",
    "a faulty package",
    Requires,
    sizeof Units / sizeof Units[0],
    Units,
#if FAKE_KIND == 2
    &OtherRegistry,
#else
    &rtl::SetRegisterComponentsProc,
#endif
    nullptr,
};

}  // namespace

extern "C" const QuenbyPackage* QuenbyPackageInfo() {
    return FAKE_KIND == 4 ? nullptr : &Package;
}
