// Run-time library: TObject, TPersistent, TComponent, the component-class
// registry, streams and string lists.
#include "rtl/Classes.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <typeinfo>

// ---------------------------------------------------------------------------
// TObject, TPersistent
// ---------------------------------------------------------------------------

std::string TObject::ClassName() const {
    const char* Mangled = typeid(*this).name();
    int Status = 0;
    std::unique_ptr<char, void (*)(void*)> Demangled(abi::__cxa_demangle(Mangled, nullptr, nullptr, &Status),
                                                     std::free);
    std::string Name = (Status == 0 && Demangled) ? Demangled.get() : Mangled;
    const auto Template = Name.find('<');
    const auto Colon = Name.rfind("::", Template);
    if (Colon != std::string::npos) Name.erase(0, Colon + 2);
    return Name;
}

void TPersistent::Assign(TPersistent* Source) {
    if (Source != nullptr) {
        Source->AssignTo(this);
        return;
    }
    AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) { Dest->AssignError(this); }

void TPersistent::AssignError(TPersistent* Source) {
    const std::string SourceName = Source ? Source->ClassName() : "nil";
    throw EConvertError("Cannot assign a " + SourceName + " to a " + ClassName());
}

// ---------------------------------------------------------------------------
// TComponent
// ---------------------------------------------------------------------------

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    Destroying();
    // Tell those that asked; each link is dropped before the call so that a
    // handler that removes links finds a consistent list.
    while (!FFreeNotifies.empty()) {
        TComponent* Other = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        auto& Theirs = Other->FFreeNotifies;
        Theirs.erase(std::remove(Theirs.begin(), Theirs.end(), this), Theirs.end());
        Other->Notification(this, opRemove);
    }
    DestroyComponents();
    if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int Index) const {
    if (Index < 0 || Index >= ComponentCount())
        throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
    return FComponents[static_cast<std::size_t>(Index)];
}

int TComponent::ComponentIndex() const {
    if (FOwner == nullptr) return -1;
    const auto& L = FOwner->FComponents;
    const auto It = std::find(L.begin(), L.end(), this);
    return It == L.end() ? -1 : static_cast<int>(It - L.begin());
}

TComponent* TComponent::FindComponent(std::string_view AName) const {
    if (AName.empty()) return nullptr;
    for (TComponent* C : FComponents)
        if (SameText(C->FName, AName)) return C;
    return nullptr;
}

void TComponent::ValidateRename(TComponent* AComponent, std::string_view CurName, std::string_view NewName) const {
    if (NewName.empty() || SameText(CurName, NewName)) return;
    TComponent* Found = FindComponent(NewName);
    if (Found != nullptr && Found != AComponent)
        throw EComponentError("A component named " + std::string(NewName) + " already exists");
}

void TComponent::SetName(const std::string& NewName) {
    if (NewName == FName) return;
    if (!NewName.empty() && !IsValidIdent(NewName))
        throw EComponentError("'" + NewName + "' is not a valid component name");
    if (FOwner != nullptr) FOwner->ValidateRename(this, FName, NewName);
    FName = NewName;
}

void TComponent::InsertComponent(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent->FOwner == this) return;
    ValidateRename(AComponent, {}, AComponent->FName);
    if (AComponent->FOwner != nullptr) AComponent->FOwner->RemoveComponent(AComponent);
    Insert(AComponent);
    Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent->FOwner != this) return;
    Notification(AComponent, opRemove);
    Remove(AComponent);
}

void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        TComponent* C = FComponents.back();
        // Take it out first, so that the list never holds a dead component,
        // then tell the rest, then free it.
        Remove(C);
        Notification(C, opRemove);
        delete C;
    }
}

void TComponent::Insert(TComponent* AComponent) {
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
}

void TComponent::Remove(TComponent* AComponent) {
    FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), AComponent), FComponents.end());
    AComponent->FOwner = nullptr;
}

void TComponent::FreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent == this) return;
    if (FOwner != nullptr && AComponent->FOwner == FOwner) return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
        FFreeNotifies.push_back(AComponent);
        AComponent->FFreeNotifies.push_back(this);
    }
    FComponentState |= csFreeNotification;
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr) return;
    RemoveNotification(AComponent);
    AComponent->RemoveNotification(this);
}

void TComponent::RemoveNotification(TComponent* AComponent) {
    FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent), FFreeNotifies.end());
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent != nullptr) RemoveFreeNotification(AComponent);
    // Pass it on to the owned components, last first; a handler may free
    // components, so the index is re-checked against the list every time.
    for (std::size_t I = FComponents.size(); I-- > 0;) {
        if (I >= FComponents.size()) {
            if (FComponents.empty()) break;
            I = FComponents.size() - 1;
        }
        TComponent* C = FComponents[I];
        if (C != AComponent) C->Notification(AComponent, Operation);
    }
}

// ---------------------------------------------------------------------------
// Component-class registry
// ---------------------------------------------------------------------------

namespace {

struct TRegistry {
    std::mutex Lock;
    std::vector<rtl::TRegisteredClass> Classes;
    TRegisterComponentsProc Proc;
};

TRegistry& Registry() {
    static TRegistry R;
    return R;
}

}  // namespace

void RegisterComponents(const std::string& Page, const std::vector<TComponentClass>& Classes) {
    for (const TComponentClass& C : Classes)
        if (C.ClassName.empty() || !C.Create) throw EComponentError("Invalid component registration");
    TRegisterComponentsProc Proc;
    {
        TRegistry& R = Registry();
        std::lock_guard<std::mutex> Guard(R.Lock);
        for (const TComponentClass& C : Classes) {
            auto It = std::find_if(R.Classes.begin(), R.Classes.end(),
                                   [&](const rtl::TRegisteredClass& E) { return SameText(E.Class.ClassName, C.ClassName); });
            if (It != R.Classes.end())
                *It = rtl::TRegisteredClass{Page, C};
            else
                R.Classes.push_back(rtl::TRegisteredClass{Page, C});
        }
        Proc = R.Proc;
    }
    // The host's handler runs outside the lock, so that it may look classes up.
    if (Proc) Proc(Page, Classes);
}

namespace rtl {

TRegisterComponentsProc SetRegisterComponentsProc(TRegisterComponentsProc Proc) {
    TRegistry& R = Registry();
    std::lock_guard<std::mutex> Guard(R.Lock);
    std::swap(R.Proc, Proc);
    return Proc;
}

std::vector<TRegisteredClass> RegisteredComponentClasses() {
    TRegistry& R = Registry();
    std::lock_guard<std::mutex> Guard(R.Lock);
    return R.Classes;
}

std::optional<TComponentClass> FindComponentClass(std::string_view ClassName) {
    TRegistry& R = Registry();
    std::lock_guard<std::mutex> Guard(R.Lock);
    for (const TRegisteredClass& E : R.Classes)
        if (SameText(E.Class.ClassName, ClassName)) return E.Class;
    return std::nullopt;
}

bool UnregisterComponentClass(std::string_view ClassName) {
    TRegistry& R = Registry();
    std::lock_guard<std::mutex> Guard(R.Lock);
    auto It = std::find_if(R.Classes.begin(), R.Classes.end(),
                           [&](const TRegisteredClass& E) { return SameText(E.Class.ClassName, ClassName); });
    if (It == R.Classes.end()) return false;
    R.Classes.erase(It);
    return true;
}

}  // namespace rtl

// ---------------------------------------------------------------------------
// TStream
// ---------------------------------------------------------------------------

namespace {

[[noreturn]] void InvalidPosition() { throw EStreamError("Invalid stream position"); }

}  // namespace

std::int64_t TStream::Size() {
    const std::int64_t Pos = Seek(0, soCurrent);
    const std::int64_t End = Seek(0, soEnd);
    Seek(Pos, soBeginning);
    return End;
}

void TStream::SetSize(std::int64_t) {}

void TStream::ReadBuffer(void* Buffer, std::int64_t Count) {
    if (Count < 0 || (Count != 0 && Read(Buffer, Count) != Count)) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, std::int64_t Count) {
    if (Count < 0 || (Count != 0 && Write(Buffer, Count) != Count)) throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream* Source, std::int64_t Count) {
    if (Count == 0) {
        Source->SetPosition(0);
        Count = Source->Size();
    }
    const std::int64_t Result = Count;
    constexpr std::int64_t BufSize = 64 * 1024;
    std::vector<std::uint8_t> Buf(static_cast<std::size_t>(std::min(Count, BufSize)));
    while (Count > 0) {
        const std::int64_t N = std::min(Count, BufSize);
        Source->ReadBuffer(Buf.data(), N);
        WriteBuffer(Buf.data(), N);
        Count -= N;
    }
    return Result;
}

std::string TStream::ReadString(std::int64_t Count) {
    std::string S(static_cast<std::size_t>(std::max<std::int64_t>(Count, 0)), '\0');
    ReadBuffer(S.data(), Count);
    return S;
}

// ---------------------------------------------------------------------------
// TMemoryStream
// ---------------------------------------------------------------------------

std::int64_t TMemoryStream::Read(void* Buffer, std::int64_t Count) {
    const std::int64_t Size = this->Size();
    if (Count <= 0 || FPosition >= Size) return 0;
    const std::int64_t N = std::min(Count, Size - FPosition);
    std::memcpy(Buffer, FData.data() + FPosition, static_cast<std::size_t>(N));
    FPosition += N;
    return N;
}

std::int64_t TMemoryStream::Write(const void* Buffer, std::int64_t Count) {
    if (Count <= 0) return 0;
    const std::int64_t End = FPosition + Count;
    if (End > Size()) {
        if (static_cast<std::size_t>(End) > FData.capacity())
            FData.reserve(std::max(static_cast<std::size_t>(End), FData.capacity() * 2));
        FData.resize(static_cast<std::size_t>(End));
    }
    std::memcpy(FData.data() + FPosition, Buffer, static_cast<std::size_t>(Count));
    FPosition = End;
    return Count;
}

std::int64_t TMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
    std::int64_t Base = 0;
    switch (Origin) {
    case soBeginning: Base = 0; break;
    case soCurrent: Base = FPosition; break;
    case soEnd: Base = Size(); break;
    }
    const std::int64_t NewPos = Base + Offset;
    if (NewPos < 0) InvalidPosition();
    FPosition = NewPos;
    return FPosition;
}

void TMemoryStream::SetSize(std::int64_t NewSize) {
    if (NewSize < 0) throw EStreamError("Invalid stream size");
    FData.resize(static_cast<std::size_t>(NewSize));
    if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear() {
    FData.clear();
    FData.shrink_to_fit();
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* Stream) {
    Stream->SetPosition(0);
    const std::int64_t N = Stream->Size();
    std::vector<std::uint8_t> Data(static_cast<std::size_t>(N));
    Stream->ReadBuffer(Data.data(), N);
    FData = std::move(Data);
    FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream* Stream) { Stream->WriteBuffer(FData.data(), Size()); }

void TMemoryStream::LoadFromFile(const std::string& FileName) {
    TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&F);
}

void TMemoryStream::SaveToFile(const std::string& FileName) {
    TFileStream F(FileName, fmCreate);
    SaveToStream(&F);
}

// ---------------------------------------------------------------------------
// TFileStream
// ---------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& FileName, Word Mode, unsigned Rights) : FFileName(FileName) {
    const bool Create = (Mode & 0xFF00) == fmCreate;
    int Flags = O_CLOEXEC;
    if (Create) {
        Flags |= O_RDWR | O_CREAT | O_TRUNC;
    } else {
        switch (Mode & 0x3) {
        case fmOpenWrite: Flags |= O_WRONLY; break;
        case fmOpenReadWrite: Flags |= O_RDWR; break;
        default: Flags |= O_RDONLY; break;
        }
    }
    const std::string Failure = (Create ? "Cannot create file " : "Cannot open file ") + FileName;
    auto Fail = [&]() {
        if (Create) throw EFCreateError(Failure);
        throw EFOpenError(Failure);
    };
    do {
        FHandle = ::open(FileName.c_str(), Flags, static_cast<mode_t>(Rights));
    } while (FHandle < 0 && errno == EINTR);
    if (FHandle < 0) {
        FLastError = errno;
        Fail();
    }
    struct stat St{};
    if (::fstat(FHandle, &St) != 0 || S_ISDIR(St.st_mode)) {
        ::close(FHandle);
        FHandle = -1;
        Fail();
    }
    int Lock = 0;
    switch (Mode & 0xF0) {
    case fmShareExclusive:
    case fmShareDenyRead: Lock = LOCK_EX; break;
    case fmShareDenyWrite: Lock = LOCK_SH; break;
    default: break;
    }
    if (Lock != 0 && !Create) {
        int R;
        do {
            R = ::flock(FHandle, Lock | LOCK_NB);
        } while (R != 0 && errno == EINTR);
        if (R != 0) {
            FLastError = errno;
            ::close(FHandle);
            FHandle = -1;
            Fail();
        }
    }
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) ::close(FHandle);
}

std::int64_t TFileStream::Read(void* Buffer, std::int64_t Count) {
    std::int64_t Done = 0;
    auto* P = static_cast<std::uint8_t*>(Buffer);
    while (Done < Count) {
        const ssize_t R = ::read(FHandle, P + Done, static_cast<std::size_t>(Count - Done));
        if (R < 0) {
            if (errno == EINTR) continue;
            FLastError = errno;
            break;
        }
        if (R == 0) break;
        Done += R;
    }
    return Done;
}

std::int64_t TFileStream::Write(const void* Buffer, std::int64_t Count) {
    std::int64_t Done = 0;
    const auto* P = static_cast<const std::uint8_t*>(Buffer);
    while (Done < Count) {
        const ssize_t R = ::write(FHandle, P + Done, static_cast<std::size_t>(Count - Done));
        if (R < 0) {
            if (errno == EINTR) continue;
            FLastError = errno;
            break;
        }
        if (R == 0) break;
        Done += R;
    }
    return Done;
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
    const int Whence = Origin == soBeginning ? SEEK_SET : (Origin == soCurrent ? SEEK_CUR : SEEK_END);
    const off_t R = ::lseek(FHandle, static_cast<off_t>(Offset), Whence);
    if (R < 0) {
        FLastError = errno;
        InvalidPosition();
    }
    return R;
}

std::int64_t TFileStream::Size() {
    struct stat St{};
    if (::fstat(FHandle, &St) != 0) {
        FLastError = errno;
        return 0;
    }
    return St.st_size;
}

void TFileStream::SetSize(std::int64_t NewSize) {
    int R;
    do {
        R = ::ftruncate(FHandle, static_cast<off_t>(NewSize));
    } while (R != 0 && errno == EINTR);
    if (R != 0) {
        FLastError = errno;
        throw EStreamError("Cannot resize file " + FFileName + ". " + SysErrorMessage(FLastError));
    }
    if (Position() > NewSize) Seek(NewSize, soBeginning);
}

// ---------------------------------------------------------------------------
// TStrings
// ---------------------------------------------------------------------------

void TStrings::Error(std::string_view Msg, int Data) const {
    std::string M(Msg);
    const auto P = M.find("%d");
    if (P != std::string::npos) M.replace(P, 2, std::to_string(Data));
    throw EStringListError(M);
}

void TStrings::Put(int Index, const std::string& S) {
    TObject* Obj = GetObject(Index);
    BeginUpdate();
    try {
        Delete(Index);
        InsertObject(Index, S, Obj);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

TObject* TStrings::GetObject(int) const { return nullptr; }
void TStrings::PutObject(int, TObject*) {}

void TStrings::InsertObject(int Index, const std::string& S, TObject* AObject) {
    Insert(Index, S);
    PutObject(Index, AObject);
}

int TStrings::Add(const std::string& S) {
    const int Result = Count();
    Insert(Result, S);
    return Result;
}

int TStrings::AddObject(const std::string& S, TObject* AObject) {
    const int Result = Add(S);
    PutObject(Result, AObject);
    return Result;
}

void TStrings::AddStrings(const TStrings& Strings) {
    BeginUpdate();
    try {
        const int N = Strings.Count();
        for (int I = 0; I < N; ++I) AddObject(Strings.Get(I), Strings.GetObject(I));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStrings::Exchange(int Index1, int Index2) {
    BeginUpdate();
    try {
        const std::string S = Get(Index1);
        TObject* O = GetObject(Index1);
        Put(Index1, Get(Index2));
        PutObject(Index1, GetObject(Index2));
        Put(Index2, S);
        PutObject(Index2, O);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TStrings::Move(int CurIndex, int NewIndex) {
    if (CurIndex == NewIndex) return;
    BeginUpdate();
    try {
        const std::string S = Get(CurIndex);
        TObject* O = GetObject(CurIndex);
        Delete(CurIndex);
        InsertObject(NewIndex, S, O);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

int TStrings::IndexOf(std::string_view S) const {
    const int N = Count();
    for (int I = 0; I < N; ++I)
        if (SameText(Get(I), S)) return I;
    return -1;
}

int TStrings::IndexOfObject(const TObject* AObject) const {
    const int N = Count();
    for (int I = 0; I < N; ++I)
        if (GetObject(I) == AObject) return I;
    return -1;
}

int TStrings::IndexOfName(std::string_view Name) const {
    const int N = Count();
    for (int I = 0; I < N; ++I) {
        const std::string S = Get(I);
        const auto P = S.find(FNameValueSeparator);
        if (P != std::string::npos && SameText(std::string_view(S).substr(0, P), Name)) return I;
    }
    return -1;
}

std::string TStrings::Names(int Index) const {
    const std::string S = Get(Index);
    const auto P = S.find(FNameValueSeparator);
    return P == std::string::npos ? std::string() : S.substr(0, P);
}

std::string TStrings::ValueFromIndex(int Index) const {
    const std::string S = Get(Index);
    const auto P = S.find(FNameValueSeparator);
    return P == std::string::npos ? std::string() : S.substr(P + 1);
}

std::string TStrings::Values(std::string_view Name) const {
    const int I = IndexOfName(Name);
    return I < 0 ? std::string() : ValueFromIndex(I);
}

void TStrings::SetValue(std::string_view Name, const std::string& Value) {
    const int I = IndexOfName(Name);
    if (Value.empty()) {
        if (I >= 0) Delete(I);
        return;
    }
    const std::string Line = std::string(Name) + FNameValueSeparator + Value;
    if (I >= 0)
        Put(I, Line);
    else
        Add(Line);
}

std::string TStrings::Text() const {
    std::string R;
    const int N = Count();
    for (int I = 0; I < N; ++I) {
        R += Get(I);
        R += FLineBreak;
    }
    return R;
}

void TStrings::SetText(std::string_view Value) {
    BeginUpdate();
    try {
        Clear();
        std::size_t P = 0;
        while (P < Value.size()) {
            std::size_t E = P;
            while (E < Value.size() && Value[E] != '\n' && Value[E] != '\r') ++E;
            Add(std::string(Value.substr(P, E - P)));
            if (E < Value.size() && Value[E] == '\r') {
                ++E;
                if (E < Value.size() && Value[E] == '\n') ++E;
            } else if (E < Value.size()) {
                ++E;
            }
            P = E;
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TStrings::DelimitedText() const {
    const int N = Count();
    if (N == 1 && Get(0).empty()) return std::string(2, FQuoteChar);
    std::string R;
    for (int I = 0; I < N; ++I) {
        const std::string S = Get(I);
        const bool Quote = std::any_of(S.begin(), S.end(), [&](char C) {
            return (!FStrictDelimiter && static_cast<unsigned char>(C) <= ' ') || C == FQuoteChar || C == FDelimiter ||
                   C == '\0';
        });
        if (I > 0) R += FDelimiter;
        R += Quote ? AnsiQuotedStr(S, FQuoteChar) : S;
    }
    return R;
}

void TStrings::SetDelimitedText(std::string_view Value) {
    auto Blank = [&](char C) { return !FStrictDelimiter && C != '\0' && static_cast<unsigned char>(C) <= ' '; };
    BeginUpdate();
    try {
        Clear();
        std::size_t P = 0;
        while (P < Value.size() && Blank(Value[P])) ++P;
        while (P < Value.size()) {
            std::string S;
            if (Value[P] == FQuoteChar) {
                S = AnsiExtractQuotedStr(Value, P, FQuoteChar);
            } else {
                const std::size_t B = P;
                while (P < Value.size() && !Blank(Value[P]) && Value[P] != FDelimiter) ++P;
                S = std::string(Value.substr(B, P - B));
            }
            Add(S);
            while (P < Value.size() && Blank(Value[P])) ++P;
            if (P < Value.size() && Value[P] == FDelimiter) {
                if (P + 1 == Value.size()) Add(std::string());
                do {
                    ++P;
                } while (P < Value.size() && Blank(Value[P]));
            }
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TStrings::CommaText() const {
    const char D = FDelimiter, Q = FQuoteChar;
    const bool Strict = FStrictDelimiter;
    auto* Self = const_cast<TStrings*>(this);
    Self->FDelimiter = ',';
    Self->FQuoteChar = '"';
    Self->FStrictDelimiter = false;
    std::string R;
    try {
        R = DelimitedText();
    } catch (...) {
        Self->FDelimiter = D;
        Self->FQuoteChar = Q;
        Self->FStrictDelimiter = Strict;
        throw;
    }
    Self->FDelimiter = D;
    Self->FQuoteChar = Q;
    Self->FStrictDelimiter = Strict;
    return R;
}

void TStrings::SetCommaText(std::string_view Value) {
    const char D = FDelimiter, Q = FQuoteChar;
    const bool Strict = FStrictDelimiter;
    FDelimiter = ',';
    FQuoteChar = '"';
    FStrictDelimiter = false;
    try {
        SetDelimitedText(Value);
    } catch (...) {
        FDelimiter = D;
        FQuoteChar = Q;
        FStrictDelimiter = Strict;
        throw;
    }
    FDelimiter = D;
    FQuoteChar = Q;
    FStrictDelimiter = Strict;
}

void TStrings::BeginUpdate() {
    if (FUpdateCount == 0) SetUpdateState(true);
    ++FUpdateCount;
}

void TStrings::EndUpdate() {
    if (FUpdateCount == 0) return;
    if (--FUpdateCount == 0) SetUpdateState(false);
}

void TStrings::SetUpdateState(bool) {}

void TStrings::LoadFromStream(TStream* Stream) {
    const std::int64_t N = Stream->Size() - Stream->Position();
    std::string Data = Stream->ReadString(std::max<std::int64_t>(N, 0));
    std::string_view View(Data);
    if (View.substr(0, 3) == "\xEF\xBB\xBF") View.remove_prefix(3);
    SetText(View);
}

void TStrings::SaveToStream(TStream* Stream) const { Stream->WriteString(Text()); }

void TStrings::LoadFromFile(const std::string& FileName) {
    TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&F);
}

void TStrings::SaveToFile(const std::string& FileName) const {
    TFileStream F(FileName, fmCreate);
    SaveToStream(&F);
}

void TStrings::Assign(TPersistent* Source) {
    if (auto* Src = dynamic_cast<TStrings*>(Source)) {
        if (Src == this) return;
        BeginUpdate();
        try {
            Clear();
            FLineBreak = Src->FLineBreak;
            FDelimiter = Src->FDelimiter;
            FQuoteChar = Src->FQuoteChar;
            FNameValueSeparator = Src->FNameValueSeparator;
            FStrictDelimiter = Src->FStrictDelimiter;
            AddStrings(*Src);
        } catch (...) {
            EndUpdate();
            throw;
        }
        EndUpdate();
        return;
    }
    TPersistent::Assign(Source);
}

bool TStrings::Equals(const TStrings& Strings) const {
    const int N = Count();
    if (N != Strings.Count()) return false;
    for (int I = 0; I < N; ++I)
        if (Get(I) != Strings.Get(I)) return false;
    return true;
}

// ---------------------------------------------------------------------------
// TStringList
// ---------------------------------------------------------------------------

namespace {
constexpr const char* SListIndexError = "List index out of bounds (%d)";
constexpr const char* SSortedListError = "Operation not allowed on sorted list";
constexpr const char* SDuplicateString = "String list does not allow duplicates";
}  // namespace

TStringList::TStringList(const TStringList& Other)
    : TStrings(Other), FList(Other.FList), FSorted(Other.FSorted), FCaseSensitive(Other.FCaseSensitive),
      FDuplicates(Other.FDuplicates) {
    FUpdateCount = 0;
}

TStringList& TStringList::operator=(const TStringList& Other) {
    if (this != &Other) {
        Assign(const_cast<TStringList*>(&Other));
        FDuplicates = Other.FDuplicates;
        FCaseSensitive = Other.FCaseSensitive;
        if (FSorted != Other.FSorted) SetSorted(Other.FSorted);
    }
    return *this;
}

void TStringList::CheckIndex(int Index) const {
    if (Index < 0 || Index >= Count()) Error(SListIndexError, Index);
}

std::string TStringList::Get(int Index) const {
    CheckIndex(Index);
    return FList[static_cast<std::size_t>(Index)].FString;
}

TObject* TStringList::GetObject(int Index) const {
    CheckIndex(Index);
    return FList[static_cast<std::size_t>(Index)].FObject;
}

void TStringList::Put(int Index, const std::string& S) {
    if (FSorted) Error(SSortedListError, 0);
    CheckIndex(Index);
    Changing();
    FList[static_cast<std::size_t>(Index)].FString = S;
    Changed();
}

void TStringList::PutObject(int Index, TObject* AObject) {
    CheckIndex(Index);
    Changing();
    FList[static_cast<std::size_t>(Index)].FObject = AObject;
    Changed();
}

void TStringList::InsertItem(int Index, const std::string& S, TObject* AObject) {
    Changing();
    FList.insert(FList.begin() + Index, TItem{S, AObject});
    Changed();
}

void TStringList::Insert(int Index, const std::string& S) { InsertObject(Index, S, nullptr); }

void TStringList::InsertObject(int Index, const std::string& S, TObject* AObject) {
    if (FSorted) Error(SSortedListError, 0);
    if (Index < 0 || Index > Count()) Error(SListIndexError, Index);
    InsertItem(Index, S, AObject);
}

int TStringList::Add(const std::string& S) { return AddObject(S, nullptr); }

int TStringList::AddObject(const std::string& S, TObject* AObject) {
    int Index;
    if (!FSorted) {
        Index = Count();
    } else if (Find(S, Index)) {
        switch (FDuplicates) {
        case dupIgnore: return Index;
        case dupError: Error(SDuplicateString, 0);
        case dupAccept: break;
        }
    }
    InsertItem(Index, S, AObject);
    return Index;
}

void TStringList::Delete(int Index) {
    CheckIndex(Index);
    Changing();
    FList.erase(FList.begin() + Index);
    Changed();
}

void TStringList::Clear() {
    if (FList.empty()) return;
    Changing();
    FList.clear();
    Changed();
}

void TStringList::Exchange(int Index1, int Index2) {
    CheckIndex(Index1);
    CheckIndex(Index2);
    Changing();
    std::swap(FList[static_cast<std::size_t>(Index1)], FList[static_cast<std::size_t>(Index2)]);
    Changed();
}

int TStringList::CompareStrings(std::string_view S1, std::string_view S2) const {
    return FCaseSensitive ? CompareStr(S1, S2) : CompareText(S1, S2);
}

bool TStringList::Find(std::string_view S, int& Index) const {
    // Lower bound, so that with duplicates the first equal line is found.
    int L = 0, H = Count();
    while (L < H) {
        const int M = L + (H - L) / 2;
        if (CompareStrings(FList[static_cast<std::size_t>(M)].FString, S) < 0)
            L = M + 1;
        else
            H = M;
    }
    Index = L;
    return L < Count() && CompareStrings(FList[static_cast<std::size_t>(L)].FString, S) == 0;
}

int TStringList::IndexOf(std::string_view S) const {
    if (!FSorted) {
        const int N = Count();
        for (int I = 0; I < N; ++I)
            if (CompareStrings(FList[static_cast<std::size_t>(I)].FString, S) == 0) return I;
        return -1;
    }
    int Index;
    return Find(S, Index) ? Index : -1;
}

void TStringList::Sort() {
    Changing();
    std::stable_sort(FList.begin(), FList.end(),
                     [this](const TItem& A, const TItem& B) { return CompareStrings(A.FString, B.FString) < 0; });
    Changed();
}

void TStringList::CustomSort(const std::function<int(TStringList*, int, int)>& Compare) {
    // The comparer works on indexes of the list as it stands, so sort a
    // permutation and apply it afterwards.
    std::vector<int> Order(FList.size());
    for (std::size_t I = 0; I < Order.size(); ++I) Order[I] = static_cast<int>(I);
    std::stable_sort(Order.begin(), Order.end(), [&](int A, int B) { return Compare(this, A, B) < 0; });
    Changing();
    std::vector<TItem> Sorted;
    Sorted.reserve(FList.size());
    for (int I : Order) Sorted.push_back(FList[static_cast<std::size_t>(I)]);
    FList = std::move(Sorted);
    Changed();
}

void TStringList::SetSorted(bool Value) {
    if (FSorted == Value) return;
    if (Value) Sort();
    FSorted = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
    if (FCaseSensitive == Value) return;
    FCaseSensitive = Value;
    if (FSorted) Sort();
}

void TStringList::SetUpdateState(bool Updating) {
    if (Updating) {
        FChangedInUpdate = false;
        if (OnChanging) OnChanging(this);
    } else if (FChangedInUpdate) {
        FChangedInUpdate = false;
        if (OnChange) OnChange(this);
    }
}

void TStringList::Changing() {
    if (FUpdateCount == 0 && OnChanging) OnChanging(this);
}

void TStringList::Changed() {
    if (FUpdateCount == 0) {
        if (OnChange) OnChange(this);
    } else {
        FChangedInUpdate = true;
    }
}

// ---------------------------------------------------------------------------
// TTextAppender
// ---------------------------------------------------------------------------

namespace rtl {

TTextAppender::TTextAppender(const std::string& FileName, std::string LineBreak) : FLineBreak(std::move(LineBreak)) {
    do {
        FHandle = ::open(FileName.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    } while (FHandle < 0 && errno == EINTR);
    if (FHandle < 0) RaiseInOutError(errno);
    struct stat St{};
    if (::fstat(FHandle, &St) != 0 || S_ISDIR(St.st_mode)) {
        ::close(FHandle);
        FHandle = -1;
        RaiseInOutError(EISDIR);
    }
}

TTextAppender::~TTextAppender() {
    if (FHandle >= 0) {
        try {
            Flush();
        } catch (...) {
            // A destructor cannot report; Close() is the checked way.
        }
        ::close(FHandle);
    }
}

void TTextAppender::Write(std::string_view Text) {
    if (FHandle < 0) RaiseInOutError(EBADF);
    FBuffer += Text;
    if (FBuffer.size() >= 64 * 1024) Flush();
}

void TTextAppender::WriteLn(std::string_view Text) {
    Write(Text);
    Write(FLineBreak);
}

void TTextAppender::Flush() {
    std::size_t Done = 0;
    while (Done < FBuffer.size()) {
        const ssize_t R = ::write(FHandle, FBuffer.data() + Done, FBuffer.size() - Done);
        if (R < 0) {
            if (errno == EINTR) continue;
            const int Err = errno;
            FBuffer.erase(0, Done);
            RaiseInOutError(Err);
        }
        if (R == 0) {
            FBuffer.erase(0, Done);
            RaiseInOutError(ENOSPC);
        }
        Done += static_cast<std::size_t>(R);
    }
    FBuffer.clear();
}

void TTextAppender::Close() {
    if (FHandle < 0) return;
    const int H = FHandle;
    try {
        Flush();
    } catch (...) {
        FBuffer.clear();
        FHandle = -1;
        ::close(H);
        throw;
    }
    FHandle = -1;
    if (::close(H) != 0 && errno != EINTR) RaiseInOutError(errno);
}

}  // namespace rtl
