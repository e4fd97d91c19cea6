// Loading a component package as a host does: open the library, find its
// entry point, run the registration procedures of its units in order, and
// undo all of it when the package is unloaded.
//
// Life of a TLoadedPackage:
//
//   state     entered by                    holds
//   loaded    constructor (all steps        the open library, the package's
//             succeeded)                    classes in the component registry,
//                                           a copy of every registration
//   unloaded  destructor                    nothing: classes unregistered,
//                                           copies destroyed, library closed
//
// A constructor that fails leaves nothing behind: the previous registration
// handler is back, classes registered so far are unregistered, the library
// is closed, and EPackageError says why:
//   "Cannot load package <file>: <reason of the dynamic loader>"
//   "<file> is not a component package: it has no entry point QuenbyPackageInfo"
//   "Package <name> has interface version <n>; this host needs version <m>"
//   "Package <name> uses another copy of the run-time library; its
//    registrations would not reach this host"
//   "Registration of unit <unit> of package <name> failed: <message>"
//
// Ownership: the loaded package owns the library handle and the copies of
// the registrations; the pointers and spans it hands out stay valid until
// it is destroyed. Components created through the package's classes, and
// every copy of a TComponentClass taken from it or from the registry, must
// be destroyed before the package: their code lives in the library.
// Unloading unregisters the package's classes by name, also when a later
// registration replaced one of them.
//
// Threads: load and unload on the host's main thread; registration
// handlers of the process are swapped for the duration of the load.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "package/Package.h"
#include "rtl/Classes.h"

namespace package {

class EPackageError : public Exception {
public:
    using Exception::Exception;
};

// One RegisterComponents call made while a unit's Register ran.
struct TPackageRegistration {
    std::string Unit;
    std::string Page;
    std::vector<TComponentClass> Classes;
};

// A palette page: its classes in registration order.
struct TPalettePage {
    std::string Name;
    std::vector<const TComponentClass*> Classes;
    std::vector<std::string> Units;  // the unit of each class, same order
};

class TLoadedPackage {
public:
    explicit TLoadedPackage(const std::string& FileName);
    ~TLoadedPackage();
    TLoadedPackage(const TLoadedPackage&) = delete;
    TLoadedPackage& operator=(const TLoadedPackage&) = delete;

    const std::string& FileName() const noexcept { return FFileName; }
    const QuenbyPackage& Info() const noexcept { return *FInfo; }
    // Every registration, in the order the units made them.
    const std::vector<TPackageRegistration>& Registrations() const noexcept { return FRegistrations; }
    // The pages in the order of their first registration.
    std::vector<TPalettePage> Pages() const;
    // A resource of the package (name compared ignoring letter case); empty
    // when there is none.
    std::span<const std::uint8_t> FindResource(const std::string& Name) const;

private:
    void Unload() noexcept;

    std::string FFileName;
    void* FHandle = nullptr;
    const QuenbyPackage* FInfo = nullptr;
    std::vector<TPackageRegistration> FRegistrations;
};

}  // namespace package
