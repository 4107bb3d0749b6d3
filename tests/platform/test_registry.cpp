#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "temp_dir.hpp"
#include "vtregistry.h"

namespace {

using vttest::ScopedEnv;
using vttest::TempDir;

const char *kKey = "Software\\Vendor\\BackupRestore";

LONG SetSz(HKEY k, const char *name, const std::string &v) {
    return RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const uint8_t *>(v.c_str()),
                          static_cast<DWORD>(v.size() + 1));
}
LONG SetDword(HKEY k, const char *name, DWORD v) {
    return RegSetValueExA(k, name, 0, REG_DWORD, reinterpret_cast<const uint8_t *>(&v), 4);
}
std::string GetSz(HKEY k, const char *name, LONG *rc = nullptr) {
    char buf[512] = {};
    DWORD size = sizeof buf, type = 0;
    LONG r = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<uint8_t *>(buf), &size);
    if (rc) *rc = r;
    return r == 0 && type == REG_SZ ? std::string(buf) : std::string("<missing>");
}

class Registry : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv env{"VTBOX_REGISTRY_DIR", dir.path()};
};

TEST_F(Registry, ValuesSurviveReopenWithTheirTypes) {
    HKEY k;
    DWORD disp = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, &disp), 0);
    EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
    std::string tricky = "C:\\path \"quoted\"\nnext line\tand \xc3\xa9";
    EXPECT_EQ(SetSz(k, "Address", tricky), 0);
    EXPECT_EQ(SetDword(k, "FtpLog", 3), 0);
    RegCloseKey(k);

    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k), 0);
    EXPECT_EQ(GetSz(k, "address"), tricky);  // names ignore case
    DWORD v = 0, size = 4, type = 0;
    ASSERT_EQ(RegQueryValueExA(k, "FtpLog", nullptr, &type, reinterpret_cast<uint8_t *>(&v), &size), 0);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(v, 3u);
    RegCloseKey(k);

    // The other root is a separate store.
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, kKey, 0, KEY_READ, &k), 2);
}

TEST_F(Registry, MissingKeysAndValuesReadAsMissing) {
    HKEY k;
    {
        // Reading a store never written makes nothing, not even its folder.
        ScopedEnv unmade{"VTBOX_REGISTRY_DIR", dir.path() + "/not/made"};
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k), 2);
        EXPECT_FALSE(std::filesystem::exists(dir.path() + "/not"));
    }
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nobody", 0, KEY_READ, &k), 2);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, 0, nullptr, &k, nullptr), 0);
    LONG rc = 0;
    GetSz(k, "NotThere", &rc);
    EXPECT_EQ(rc, 2);
    EXPECT_EQ(RegDeleteValueA(k, "NotThere"), 2);
    EXPECT_EQ(SetSz(k, "Gone", "x"), 0);
    EXPECT_EQ(RegDeleteValueA(k, "Gone"), 0);
    GetSz(k, "Gone", &rc);
    EXPECT_EQ(rc, 2);
    RegCloseKey(k);
}

// A store or lock file that is a FIFO, a link or larger than any store is
// refused at once with 13: never waited on, never written over.
TEST_F(Registry, AStoreThatIsNoRegularFileIsRefusedNotWaitedOn) {
    namespace fs = std::filesystem;
    const std::string store = dir.path() + "/HKEY_CURRENT_USER.reg", lock = store + ".lock";
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, 0, nullptr, &k, nullptr), 0);
    ASSERT_EQ(SetSz(k, "Address", "10.0.0.5"), 0);
    fs::rename(store, store + ".kept");

    ASSERT_EQ(mkfifo(store.c_str(), 0600), 0);
    EXPECT_EQ(GetSz(k, "Address"), "<missing>");
    EXPECT_EQ(SetSz(k, "Address", "x"), 13);
    EXPECT_TRUE(fs::is_fifo(store));
    fs::remove(store);

    fs::create_symlink(store + ".kept", store);
    EXPECT_NE(SetSz(k, "Address", "x"), 0);
    EXPECT_TRUE(fs::is_symlink(store));
    fs::remove(store);

    std::ofstream(store) << "# vtbox registry";
    fs::resize_file(store, (4u << 20) + 1);  // sparse: one byte past the bound
    EXPECT_EQ(SetSz(k, "Address", "x"), 13);
    EXPECT_EQ(fs::file_size(store), (4u << 20) + 1);
    fs::resize_file(store, 4u << 20);  // at the bound: read (NUL bytes, no keys)
    EXPECT_EQ(SetSz(k, "Address", "x"), 2);
    fs::remove(store);

    fs::rename(store + ".kept", store);
    fs::remove(lock);
    ASSERT_EQ(mkfifo(lock.c_str(), 0600), 0);
    EXPECT_EQ(SetSz(k, "Address", "x"), 13);
    fs::remove(lock);
    EXPECT_EQ(GetSz(k, "Address"), "10.0.0.5");
    RegCloseKey(k);
}

TEST_F(Registry, SmallBufferReportsTheSizeNeeded) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, 0, nullptr, &k, nullptr), 0);
    SetSz(k, "Name", "twelve chars");
    char small[4];
    DWORD size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(k, "Name", nullptr, nullptr, reinterpret_cast<uint8_t *>(small), &size), 234);
    EXPECT_EQ(size, 13u);
    size = 0;
    EXPECT_EQ(RegQueryValueExA(k, "Name", nullptr, nullptr, nullptr, &size), 0);
    EXPECT_EQ(size, 13u);
    RegCloseKey(k);
}

TEST_F(Registry, DeleteTreeAndEnumerateSubkeys) {
    HKEY k;
    for (const char *sub : {"CLSID\\{A}\\InprocServer32", "CLSID\\{B}", "Other"}) {
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, sub, 0, nullptr, 0, 0, nullptr, &k, nullptr), 0);
        RegCloseKey(k);
    }
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &k), 0);
    char name[64];
    ASSERT_EQ(RegEnumKeyA(k, 0, name, sizeof name), 0);
    EXPECT_STREQ(name, "{A}");
    ASSERT_EQ(RegEnumKeyA(k, 1, name, sizeof name), 0);
    EXPECT_STREQ(name, "{B}");
    EXPECT_EQ(RegEnumKeyA(k, 2, name, sizeof name), 259);
    EXPECT_EQ(RegDeleteTreeA(k, "{A}"), 0);
    ASSERT_EQ(RegEnumKeyA(k, 0, name, sizeof name), 0);
    EXPECT_STREQ(name, "{B}");
    RegCloseKey(k);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{A}\\InprocServer32", 0, KEY_READ, &k), 2);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Other", 0, KEY_READ, &k), 0);
    RegCloseKey(k);
}

TEST_F(Registry, TwoProcessesWritingAtOnceLoseNothing) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, 0, nullptr, &k, nullptr), 0);
    RegCloseKey(k);
    constexpr int kWrites = 60;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            HKEY ck;
            int bad = RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, 0, &ck) != 0;
            for (int i = 0; i < kWrites && !bad; ++i) {
                std::string name = std::string(c == 0 ? "a" : "b") + std::to_string(i);
                bad |= SetDword(ck, name.c_str(), static_cast<DWORD>(i)) != 0;
            }
            _exit(bad);
        }
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k), 0);
    for (const char *prefix : {"a", "b"})
        for (int i = 0; i < kWrites; ++i) {
            std::string name = prefix + std::to_string(i);
            DWORD v = 999, size = 4;
            ASSERT_EQ(RegQueryValueExA(k, name.c_str(), nullptr, nullptr, reinterpret_cast<uint8_t *>(&v), &size), 0)
                << name;
            EXPECT_EQ(v, static_cast<DWORD>(i));
        }
    RegCloseKey(k);
}

}  // namespace
