// The entry point of the component package: its description, its units in
// registration order, and its resources.
#include "package/Package.h"

#include <span>
#include <string_view>

#include "moneytable/Orbalk_TLB.h"
#include "moneytable/Tamblor.h"
#include "moneytable/Vennick_TLB.h"
#include "package/PaletteBitmap.h"
#include "package/TamblorReg.h"

namespace {

// The units: Tamblor first, then the two type-library units.
const QuenbyUnit Units[] = {
    {"Tamblor", &Tamblor::Register},
    {"Orbalk_TLB", &Orbalk_TLB::Register},
    {"Vennick_TLB", &Vennick_TLB::Register},
};

const char* const Requires[] = {"libTamblorRuntime.so", nullptr};

struct TResource {
    std::string_view Name;
    std::span<const std::uint8_t> (*Data)();
};

const TResource Resources[] = {
    {"TMONEYTABLE", &package::MoneyTableBitmap},
};

const QuenbyPackage Package{
    QuenbyPackageApiVersion,
    "Quenby_Tamblor",
    "Money table components: TMoneyTable and the engine's filter and relation servers",
    Requires,
    sizeof Units / sizeof Units[0],
    Units,
    &rtl::SetRegisterComponentsProc,
    &QuenbyFindResource,
};

}  // namespace

extern "C" {

const QuenbyPackage* QuenbyPackageInfo() { return &Package; }

const std::uint8_t* QuenbyFindResource(const char* Name, std::size_t* Size) {
    if (Size) *Size = 0;
    if (!Name) return nullptr;
    for (const TResource& R : Resources) {
        if (!SameText(R.Name, Name)) continue;
        const std::span<const std::uint8_t> Data = R.Data();
        if (Size) *Size = Data.size();
        return Data.data();
    }
    return nullptr;
}

}  // extern "C"
