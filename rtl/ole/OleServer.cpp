// TOleServer: creation of the server object by connection kind.
#include "rtl/ole/OleServer.h"

TOleServer::TOleServer(TComponent* AOwner) : TComponent(AOwner) {}

TOleServer::~TOleServer() = default;

void TOleServer::Loaded() {
    if (FAutoConnect) Connect();
}

rtl::ComPtr<IUnknown> TOleServer::GetServer() {
    if (!FServerDataSet) {
        InitServerData();
        FServerDataSet = true;
    }
    switch (FConnectKind) {
        case ckAttachToInterface: return nullptr;
        case ckRunningInstance: throw EOleSysError("Operation unavailable", MK_E_UNAVAILABLE);
        case ckRemote: return rtl::CreateRemoteComObject<IUnknown>(FRemoteMachineName, FServerData.ClassID);
        case ckRunningOrNew:
        case ckNewInstance:
        default: return rtl::CreateComObject<IUnknown>(FServerData.ClassID);
    }
}
