// The component package Quenby_Tamblor (libQuenby_Tamblor.so) as a host sees
// it: the one entry point through which a host (a development environment,
// the palette host tamblor-palette, a test) discovers the package's units and
// their registration procedures, and the package's resource API.
//
// Contents of the package: the units Tamblor (TMoneyTable, TMoneyBlobStream,
// EBFError and the unit's functions), Orbalk_TLB (the engine's table and
// string interfaces) and Vennick_TLB (the filter and relation interfaces and
// the server wrappers TBFFilter, TBFRelation). Registrations, in unit order:
//
//   unit          palette page    component classes
//   Tamblor       "Data Access"   TMoneyTable
//   Orbalk_TLB    (none)
//   Vennick_TLB   "Servers"       TBFFilter, TBFRelation
//
// Resources: the palette bitmap "TMONEYTABLE".
//
// How a host loads it:
//   1. dlopen the library; dlsym QUENBY_PACKAGE_INFO_SYMBOL and call it.
//   2. Check ApiVersion == QuenbyPackageApiVersion.
//   3. Install a handler with Info->SetRegisterComponentsProc (remember the
//      previous one), call Units[0 .. UnitCount-1].Register in that order,
//      restore the previous handler. Each RegisterComponents call of a unit
//      reaches the handler as (page, classes) and lands in the registry.
//   4. Before dlclose: remove the package's classes from the registry
//      (rtl::UnregisterComponentClass) and destroy every copy of their
//      TComponentClass: their factories and property accessors are code of
//      the package.
// package/PackageLoader.h does all of this.
//
// Linkage: one registry, one COM class registry. The run-time library, the
// COM layer and the dataset framework are linked into one shared library,
// libTamblorRuntime.so (the run-time package), and not into the package or
// the host. The package and every host that loads it link that library, so
// the process holds exactly one component-class registry, one COM class
// registry, one set of CoInitialize counters and one copy of every
// framework class. This is what makes registrations of the package visible
// to the host (rtl::RegisteredComponentClasses), lets the host register an
// engine (RegisterEngineServer, or a stand-in) that the package's wrappers
// and TMoneyTable then create, and lets exceptions and objects cross between
// host and package. Linking the static rtl into both would give each its own
// registries: the package's registrations and the host's engine would never
// meet. SetRegisterComponentsProc in the package info is the package's own
// view of rtl::SetRegisterComponentsProc; a host compares it with its own to
// detect a package built against another copy of the run-time library
// (PackageLoader refuses such a package).
//
// The package does not contain the engine: it reaches the engine only
// through the COM class registry, which the host fills.
//
// Ownership: everything the entry point and the resource API return is
// static data of the package, valid until the library is unloaded; the
// caller frees nothing.
//
// Threads: the entry point and the resource API may be called from any
// thread; registration procedures run on the host's main thread, one at a
// time (the registry itself is locked).
#pragma once

#include <cstddef>
#include <cstdint>

#include "rtl/Classes.h"

#define QUENBY_EXPORT __attribute__((visibility("default")))

// The name of the entry point, for dlsym.
#define QUENBY_PACKAGE_INFO_SYMBOL "QuenbyPackageInfo"

extern "C" {

// Layout version of QuenbyPackage; raised on every incompatible change.
inline constexpr std::uint32_t QuenbyPackageApiVersion = 1;

// A unit's registration procedure. It may raise the run-time library's
// exceptions (EComponentError for an invalid registration).
typedef void (*QuenbyRegisterProc)();

struct QuenbyUnit {
    const char* Name;             // "Tamblor"
    QuenbyRegisterProc Register;  // never null (a unit without registrations has an empty one)
};

struct QuenbyPackage {
    std::uint32_t ApiVersion;  // QuenbyPackageApiVersion of the package's build
    const char* Name;          // "Quenby_Tamblor"
    const char* Description;
    // Run-time packages the package needs, as library names (null-terminated list).
    const char* const* Requires;
    std::size_t UnitCount;
    const QuenbyUnit* Units;  // in the order the host must call them
    // The package's rtl::SetRegisterComponentsProc.
    TRegisterComponentsProc (*SetRegisterComponentsProc)(TRegisterComponentsProc Proc);
    // The same as QuenbyFindResource.
    const std::uint8_t* (*FindResource)(const char* Name, std::size_t* Size);
};

typedef const QuenbyPackage* (*QuenbyPackageInfoProc)();

// The entry point: the package's description. Never null.
QUENBY_EXPORT const QuenbyPackage* QuenbyPackageInfo();

// The resource of that name (letter case ignored), or null for an unknown
// name or a null Name. *Size (when Size is not null) receives its length in
// bytes, 0 for none. A bitmap resource is a complete BMP file image
// (BITMAPFILEHEADER, BITMAPINFOHEADER, colour table, pixel rows).
QUENBY_EXPORT const std::uint8_t* QuenbyFindResource(const char* Name, std::size_t* Size);

}  // extern "C"
