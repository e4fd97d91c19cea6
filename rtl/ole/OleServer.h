// TOleServer: the component base of server wrappers, which hold a connection
// to a COM server object on behalf of an application.
//
// A descendant supplies its server data (InitServerData: class id, default
// interface id, event interface id) and implements Connect and Disconnect;
// GetServer creates or attaches to the server object according to
// ConnectKind:
//
// | ConnectKind          | GetServer                                             |
// |----------------------|-------------------------------------------------------|
// | ckRunningOrNew       | a new in-process instance (there is no table of       |
// |                      | running objects here, so no instance is ever running) |
// | ckNewInstance        | a new in-process instance                             |
// | ckRunningInstance    | raises EOleSysError "Operation unavailable"           |
// | ckRemote             | an instance on RemoteMachineName (only the local      |
// |                      | machine is reachable: CoBF*::CreateRemote rules)      |
// | ckAttachToInterface  | nothing: the application calls ConnectTo itself       |
//
// With AutoConnect set, Loaded() connects.
//
// Ownership: GetServer returns a new reference. Threads: the creating thread.
#pragma once

#include <string>

#include "rtl/Classes.h"
#include "rtl/ole/Ole.h"

enum TConnectKind { ckRunningOrNew, ckNewInstance, ckRunningInstance, ckRemote, ckAttachToInterface };

struct TServerData {
    CLSID ClassID{};
    IID IntfIID{};
    IID EventIID{};  // all zero: no event interface
    std::string LicenseKey;
};

constexpr HRESULT MK_E_UNAVAILABLE = MakeHResult(0x800401E3u);

class TOleServer : public TComponent {
public:
    explicit TOleServer(TComponent* AOwner);
    ~TOleServer() override;

    TConnectKind ConnectKind() const { return FConnectKind; }
    void SetConnectKind(TConnectKind Value) { FConnectKind = Value; }
    bool AutoConnect() const { return FAutoConnect; }
    void SetAutoConnect(bool Value) { FAutoConnect = Value; }
    const std::string& RemoteMachineName() const { return FRemoteMachineName; }
    void SetRemoteMachineName(const std::string& Value) { FRemoteMachineName = Value; }

    virtual void Connect() = 0;
    virtual void Disconnect() = 0;
    // Called by a host after the component's properties were set.
    virtual void Loaded();

protected:
    // Sets ServerData(); called once, by the first GetServer.
    virtual void InitServerData() = 0;
    // The server object's IUnknown, created as ConnectKind says; a new
    // reference, or empty for ckAttachToInterface.
    rtl::ComPtr<IUnknown> GetServer();
    TServerData* ServerData() { return &FServerData; }

private:
    TServerData FServerData;
    bool FServerDataSet = false;
    TConnectKind FConnectKind = ckRunningOrNew;
    bool FAutoConnect = false;
    std::string FRemoteMachineName;
};
