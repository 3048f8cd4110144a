// The class registry and factory: registration, look-ups, refusals, plug-in loading, references.
#include <gtest/gtest.h>

#include <QLibrary>
#include <QString>
#include <atomic>
#include <cstring>

#include "zt/zt_class.h"
#include "zthost/zthost.h"

namespace {

std::atomic<int> g_alive{0};
std::atomic<bool> g_failConstruction{false};

// Thread-safe (reference counting only). Counts its live objects so tests see every release.
class CZtCounted : public CZtClass {
public:
    CZtCounted() { ++g_alive; }
    ~CZtCounted() override { --g_alive; }
    void* QueryInterface(const char* interfaceName) override {
        if (interfaceName && std::strcmp(interfaceName, "IZtCounted") == 0) {
            AddRef();
            return static_cast<IZtInterface*>(this);
        }
        return CZtClass::QueryInterface(interfaceName);
    }
};

IZtInterface* ConstructCounted(const char*, int) {
    return g_failConstruction ? nullptr : new CZtCounted;
}

SZtClassRecord Record(const wchar_t* name) {
    SZtClassRecord record;
    record.className = name;
    record.parents = {L"IZtCounted"};
    record.version = 2;
    record.priority = L"01.00.00.00";
    record.friendlyName = L"Counted thing";
    return record;
}

class ClassRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::ResetForTests();
        g_failConstruction = false;
    }
    void TearDown() override { zthost::ResetForTests(); }
};

TEST_F(ClassRegistry, RegistersLooksUpAndUnregisters) {
    EXPECT_EQ(zthost::RegisterClass(Record(L"CZtCounted"), &ConstructCounted), 0);
    EXPECT_TRUE(CZtRTTI::IsRegistered("CZtCounted"));
    SZtClassRecord found;
    ASSERT_TRUE(zthost::FindClassRecord(L"CZtCounted", &found));
    EXPECT_EQ(found.className, L"CZtCounted");
    EXPECT_EQ(found.parents, std::vector<std::wstring>{L"IZtCounted"});
    EXPECT_EQ(found.version, 2);
    EXPECT_EQ(found.friendlyName, L"Counted thing");
    EXPECT_EQ(zthost::RegisteredClassNames(), std::vector<std::wstring>{L"CZtCounted"});

    EXPECT_EQ(zthost::UnregisterClass(L"CZtCounted"), 0);
    EXPECT_FALSE(CZtRTTI::IsRegistered("CZtCounted"));
    EXPECT_FALSE(zthost::FindClassRecord(L"CZtCounted", &found));
}

TEST_F(ClassRegistry, RefusalsReturnCodes) {
    EXPECT_EQ(zthost::RegisterClass(Record(L""), &ConstructCounted), -4);
    EXPECT_EQ(zthost::RegisterClass(Record(L"CZtCounted"), nullptr), -4);
    EXPECT_EQ(zthost::RegisterClass(Record(L"CZtCounted"), &ConstructCounted), 0);
    EXPECT_EQ(zthost::RegisterClass(Record(L"CZtCounted"), &ConstructCounted), -10);
    EXPECT_EQ(zthost::UnregisterClass(L"CZtCounted"), 0);
    EXPECT_EQ(zthost::UnregisterClass(L"CZtCounted"), -5);
    EXPECT_FALSE(CZtRTTI::IsRegistered(nullptr));
}

TEST_F(ClassRegistry, CreateAndQueryHandsOutOneReference) {
    ASSERT_EQ(zthost::RegisterClass(Record(L"CZtCounted"), &ConstructCounted), 0);
    auto* object = static_cast<IZtInterface*>(CZtRTTI::CreateAndQuery("CZtCounted", "IZtCounted"));
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(g_alive, 1);
    EXPECT_STREQ(dynamic_cast<CZtClass*>(object)->GetClassName(), L"CZtCounted");
    EXPECT_EQ(object->AddRef(), 2);
    EXPECT_EQ(object->Release(), 1);
    EXPECT_EQ(object->Release(), 0);
    EXPECT_EQ(g_alive, 0);
}

TEST_F(ClassRegistry, CreateAndQueryFailuresReturnNullAndReleaseTheObject) {
    ASSERT_EQ(zthost::RegisterClass(Record(L"CZtCounted"), &ConstructCounted), 0);
    EXPECT_EQ(CZtRTTI::CreateAndQuery("CZtUnknown", "IZtCounted"), nullptr);

    EXPECT_EQ(CZtRTTI::CreateAndQuery("CZtCounted", "IZtSomethingElse"), nullptr);
    EXPECT_EQ(g_alive, 0);

    g_failConstruction = true;
    EXPECT_EQ(CZtRTTI::CreateAndQuery("CZtCounted", "IZtCounted"), nullptr);
    EXPECT_EQ(CZtRTTI::CreateAndQuery(nullptr, "IZtCounted"), nullptr);
}

TEST_F(ClassRegistry, LoadsPluginClassesWithExportedConstructors) {
    const std::wstring path = QString(ZT_TEST_PLUGIN).toStdWString();
    std::wstring error;
    EXPECT_EQ(zthost::LoadPluginLibrary(path, &error), 1) << error.c_str();
    EXPECT_FALSE(CZtRTTI::IsRegistered("CZtTestMissing"));
    SZtClassRecord record;
    ASSERT_TRUE(zthost::FindClassRecord(L"CZtTestThing", &record));
    EXPECT_EQ(record.parents, std::vector<std::wstring>{L"IZtTestThing"});
    EXPECT_EQ(record.version, 3);
    EXPECT_EQ(record.priority, L"01.00.00.00");
    EXPECT_EQ(record.friendlyName, L"Test thing");

    QLibrary library(QString::fromStdWString(path));
    auto live = reinterpret_cast<int (*)()>(library.resolve("ZtTestPlugin_LiveObjects"));
    ASSERT_NE(live, nullptr);
    auto* thing =
        static_cast<IZtInterface*>(CZtRTTI::CreateAndQuery("CZtTestThing", "IZtTestThing"));
    ASSERT_NE(thing, nullptr);
    EXPECT_EQ(live(), 1);
    EXPECT_EQ(thing->Release(), 0);
    EXPECT_EQ(live(), 0);

    // Loading again (after the registry was cleared) registers the same classes again.
    zthost::ResetForTests();
    EXPECT_EQ(zthost::LoadPluginLibrary(path, &error), 1);
    EXPECT_TRUE(CZtRTTI::IsRegistered("CZtTestThing"));
}

TEST_F(ClassRegistry, MissingPluginLibraryIsRefused) {
    std::wstring error;
    EXPECT_EQ(zthost::LoadPluginLibrary(L"/nonexistent/libnothing.so", &error), -1);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(zthost::LoadPluginLibrary(L"/nonexistent/libnothing.so", nullptr), -1);
}

}  // namespace
