// Run-time library: the class library's base classes.
//
//   TObject       root class: virtual destructor, ClassName()
//   TPersistent   objects that can copy themselves from one another (Assign)
//   TComponent    owned components: an owner frees its components with itself;
//                 names, Tag, insert/remove notifications, free notification
//   RegisterComponents  the registry of component classes that a host
//                 (development environment, palette host) installs
//   TStream, TMemoryStream, TFileStream
//   TStrings, TStringList
//
// Ownership: a component created with an owner belongs to that owner and is
// deleted by it, after the owner's own destructor body and its derived parts
// have run, in the reverse order of insertion. A component without an owner
// belongs to whoever created it. Streams own their memory or file handle.
// String lists do not own the objects attached to their lines.
//
// Threads: none of these classes locks; an object is used by one thread at a
// time. The component-class registry is the exception: it is guarded by a
// mutex and may be used from any thread.
#pragma once

#include "rtl/SysUtils.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject& operator=(const TObject&) = default;
    virtual ~TObject() = default;
    // The class's name as declared, without namespace: "TComponent".
    // Derived from the run-time type; a class may override it.
    virtual std::string ClassName() const;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

class EListError : public Exception { using Exception::Exception; };
class EStringListError : public EListError { using EListError::EListError; };
class EComponentError : public Exception { using Exception::Exception; };

// ---------------------------------------------------------------------------
// TPersistent
// ---------------------------------------------------------------------------

class TPersistent : public TObject {
public:
    // Copies Source into this object. The default asks Source->AssignTo(this);
    // a class that can copy from others overrides Assign and calls the
    // inherited one for classes it does not know. Nothing can be assigned:
    // EConvertError "Cannot assign a <source class or nil> to a <own class>".
    virtual void Assign(TPersistent* Source);

protected:
    virtual void AssignTo(TPersistent* Dest);
    [[noreturn]] void AssignError(TPersistent* Source);
};

// ---------------------------------------------------------------------------
// TComponent
// ---------------------------------------------------------------------------

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag : unsigned {
    csLoading = 1,
    csReading = 2,
    csWriting = 4,
    csDestroying = 8,
    csDesigning = 16,
    csFreeNotification = 32,
};
using TComponentState = unsigned;

// Notifications (all calls of Notification(AComponent, Operation)):
//   - when a component is inserted into an owner, the owner and (through the
//     default Notification) all of its components get (it, opInsert);
//   - when a component is removed from its owner (also when it is destroyed),
//     the owner and all of its components get (it, opRemove);
//   - when a component is destroyed, every component that asked for it with
//     FreeNotification gets (it, opRemove).
// A component received with opRemove because it is being destroyed may only
// be compared by address: its derived parts are already gone.
// Overrides of Notification must call the inherited one, which passes the
// notification on to the owned components and drops free-notification links
// to a removed component.
class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* AOwner);
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;
    // Marks the component destroying, tells the components that asked for
    // free notification, deletes the owned components (last inserted first)
    // and removes itself from its owner.
    ~TComponent() override;

    TComponent* Owner() const noexcept { return FOwner; }
    int ComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
    // Precondition 0 <= Index < ComponentCount(), else EListError
    // "List index out of bounds (<index>)".
    TComponent* Components(int Index) const;
    // The index of this component in its owner's list, -1 without owner.
    int ComponentIndex() const;
    // The owned component of that name, letter case ignored; nullptr if none.
    TComponent* FindComponent(std::string_view AName) const;

    const std::string& Name() const noexcept { return FName; }
    // The name must be empty or a valid identifier (EComponentError
    // "'<name>' is not a valid component name") and unique among the owner's
    // components, letter case ignored (EComponentError "A component named
    // <name> already exists").
    virtual void SetName(const std::string& NewName);

    std::intptr_t Tag() const noexcept { return FTag; }
    void SetTag(std::intptr_t Value) noexcept { FTag = Value; }

    TComponentState ComponentState() const noexcept { return FComponentState; }
    // Called by the destructor; a derived destructor may call it first so
    // that notifications during its own teardown see csDestroying.
    void Destroying() noexcept { FComponentState |= csDestroying; }

    // Makes AComponent the owner's (this) component: removes it from its old
    // owner, checks its name against the other components, notifies.
    void InsertComponent(TComponent* AComponent);
    // Takes AComponent out of this owner (it then belongs to the caller).
    void RemoveComponent(TComponent* AComponent);
    // Deletes all owned components, last inserted first.
    void DestroyComponents();

    // Ensures that AComponent is told (AComponent->Notification(this,
    // opRemove)) when this component is destroyed; the usual call is
    // Referenced->FreeNotification(this). The link works both ways: whichever
    // of the two is destroyed first tells the other, and the link is dropped.
    // Components with the same owner are told through the owner anyway, so no
    // link is made between them.
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

protected:
    virtual void Notification(TComponent* AComponent, TOperation Operation);
    void ValidateRename(TComponent* AComponent, std::string_view CurName, std::string_view NewName) const;
    void SetComponentState(TComponentState State) noexcept { FComponentState = State; }

private:
    void Insert(TComponent* AComponent);
    void Remove(TComponent* AComponent);
    void RemoveNotification(TComponent* AComponent);

    TComponent* FOwner = nullptr;
    std::string FName;
    std::intptr_t FTag = 0;
    TComponentState FComponentState = 0;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
};

// ---------------------------------------------------------------------------
// Registry of component classes
// ---------------------------------------------------------------------------

// A published property as a host's object inspector shows it. Get and Set
// are optional and work on the property's text form.
struct TPropInfo {
    std::string Name;
    std::string TypeName;  // e.g. "string", "Boolean", "TDataSource"
    std::function<std::string(TComponent*)> Get;
    std::function<void(TComponent*, const std::string&)> Set;
};

// A component class: its name, a factory creating an instance with an owner
// (the caller owns the result unless an owner is given) and its published
// properties.
struct TComponentClass {
    std::string ClassName;
    std::function<TComponent*(TComponent* AOwner)> Create;
    std::vector<TPropInfo> Properties;
};

// A descriptor for T, which must be constructible from TComponent* owner.
template <class T>
TComponentClass ComponentClassOf(std::string Name, std::vector<TPropInfo> Properties = {}) {
    return TComponentClass{std::move(Name), [](TComponent* AOwner) -> TComponent* { return new T(AOwner); },
                           std::move(Properties)};
}

// The host's handler for registrations, like the environment's hook.
using TRegisterComponentsProc =
    std::function<void(const std::string& Page, const std::vector<TComponentClass>& Classes)>;

// Records Classes under the palette page Page in the process-wide registry
// (a class registered again replaces the earlier entry) and hands them to the
// installed handler, if any. A class without a name or factory raises
// EComponentError "Invalid component registration".
void RegisterComponents(const std::string& Page, const std::vector<TComponentClass>& Classes);

namespace rtl {

// Installs the host's handler (an empty function removes it) and returns the
// previous one.
TRegisterComponentsProc SetRegisterComponentsProc(TRegisterComponentsProc Proc);

struct TRegisteredClass {
    std::string Page;
    TComponentClass Class;
};
// The registered classes, in registration order (a copy).
std::vector<TRegisteredClass> RegisteredComponentClasses();
// The class registered under that name (letter case ignored).
std::optional<TComponentClass> FindComponentClass(std::string_view ClassName);
// Removes a registration (a package being unloaded); false if unknown.
bool UnregisterComponentClass(std::string_view ClassName);

}  // namespace rtl

// ---------------------------------------------------------------------------
// Streams
// ---------------------------------------------------------------------------

enum TSeekOrigin : int {
    soBeginning = 0,
    soCurrent = 1,
    soEnd = 2,
    soFromBeginning = 0,
    soFromCurrent = 1,
    soFromEnd = 2,
};

// A sequence of bytes with a position. Read and Write transfer up to Count
// bytes at the position, advance it and return the number transferred (less
// than Count at the end of the data or on an error). Seek returns the new
// position; seeking to before the beginning raises EStreamError "Invalid
// stream position" and leaves the position unchanged.
class TStream : public TObject {
public:
    virtual std::int64_t Read(void* Buffer, std::int64_t Count) = 0;
    virtual std::int64_t Write(const void* Buffer, std::int64_t Count) = 0;
    virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;

    std::int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(std::int64_t Pos) { Seek(Pos, soBeginning); }
    virtual std::int64_t Size();
    // Sets the size; a position beyond the new size moves to its end.
    virtual void SetSize(std::int64_t NewSize);

    // Exactly Count bytes or EReadError "Stream read error" /
    // EWriteError "Stream write error".
    void ReadBuffer(void* Buffer, std::int64_t Count);
    void WriteBuffer(const void* Buffer, std::int64_t Count);
    // Copies Count bytes from Source's position; Count 0 copies the whole of
    // Source from its beginning. Returns the number copied.
    std::int64_t CopyFrom(TStream* Source, std::int64_t Count);

    // Convenience: writes the bytes of S; reads Count bytes as text.
    void WriteString(std::string_view S) { WriteBuffer(S.data(), static_cast<std::int64_t>(S.size())); }
    std::string ReadString(std::int64_t Count);
};

// A growable memory block.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    std::int64_t Read(void* Buffer, std::int64_t Count) override;
    // Writing beyond the end grows the block; a gap left by seeking beyond
    // the end reads as zero bytes.
    std::int64_t Write(const void* Buffer, std::int64_t Count) override;
    std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }
    void SetSize(std::int64_t NewSize) override;

    // The block; valid until the next change of size. May be nullptr when
    // empty.
    void* Memory() noexcept { return FData.data(); }
    const void* Memory() const noexcept { return FData.data(); }
    void Clear();
    // Replaces the content by the whole of Stream (from its beginning);
    // the position is 0 afterwards.
    void LoadFromStream(TStream* Stream);
    // Writes the whole content at Stream's position.
    void SaveToStream(TStream* Stream);
    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName);

private:
    std::vector<std::uint8_t> FData;
    std::int64_t FPosition = 0;
};

// Open modes of TFileStream: one access mode combined (|) with one share
// mode, or fmCreate alone (create or truncate, read-write).
constexpr Word fmCreate = 0xFF00;
constexpr Word fmOpenRead = 0x0000;
constexpr Word fmOpenWrite = 0x0001;
constexpr Word fmOpenReadWrite = 0x0002;
constexpr Word fmShareCompat = 0x0000;
constexpr Word fmShareExclusive = 0x0010;
constexpr Word fmShareDenyWrite = 0x0020;
constexpr Word fmShareDenyRead = 0x0030;
constexpr Word fmShareDenyNone = 0x0040;

// A file opened with POSIX calls (close-on-exec). Share modes are advisory
// whole-file locks (flock) among processes that also ask for them:
// fmShareExclusive and fmShareDenyRead take an exclusive lock, fmShareDenyWrite
// a shared one, fmShareDenyNone and fmShareCompat none; a lock that is held
// elsewhere makes the open fail. Appending is opening, then Seek(0, soEnd).
// Failures: EFOpenError "Cannot open file <name>" (also for a folder),
// EFCreateError "Cannot create file <name>". Read and write errors of the
// system make Read/Write return fewer bytes; LastError() keeps the errno.
class TFileStream : public TStream {
public:
    TFileStream(const std::string& FileName, Word Mode, unsigned Rights = 0666);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::int64_t Read(void* Buffer, std::int64_t Count) override;
    std::int64_t Write(const void* Buffer, std::int64_t Count) override;
    std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
    std::int64_t Size() override;
    // EStreamError with the system's reason when the file cannot be resized.
    void SetSize(std::int64_t NewSize) override;

    const std::string& FileName() const noexcept { return FFileName; }
    int Handle() const noexcept { return FHandle; }
    int LastError() const noexcept { return FLastError; }

private:
    std::string FFileName;
    int FHandle = -1;
    int FLastError = 0;
};

// ---------------------------------------------------------------------------
// TStrings / TStringList
// ---------------------------------------------------------------------------

// An indexed list of text lines, each with an optional attached object (not
// owned). Index errors raise EStringListError "List index out of bounds
// (<index>)".
class TStrings : public TPersistent {
public:
    // Abstract storage.
    virtual int Count() const = 0;
    virtual std::string Get(int Index) const = 0;
    virtual void Put(int Index, const std::string& S);
    virtual TObject* GetObject(int Index) const;
    virtual void PutObject(int Index, TObject* AObject);
    virtual void Insert(int Index, const std::string& S) = 0;
    virtual void InsertObject(int Index, const std::string& S, TObject* AObject);
    virtual void Delete(int Index) = 0;
    virtual void Clear() = 0;

    std::string operator[](int Index) const { return Get(Index); }
    std::string Strings(int Index) const { return Get(Index); }
    TObject* Objects(int Index) const { return GetObject(Index); }

    // Adds at the end (a sorted list inserts in order); returns the index.
    virtual int Add(const std::string& S);
    virtual int AddObject(const std::string& S, TObject* AObject);
    void AddStrings(const TStrings& Strings);
    void Append(const std::string& S) { Add(S); }
    virtual void Exchange(int Index1, int Index2);
    virtual void Move(int CurIndex, int NewIndex);
    // The first line equal to S, letter case ignored (ASCII); -1 if none.
    virtual int IndexOf(std::string_view S) const;
    int IndexOfObject(const TObject* AObject) const;

    // Lines in the form name=value.
    int IndexOfName(std::string_view Name) const;
    std::string Names(int Index) const;
    std::string ValueFromIndex(int Index) const;
    std::string Values(std::string_view Name) const;
    // Sets the value of the line Name; an empty value deletes the line.
    void SetValue(std::string_view Name, const std::string& Value);
    char NameValueSeparator() const noexcept { return FNameValueSeparator; }
    void SetNameValueSeparator(char C) noexcept { FNameValueSeparator = C; }

    // Every line followed by LineBreak (default "\n"). Setting splits at
    // LF, CR LF or CR; a final line break adds no empty line.
    std::string Text() const;
    virtual void SetText(std::string_view Value);
    const std::string& LineBreak() const noexcept { return FLineBreak; }
    void SetLineBreak(std::string Value) { FLineBreak = std::move(Value); }

    // Lines joined by Delimiter; a line containing a blank or control
    // character, the quote character or the delimiter is quoted (inner
    // quotes doubled). Setting splits at Delimiter and, unless
    // StrictDelimiter, also at blanks and control characters outside quotes.
    std::string DelimitedText() const;
    void SetDelimitedText(std::string_view Value);
    // DelimitedText with ',' and '"', never strict.
    std::string CommaText() const;
    void SetCommaText(std::string_view Value);
    char Delimiter() const noexcept { return FDelimiter; }
    void SetDelimiter(char C) noexcept { FDelimiter = C; }
    char QuoteChar() const noexcept { return FQuoteChar; }
    void SetQuoteChar(char C) noexcept { FQuoteChar = C; }
    bool StrictDelimiter() const noexcept { return FStrictDelimiter; }
    void SetStrictDelimiter(bool Value) noexcept { FStrictDelimiter = Value; }

    // Nested; the list reports its changes once, at the last EndUpdate, and
    // only when something changed meanwhile.
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const noexcept { return FUpdateCount; }

    // Text files: UTF-8, a leading byte-order mark is skipped.
    // EFOpenError / EFCreateError as TFileStream raises them.
    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName) const;
    void LoadFromStream(TStream* Stream);
    void SaveToStream(TStream* Stream) const;

    // Copies the lines and objects of another TStrings.
    void Assign(TPersistent* Source) override;
    bool Equals(const TStrings& Strings) const;

protected:
    // Called around every change; TStringList raises its events there.
    virtual void SetUpdateState(bool Updating);
    [[noreturn]] void Error(std::string_view Msg, int Data) const;
    int FUpdateCount = 0;

private:
    std::string FLineBreak = "\n";
    char FDelimiter = ',';
    char FQuoteChar = '"';
    char FNameValueSeparator = '=';
    bool FStrictDelimiter = false;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

// The list of lines in memory.
// Sorted: Add inserts in order (Insert raises EStringListError "Operation not
// allowed on sorted list"); with Duplicates dupIgnore a line already present
// is not added again, dupError raises "String list does not allow
// duplicates". Comparison ignores ASCII letter case unless CaseSensitive.
// OnChanging runs before and OnChange after each change (outside
// BeginUpdate/EndUpdate).
class TStringList : public TStrings {
public:
    TStringList() = default;
    TStringList(const TStringList& Other);
    TStringList& operator=(const TStringList& Other);

    int Count() const override { return static_cast<int>(FList.size()); }
    std::string Get(int Index) const override;
    void Put(int Index, const std::string& S) override;
    TObject* GetObject(int Index) const override;
    void PutObject(int Index, TObject* AObject) override;
    void Insert(int Index, const std::string& S) override;
    void InsertObject(int Index, const std::string& S, TObject* AObject) override;
    void Delete(int Index) override;
    void Clear() override;
    int Add(const std::string& S) override;
    int AddObject(const std::string& S, TObject* AObject) override;
    void Exchange(int Index1, int Index2) override;
    int IndexOf(std::string_view S) const override;

    // Binary search in a sorted list: true and the index of the match, or
    // false and the index where S would be inserted.
    bool Find(std::string_view S, int& Index) const;
    virtual void Sort();
    void CustomSort(const std::function<int(TStringList* List, int Index1, int Index2)>& Compare);

    bool Sorted() const noexcept { return FSorted; }
    void SetSorted(bool Value);
    TDuplicates Duplicates() const noexcept { return FDuplicates; }
    void SetDuplicates(TDuplicates Value) noexcept { FDuplicates = Value; }
    bool CaseSensitive() const noexcept { return FCaseSensitive; }
    void SetCaseSensitive(bool Value);

    TNotifyEvent OnChange;
    TNotifyEvent OnChanging;

protected:
    void SetUpdateState(bool Updating) override;
    virtual void Changed();
    virtual void Changing();
    int CompareStrings(std::string_view S1, std::string_view S2) const;

private:
    struct TItem {
        std::string FString;
        TObject* FObject = nullptr;
    };
    void InsertItem(int Index, const std::string& S, TObject* AObject);
    void CheckIndex(int Index) const;

    std::vector<TItem> FList;
    bool FSorted = false;
    bool FCaseSensitive = false;
    bool FChangedInUpdate = false;
    TDuplicates FDuplicates = dupIgnore;
};

namespace rtl {

// A text file opened for appending, as the classic run time's Append
// (AssignFile + Append + Write/Writeln + CloseFile) does. The file must
// exist. Errors are EInOutError with the classic messages ("File not
// found", "Disk full", ...) and the errno in ErrorCode. Text is written as
// given (bytes); WriteLn adds LineBreak (default CR LF).
class TTextAppender {
public:
    explicit TTextAppender(const std::string& FileName, std::string LineBreak = "\r\n");
    ~TTextAppender();  // closes without raising
    TTextAppender(const TTextAppender&) = delete;
    TTextAppender& operator=(const TTextAppender&) = delete;

    void Write(std::string_view Text);
    void WriteLn(std::string_view Text = {});
    // Writes out buffered text and closes; raises on a write error.
    void Close();

private:
    void Flush();
    int FHandle = -1;
    std::string FBuffer;
    std::string FLineBreak;
};

}  // namespace rtl
