// The palette host's listing and command line.
#include "package/PaletteHost.h"

#include <memory>

#include "package/PackageLoader.h"
#include "package/BitmapInfo.h"

namespace package {

namespace {

constexpr const char* Usage = "usage: tamblor-palette [--bitmap FILE] PACKAGE.so\n";

std::string BitmapText(const TLoadedPackage& Package, const std::string& ClassName) {
    const std::string Name = UpperCase(ClassName);
    const std::span<const std::uint8_t> Data = Package.FindResource(Name);
    if (Data.empty()) return "no bitmap";
    const std::optional<TBitmapInfo> Info = ReadBitmapInfo(Data.data(), Data.size());
    if (!Info) return "bitmap " + Name + " unreadable";
    return "bitmap " + Name + " " + std::to_string(Info->Width) + " x " +
           std::to_string(Info->Height < 0 ? -Info->Height : Info->Height) + ", " + std::to_string(Info->Colors) +
           " colours";
}

void PrintClass(const TLoadedPackage& Package, const TComponentClass& Class, const std::string& Unit,
                std::ostream& Out) {
    Out << "  " << Class.ClassName << " (unit " << Unit << "; " << BitmapText(Package, Class.ClassName) << ")\n";
    if (Class.Properties.empty()) {
        Out << "    no published properties\n";
        return;
    }
    std::unique_ptr<TComponent> Instance;
    try {
        Instance.reset(Class.Create(nullptr));
    } catch (const std::exception&) {
        // Listed without values.
    }
    for (const TPropInfo& P : Class.Properties) {
        Out << "    " << P.Name << ": " << P.TypeName;
        if (Instance && P.Get) {
            const std::string Value = P.Get(Instance.get());
            if (!Value.empty()) Out << " = " << Value;
        }
        Out << '\n';
    }
}

}  // namespace

void PrintPalette(const TLoadedPackage& Package, std::ostream& Out) {
    const QuenbyPackage& Info = Package.Info();
    Out << "Package " << (Info.Name ? Info.Name : "") << ": " << (Info.Description ? Info.Description : "") << '\n';
    Out << "Units:";
    for (std::size_t I = 0; I < Info.UnitCount; ++I) Out << (I ? ", " : " ") << Info.Units[I].Name;
    Out << '\n';
    for (const TPalettePage& Page : Package.Pages()) {
        Out << "\nPage \"" << Page.Name << "\"\n";
        for (std::size_t I = 0; I < Page.Classes.size(); ++I) PrintClass(Package, *Page.Classes[I], Page.Units[I], Out);
    }
}

int RunPaletteHost(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
    std::string BitmapFile;
    std::string PackageFile;
    bool WantBitmap = false;
    for (std::size_t I = 0; I < Args.size(); ++I) {
        const std::string& A = Args[I];
        if (A == "--help" || A == "-h") {
            Out << Usage;
            return 0;
        }
        if (A == "--bitmap") {
            if (I + 1 >= Args.size() || Args[I + 1].empty()) {
                Err << "tamblor-palette: --bitmap needs a file name\n" << Usage;
                return 2;
            }
            BitmapFile = Args[++I];
            WantBitmap = true;
        } else if (!A.empty() && A[0] == '-') {
            Err << "tamblor-palette: unknown option " << A << '\n' << Usage;
            return 2;
        } else if (PackageFile.empty()) {
            PackageFile = A;
        } else {
            Err << "tamblor-palette: more than one package given\n" << Usage;
            return 2;
        }
    }
    if (PackageFile.empty()) {
        Err << Usage;
        return 2;
    }
    try {
        // dlopen searches the library path for a name without "/".
        const std::string Path = PackageFile.find('/') == std::string::npos ? "./" + PackageFile : PackageFile;
        TLoadedPackage Package(Path);
        PrintPalette(Package, Out);
        if (WantBitmap) {
            for (const TPalettePage& Page : Package.Pages())
                for (const TComponentClass* Class : Page.Classes) {
                    const std::string Name = UpperCase(Class->ClassName);
                    const std::span<const std::uint8_t> Data = Package.FindResource(Name);
                    if (Data.empty()) continue;
                    TFileStream File(BitmapFile, fmCreate);
                    File.WriteBuffer(Data.data(), static_cast<std::int64_t>(Data.size()));
                    Out << "\nWrote bitmap " << Name << " (" << Data.size() << " bytes) to " << BitmapFile << '\n';
                    return 0;
                }
            Err << "tamblor-palette: the package has no palette bitmap\n";
            return 1;
        }
        return 0;
    } catch (const std::exception& E) {
        Err << "tamblor-palette: " << E.what() << '\n';
        return 1;
    }
}

}  // namespace package
