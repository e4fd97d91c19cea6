// The server wrappers TBFFilter and TBFRelation and the creator classes of
// the unit Vennick_TLB, created through the loaded package's registered
// classes as a development environment creates them.
#include "package/PackageLoader.h"

#include <unistd.h>

#include <memory>

#include "PackageTestKit.h"

namespace {

using pkgtest::ExpectRaise;
using pkgtest::KindOf;
using pkgtest::TFakeServer;

constexpr const char* NotConnected =
    "DefaultInterface is NULL. Component is not connected to Server. You must call 'Connect' or 'ConnectTo' "
    "before this operation";

class ServerWrapperTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Package = new package::TLoadedPackage(pkgtest::PackageFile); }
    static void TearDownTestSuite() {
        delete Package;
        Package = nullptr;
    }
    void SetUp() override {
        TFakeServer::Live = 0;
        CoInitialize();
        pkgtest::RegisterFakeServers();
    }
    void TearDown() override {
        Owner.reset();
        pkgtest::UnregisterFakeServers();
        CoUninitialize();
        EXPECT_EQ(TFakeServer::Live, 0) << "a server object leaked";
    }
    // A wrapper made by the package's registered class, owned by Owner.
    template <class T>
    T* Create(const char* ClassName) {
        std::optional<TComponentClass> Class = rtl::FindComponentClass(ClassName);
        if (!Class) throw std::runtime_error(std::string("not registered: ") + ClassName);
        auto* W = dynamic_cast<T*>(Class->Create(Owner.get()));
        if (!W) throw std::runtime_error(std::string("wrong class: ") + ClassName);
        return W;
    }

    static inline package::TLoadedPackage* Package = nullptr;
    std::unique_ptr<TComponent> Owner = std::make_unique<TComponent>(nullptr);
};

TEST_F(ServerWrapperTest, DefaultInterfaceConnectsOnFirstReadAndKeepsTheInterface) {
    for (const char* Name : {"TBFFilter", "TBFRelation"}) {
        auto* W = Create<TOleServer>(Name);
        auto* Filter = dynamic_cast<TBFFilter*>(W);
        auto* Relation = dynamic_cast<TBFRelation*>(W);
        ASSERT_TRUE(Filter || Relation) << Name;
        auto DefaultInterface = [&] { return Filter ? Filter->DefaultInterface() : Relation->DefaultInterface(); };
        TFakeServer::Live = 0;
        IDispatch* First = DefaultInterface();
        ASSERT_NE(First, nullptr);
        EXPECT_EQ(TFakeServer::Live, 1);
        // Each wrapper creates the object of its own class id.
        EXPECT_EQ(KindOf(First), Filter ? "filter" : "relation");
        EXPECT_EQ(DefaultInterface(), First);
        EXPECT_EQ(TFakeServer::Live, 1);
        // Connect while connected keeps the held interface too.
        W->Connect();
        EXPECT_EQ(DefaultInterface(), First);
        EXPECT_EQ(TFakeServer::Live, 1);
        W->Disconnect();
        EXPECT_EQ(TFakeServer::Live, 0);
    }
}

TEST_F(ServerWrapperTest, ConnectToReleasesTheOldInterface) {
    auto* Filter = Create<TBFFilter>("TBFFilter");
    Filter->Connect();
    IDispatch* Old = Filter->DefaultInterface();
    EXPECT_EQ(KindOf(Old), "filter");
    EXPECT_EQ(TFakeServer::Live, 1);
    rtl::ComPtr<IBFRelation> Other = CoBFRelation::Create();
    EXPECT_EQ(TFakeServer::Live, 2);
    Filter->ConnectTo(Other.get());
    EXPECT_EQ(TFakeServer::Live, 1);  // the first server went with its last reference
    EXPECT_EQ(Filter->DefaultInterface(), static_cast<IDispatch*>(Other.get()));
    Other.reset();
    EXPECT_EQ(TFakeServer::Live, 1);  // the wrapper holds its own reference
    Filter->Disconnect();
    EXPECT_EQ(TFakeServer::Live, 0);
}

// Handing ConnectTo the interface that the wrapper alone holds must not
// release it before the new reference is taken.
TEST_F(ServerWrapperTest, ConnectToWithTheHeldInterfaceKeepsItAlive) {
    auto* Filter = Create<TBFFilter>("TBFFilter");
    IDispatch* Held = Filter->DefaultInterface();
    EXPECT_EQ(TFakeServer::Live, 1);
    Filter->ConnectTo(Held);
    EXPECT_EQ(TFakeServer::Live, 1);
    EXPECT_EQ(Filter->DefaultInterface(), Held);
    EXPECT_EQ(KindOf(Filter->DefaultInterface()), "filter");
    Filter->Disconnect();
    EXPECT_EQ(TFakeServer::Live, 0);
}

TEST_F(ServerWrapperTest, DisconnectWhenUnconnectedDoesNothing) {
    auto* Relation = Create<TBFRelation>("TBFRelation");
    Relation->Disconnect();
    Relation->Disconnect();
    EXPECT_EQ(TFakeServer::Live, 0);
    // Still usable afterwards.
    EXPECT_NE(Relation->DefaultInterface(), nullptr);
    EXPECT_EQ(TFakeServer::Live, 1);
}

TEST_F(ServerWrapperTest, WithoutServerDefaultInterfaceFails) {
    pkgtest::UnregisterFakeServers();  // no engine registered
    auto* Filter = Create<TBFFilter>("TBFFilter");
    // Creating the server fails in the COM run time...
    ExpectRaise<EOleSysError>([&] { Filter->DefaultInterface(); }, "Class not registered");
    // ...and a wrapper that only attaches has nothing: the assertion.
    Filter->SetConnectKind(ckAttachToInterface);
    ExpectRaise<EAssertionFailed>([&] { Filter->DefaultInterface(); }, NotConnected);
    auto* Relation = Create<TBFRelation>("TBFRelation");
    Relation->SetConnectKind(ckAttachToInterface);
    ExpectRaise<EAssertionFailed>([&] { Relation->DefaultInterface(); }, NotConnected);
}

TEST_F(ServerWrapperTest, TheOwnerFreesTheWrapperAndItsConnection) {
    Create<TBFFilter>("TBFFilter")->Connect();
    Create<TBFRelation>("TBFRelation")->Connect();
    EXPECT_EQ(TFakeServer::Live, 2);
    Owner.reset();
    EXPECT_EQ(TFakeServer::Live, 0);
}

TEST_F(ServerWrapperTest, CreatorClassesCreateInProcessAndRefuseOtherMachines) {
    EXPECT_EQ(KindOf(CoBFFilter::Create().get()), "filter");
    EXPECT_EQ(KindOf(CoBFRelation::Create().get()), "relation");
    char Host[256] = {};
    ASSERT_EQ(gethostname(Host, sizeof Host - 1), 0);
    EXPECT_EQ(KindOf(CoBFRelation::CreateRemote(Host).get()), "relation");
    EXPECT_EQ(KindOf(CoBFFilter::CreateRemote("").get()), "filter");
    EXPECT_EQ(TFakeServer::Live, 0);
    ExpectRaise<EOleSysError>([] { CoBFFilter::CreateRemote("server2"); },
                              "Cannot create the object on machine 'server2': remote activation is not available");
    ExpectRaise<EOleSysError>([] { CoBFRelation::CreateRemote("server2"); },
                              "Cannot create the object on machine 'server2': remote activation is not available");
}

}  // namespace
