// TOleServer and the engine's server wrappers: connection kinds,
// DefaultInterface, ConnectTo and Disconnect.
#include <gtest/gtest.h>

#include "moneytable/Vennick_TLB.h"
#include "rtl/Rtl.h"
#include "rtl/ole/OleServer.h"

namespace {

int gLive = 0;

class Server : public rtl::ComObject<IBFRelation> {
public:
    Server() { ++gLive; }
    ~Server() override { --gLive; }
};

IUnknown* NewServer() {
    IUnknown* u = static_cast<IBFRelation*>(new Server);
    u->AddRef();
    return u;
}

class OleServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLive = 0;
        CoInitialize();
        rtl::RegisterClassObject(CLASS_BFRelation, "Test.Relation", NewServer);
        rtl::RegisterClassObject(CLASS_BFFilter, "Test.Filter", NewServer);
    }
    void TearDown() override {
        rtl::UnregisterClassObject(CLASS_BFRelation);
        rtl::UnregisterClassObject(CLASS_BFFilter);
        CoUninitialize();
        EXPECT_EQ(gLive, 0) << "a server object leaked";
    }
};

TEST_F(OleServerTest, DefaultInterfaceConnectsOnceAndKeepsTheInterface) {
    TBFRelation relation(nullptr);
    IDispatch* first = relation.DefaultInterface();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(gLive, 1);
    EXPECT_EQ(relation.DefaultInterface(), first);
    EXPECT_EQ(gLive, 1);
    relation.Disconnect();
    EXPECT_EQ(gLive, 0);
    relation.Disconnect();  // unconnected: nothing happens
    EXPECT_EQ(gLive, 0);
}

TEST_F(OleServerTest, ConnectToReleasesTheOldInterface) {
    TBFFilter filter(nullptr);
    filter.Connect();
    EXPECT_EQ(gLive, 1);
    auto other = rtl::CreateComObject<IBFRelation>(CLASS_BFRelation);
    EXPECT_EQ(gLive, 2);
    filter.ConnectTo(other.get());
    EXPECT_EQ(gLive, 1);  // the first server went with its last reference
    EXPECT_EQ(filter.DefaultInterface(), static_cast<IDispatch*>(other.get()));
    other.reset();
    EXPECT_EQ(gLive, 1);  // the wrapper still holds it
}

TEST_F(OleServerTest, WithoutServerDefaultInterfaceAsserts) {
    TBFFilter filter(nullptr);
    filter.SetConnectKind(ckAttachToInterface);
    try {
        filter.DefaultInterface();
        FAIL() << "no exception";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Message(),
                  "DefaultInterface is NULL. Component is not connected to Server. You must call 'Connect' or "
                  "'ConnectTo' before this operation");
    }
}

TEST_F(OleServerTest, UnregisteredServerFailsThroughTheRunTime) {
    rtl::UnregisterClassObject(CLASS_BFFilter);
    TBFFilter filter(nullptr);
    try {
        filter.Connect();
        FAIL() << "no exception";
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.Message(), "Class not registered");
    }
}

TEST_F(OleServerTest, ConnectKindsAndAutoConnect) {
    TBFRelation relation(nullptr);
    relation.SetConnectKind(ckRunningInstance);
    try {
        relation.Connect();
        FAIL() << "no exception";
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.Message(), "Operation unavailable");
    }
    relation.SetConnectKind(ckRemote);
    relation.SetRemoteMachineName("elsewhere");
    EXPECT_THROW(relation.Connect(), EOleSysError);
    relation.SetRemoteMachineName("localhost");
    relation.SetAutoConnect(true);
    relation.Loaded();
    EXPECT_EQ(gLive, 1);
}

TEST_F(OleServerTest, OwnerFreesTheWrapperAndItsConnection) {
    auto* owner = new TComponent(nullptr);
    auto* filter = new TBFFilter(owner);
    filter->Connect();
    EXPECT_EQ(gLive, 1);
    delete owner;
    EXPECT_EQ(gLive, 0);
}

}  // namespace
