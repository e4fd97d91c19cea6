// TOleServer: server data set once, creation by connection kind, automatic
// connection on Loaded, and the failures of the COM run time. The wrapper
// here is a minimal descendant; the engine's wrappers are tested with the
// component package.
#include <gtest/gtest.h>

#include "rtl/Rtl.h"
#include "rtl/ole/OleServer.h"

namespace {

constexpr CLSID CLSID_TestServer{0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x01}};

int gLive = 0;

class Server : public rtl::ComObject<IDispatch> {
public:
    Server() { ++gLive; }
    ~Server() override { --gLive; }
};

IUnknown* NewServer() {
    IUnknown* u = static_cast<IDispatch*>(new Server);
    u->AddRef();
    return u;
}

// Holds the server's IUnknown while connected.
class TTestServer : public TOleServer {
public:
    using TOleServer::TOleServer;
    ~TTestServer() override { Disconnect(); }
    void Connect() override {
        if (!FServer) FServer = GetServer();
    }
    void Disconnect() override { FServer.reset(); }
    IUnknown* Held() const { return FServer.get(); }
    // Another GetServer, whatever is held.
    rtl::ComPtr<IUnknown> Server() { return GetServer(); }
    int InitCount = 0;

protected:
    void InitServerData() override {
        ++InitCount;
        ServerData()->ClassID = CLSID_TestServer;
        ServerData()->IntfIID = IDispatch::Iid;
    }

private:
    rtl::ComPtr<IUnknown> FServer;
};

template <class E, class F>
void ExpectRaise(F&& Body, const std::string& Msg) {
    try {
        Body();
        ADD_FAILURE() << "no exception, expected: " << Msg;
    } catch (const E& Ex) {
        EXPECT_EQ(Ex.Message(), Msg);
    } catch (const std::exception& Ex) {
        ADD_FAILURE() << "wrong exception class: " << Ex.what();
    }
}

class OleServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLive = 0;
        CoInitialize();
        rtl::RegisterClassObject(CLSID_TestServer, "Test.Server", NewServer);
    }
    void TearDown() override {
        rtl::UnregisterClassObject(CLSID_TestServer);
        CoUninitialize();
        EXPECT_EQ(gLive, 0) << "a server object leaked";
    }
};

TEST_F(OleServerTest, ServerDataIsSetOnceAndNewInstancesAreCreated) {
    TTestServer server(nullptr);
    EXPECT_EQ(server.InitCount, 0);
    EXPECT_EQ(server.ConnectKind(), ckRunningOrNew);
    auto first = server.Server();
    auto second = server.Server();
    EXPECT_EQ(server.InitCount, 1);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get()) << "no running instance is ever shared";
    EXPECT_EQ(gLive, 2);
    server.SetConnectKind(ckNewInstance);
    EXPECT_TRUE(server.Server());
    EXPECT_EQ(server.InitCount, 1);
}

TEST_F(OleServerTest, ConnectKinds) {
    TTestServer server(nullptr);
    server.SetConnectKind(ckRunningInstance);
    ExpectRaise<EOleSysError>([&] { server.Connect(); }, "Operation unavailable");
    server.SetConnectKind(ckAttachToInterface);
    server.Connect();
    EXPECT_EQ(server.Held(), nullptr);
    EXPECT_EQ(gLive, 0);
    server.SetConnectKind(ckRemote);
    server.SetRemoteMachineName("elsewhere");
    ExpectRaise<EOleSysError>([&] { server.Connect(); },
                              "Cannot create the object on machine 'elsewhere': remote activation is not available");
    server.SetRemoteMachineName("localhost");
    server.Connect();
    EXPECT_NE(server.Held(), nullptr);
    EXPECT_EQ(gLive, 1);
}

TEST_F(OleServerTest, AutoConnectConnectsWhenLoaded) {
    TTestServer server(nullptr);
    server.Loaded();
    EXPECT_EQ(server.Held(), nullptr);
    server.SetAutoConnect(true);
    EXPECT_TRUE(server.AutoConnect());
    server.Loaded();
    EXPECT_NE(server.Held(), nullptr);
    EXPECT_EQ(gLive, 1);
}

TEST_F(OleServerTest, FailuresOfTheRunTime) {
    TTestServer server(nullptr);
    rtl::UnregisterClassObject(CLSID_TestServer);
    ExpectRaise<EOleSysError>([&] { server.Connect(); }, "Class not registered");
    rtl::RegisterClassObject(CLSID_TestServer, "Test.Server", NewServer);
    CoUninitialize();
    ExpectRaise<EOleSysError>([&] { server.Connect(); }, "CoInitialize has not been called");
    CoInitialize();
}

TEST_F(OleServerTest, OwnerFreesTheServerAndItsConnection) {
    auto* owner = new TComponent(nullptr);
    auto* server = new TTestServer(owner);
    server->Connect();
    EXPECT_EQ(gLive, 1);
    delete owner;
    EXPECT_EQ(gLive, 0);
}

}  // namespace
