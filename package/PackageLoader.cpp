// Loading and unloading a component package.
#include "package/PackageLoader.h"

#include <dlfcn.h>

#include <utility>

namespace package {

namespace {

// Restores the registration handler that was installed before the load.
class THandlerSwap {
public:
    THandlerSwap(const QuenbyPackage* Info, TRegisterComponentsProc Proc)
        : FInfo(Info), FPrevious(Info->SetRegisterComponentsProc(std::move(Proc))) {}
    ~THandlerSwap() { FInfo->SetRegisterComponentsProc(std::move(FPrevious)); }
    THandlerSwap(const THandlerSwap&) = delete;
    THandlerSwap& operator=(const THandlerSwap&) = delete;

private:
    const QuenbyPackage* FInfo;
    TRegisterComponentsProc FPrevious;
};

}  // namespace

TLoadedPackage::TLoadedPackage(const std::string& FileName) : FFileName(FileName) {
    FHandle = dlopen(FileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FHandle) {
        const char* Reason = dlerror();
        throw EPackageError("Cannot load package " + FileName + ": " + (Reason ? Reason : "unknown reason"));
    }
    try {
        void* Symbol = dlsym(FHandle, QUENBY_PACKAGE_INFO_SYMBOL);
        if (!Symbol)
            throw EPackageError(FileName + " is not a component package: it has no entry point " +
                                QUENBY_PACKAGE_INFO_SYMBOL);
        auto Entry = reinterpret_cast<QuenbyPackageInfoProc>(Symbol);
        FInfo = Entry();
        if (!FInfo) throw EPackageError(FileName + " is not a component package: its entry point gave nothing");
        const std::string Name = FInfo->Name ? FInfo->Name : FileName;
        if (FInfo->ApiVersion != QuenbyPackageApiVersion)
            throw EPackageError("Package " + Name + " has interface version " + std::to_string(FInfo->ApiVersion) +
                                "; this host needs version " + std::to_string(QuenbyPackageApiVersion));
        // The package must register into the registry that this host reads.
        if (FInfo->SetRegisterComponentsProc != &rtl::SetRegisterComponentsProc)
            throw EPackageError("Package " + Name +
                                " uses another copy of the run-time library; its registrations would not reach "
                                "this host");

        std::string Unit;
        THandlerSwap Swap(FInfo, [this, &Unit](const std::string& Page, const std::vector<TComponentClass>& Classes) {
            FRegistrations.push_back(TPackageRegistration{Unit, Page, Classes});
        });
        for (std::size_t I = 0; I < FInfo->UnitCount; ++I) {
            const QuenbyUnit& U = FInfo->Units[I];
            Unit = U.Name ? U.Name : "";
            if (!U.Register) continue;
            try {
                U.Register();
            } catch (const std::exception& E) {
                throw EPackageError("Registration of unit " + Unit + " of package " + Name + " failed: " + E.what());
            }
        }
    } catch (...) {
        Unload();
        throw;
    }
}

TLoadedPackage::~TLoadedPackage() { Unload(); }

void TLoadedPackage::Unload() noexcept {
    for (const TPackageRegistration& R : FRegistrations)
        for (const TComponentClass& C : R.Classes) rtl::UnregisterComponentClass(C.ClassName);
    FRegistrations.clear();
    FInfo = nullptr;
    if (FHandle) dlclose(FHandle);
    FHandle = nullptr;
}

std::vector<TPalettePage> TLoadedPackage::Pages() const {
    std::vector<TPalettePage> Result;
    for (const TPackageRegistration& R : FRegistrations) {
        auto It = Result.begin();
        while (It != Result.end() && It->Name != R.Page) ++It;
        if (It == Result.end()) It = Result.insert(Result.end(), TPalettePage{R.Page, {}, {}});
        for (const TComponentClass& C : R.Classes) {
            It->Classes.push_back(&C);
            It->Units.push_back(R.Unit);
        }
    }
    return Result;
}

std::span<const std::uint8_t> TLoadedPackage::FindResource(const std::string& Name) const {
    if (!FInfo || !FInfo->FindResource) return {};
    std::size_t Size = 0;
    const std::uint8_t* Data = FInfo->FindResource(Name.c_str(), &Size);
    if (!Data) return {};
    return {Data, Size};
}

}  // namespace package
