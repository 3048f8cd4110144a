// The host's registry store: open-only keys, typed values of exact size, the Windows query rules.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstring>
#include <string>

#include "zt/zt_registry.h"
#include "zthost/registry_store.h"

namespace {

constexpr const wchar_t* kPath = L"Software\\Brightwater\\Misc\\Verove";

class RegistryStore : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_file = m_dir.filePath(QStringLiteral("registry.ini"));
        zthost::SetRegistryLocation(m_file.toStdWString());
    }

    ZT_HKEY Create(const wchar_t* path = kPath) {
        ZT_HKEY key = nullptr;
        EXPECT_EQ(ZT_RegCreateKey(EZtRegRoot::LocalMachine, path, &key), ZT_ERROR_SUCCESS);
        return key;
    }

    QTemporaryDir m_dir;
    QString m_file;
};

TEST_F(RegistryStore, OpenNeverCreatesAKey) {
    ZT_HKEY key = nullptr;
    EXPECT_EQ(ZT_RegOpenKey(EZtRegRoot::LocalMachine, kPath, &key), ZT_ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(QFile::exists(m_file));
    // Still missing after the failed open.
    EXPECT_EQ(ZT_RegOpenKey(EZtRegRoot::LocalMachine, kPath, &key), ZT_ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryStore, ValuesKeepTypeAndExactSize) {
    ZT_HKEY key = Create();
    const std::uint32_t dword = 0x01020304;
    const std::uint64_t qword = 1;
    const wchar_t text[] = L"1";
    ASSERT_EQ(ZT_RegSetValue(key, L"Dword", ZT_REG_DWORD, &dword, 4), ZT_ERROR_SUCCESS);
    ASSERT_EQ(ZT_RegSetValue(key, L"Qword", ZT_REG_QWORD, &qword, 8), ZT_ERROR_SUCCESS);
    ASSERT_EQ(ZT_RegSetValue(key, L"Text", ZT_REG_SZ, text, sizeof(text)), ZT_ERROR_SUCCESS);
    ASSERT_EQ(ZT_RegSetValue(key, L"Empty", ZT_REG_BINARY, nullptr, 0), ZT_ERROR_SUCCESS);
    ZT_RegCloseKey(key);

    // Read back through a fresh handle: the values live in the file, not in the handle.
    ZT_HKEY reopened = nullptr;
    ASSERT_EQ(ZT_RegOpenKey(EZtRegRoot::LocalMachine, kPath, &reopened), ZT_ERROR_SUCCESS);
    ZT_DWORD type = 0;
    ZT_DWORD size = 0;
    ASSERT_EQ(ZT_RegQueryValue(reopened, L"Dword", &type, nullptr, &size), ZT_ERROR_SUCCESS);
    EXPECT_EQ(type, ZT_REG_DWORD);
    EXPECT_EQ(size, 4u);
    std::uint32_t readDword = 0;
    ASSERT_EQ(ZT_RegQueryValue(reopened, L"Dword", nullptr, &readDword, &size), ZT_ERROR_SUCCESS);
    EXPECT_EQ(readDword, dword);

    ASSERT_EQ(ZT_RegQueryValue(reopened, L"Qword", &type, nullptr, &size), ZT_ERROR_SUCCESS);
    EXPECT_EQ(type, ZT_REG_QWORD);
    EXPECT_EQ(size, 8u);
    ASSERT_EQ(ZT_RegQueryValue(reopened, L"Text", &type, nullptr, &size), ZT_ERROR_SUCCESS);
    EXPECT_EQ(type, ZT_REG_SZ);
    EXPECT_EQ(size, sizeof(text));
    wchar_t readText[2] = {};
    ASSERT_EQ(ZT_RegQueryValue(reopened, L"Text", nullptr, readText, &size), ZT_ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(readText), L"1");
    ASSERT_EQ(ZT_RegQueryValue(reopened, L"Empty", &type, nullptr, &size), ZT_ERROR_SUCCESS);
    EXPECT_EQ(type, ZT_REG_BINARY);
    EXPECT_EQ(size, 0u);
    ZT_RegCloseKey(reopened);
}

TEST_F(RegistryStore, QueryFollowsTheWindowsSizeRules) {
    ZT_HKEY key = Create();
    const std::uint64_t qword = 0x1122334455667788ull;
    ASSERT_EQ(ZT_RegSetValue(key, L"Value", ZT_REG_QWORD, &qword, 8), ZT_ERROR_SUCCESS);

    std::uint32_t small = 0xAAAAAAAA;
    ZT_DWORD size = 4;
    EXPECT_EQ(ZT_RegQueryValue(key, L"Value", nullptr, &small, &size), ZT_ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(small, 0xAAAAAAAAu);  // nothing written into a buffer that is too small

    ZT_DWORD type = 99;
    size = 4;
    EXPECT_EQ(ZT_RegQueryValue(key, L"Missing", &type, &small, &size), ZT_ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(type, 99u);
    EXPECT_EQ(ZT_RegQueryValue(key, L"Value", nullptr, &small, nullptr),
              ZT_ERROR_INVALID_PARAMETER);
    ZT_RegCloseKey(key);
}

}  // namespace
