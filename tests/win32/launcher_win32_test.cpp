// The launcher's Windows pieces against Wine's real registry and process start.
#include "about/about.h"
#include "fake_ui.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace larkmoor {
namespace {

const char* const kTestKey = "SOFTWARE\\Larkmoor Tests";

// The real registry; each query first tries to write through the key the launcher opened.
class WriteTryingRegistry : public Registry {
  public:
    long OpenKey(RegistryKey root, const std::string& subKey, std::uint32_t access,
                 RegistryKey& key) override {
        return real_->OpenKey(root, subKey, access, key);
    }
    long QueryValue(RegistryKey key, const std::string& name, std::uint32_t& type,
                    unsigned char* data, std::uint32_t& size) override {
        writes.push_back(RegSetValueExA(reinterpret_cast<HKEY>(key), "written", 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(""), 1));
        return real_->QueryValue(key, name, type, data, size);
    }
    long CloseKey(RegistryKey key) override { return real_->CloseKey(key); }
    std::string ExpandEnvironment(const std::string& text) override {
        return real_->ExpandEnvironment(text);
    }
    std::vector<long> writes;

  private:
    std::unique_ptr<Registry> real_ = MakeSystemRegistry();
};

class RealRegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(key_);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kTestKey);
    }
    void Put(const char* name, DWORD type, const std::string& data) {
        ASSERT_EQ(RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }

    HKEY key_ = nullptr;
    WriteTryingRegistry registry_;
    std::unique_ptr<Programs> programs_ = MakeSystemPrograms();
    fakes::FakeWindowSystem windows_;
    FrmAbout about_{windows_, registry_, *programs_};
};

TEST_F(RealRegistryTest, ValuesWrittenToTheRegistryReadBackAsText) {
    char windowsFolder[MAX_PATH] = {};
    GetEnvironmentVariableA("SystemRoot", windowsFolder, MAX_PATH);
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
        bool result;
        std::string text;
    };
    const Case cases[] = {
        {"terminated", REG_SZ, std::string("C:\\a b\\x.exe\0", 13), true, "C:\\a b\\x.exe"},
        {"expandable", REG_EXPAND_SZ, std::string("%SystemRoot%\\x.exe\0", 19), true,
         std::string(windowsFolder) + "\\x.exe"},
        {"number", REG_DWORD, std::string("\x78\x56\x34\x12", 4), true, "&h12345678"},
        {"too large", REG_SZ, std::string(1500, 'z'), false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Put(c.name, c.type, c.data);
        std::string text = "stale";
        EXPECT_EQ(about_.GetKeyValue(kHkeyLocalMachine, kTestKey, c.name, text), c.result);
        EXPECT_EQ(text, c.text);
    }
    // The launcher only reads: a write through the key it opened is refused.
    EXPECT_EQ(registry_.writes, std::vector<long>(4, ERROR_ACCESS_DENIED));
    std::string text;
    EXPECT_FALSE(about_.GetKeyValue(kHkeyLocalMachine, kTestKey, "missing", text));
    EXPECT_FALSE(about_.GetKeyValue(kHkeyLocalMachine, "SOFTWARE\\Larkmoor Missing", "x", text));
}

TEST_F(RealRegistryTest, NormalFilesAreThoseNeitherFoldersNorHiddenNorSystem) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string file = std::string(temp) + "larkmoor normal.txt";
    CloseHandle(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(programs_->NormalFileExists(file));
    EXPECT_FALSE(programs_->NormalFileExists(temp));
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(programs_->NormalFileExists(file));
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_SYSTEM);
    EXPECT_FALSE(programs_->NormalFileExists(file));
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(file.c_str());
    EXPECT_FALSE(programs_->NormalFileExists(file));
    EXPECT_FALSE(programs_->Start(""));
    EXPECT_FALSE(programs_->Start(file));
}

} // namespace
} // namespace larkmoor
