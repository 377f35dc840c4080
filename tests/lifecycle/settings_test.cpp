// The ClusterEnable setting as the loaded library reads it: each case writes
// orqclient.ini (or none) in the working directory, loads the built library
// and asks ORQExt_IsClusterEnable about a handle it has never seen.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "xsr/double/xsr_double.h"

namespace {

using IsClusterEnableFn = uint8_t (*)(int32_t);
using ConnectFn = int32_t (*)(const char*, int32_t, const char*, const char*, int32_t*);

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        xsrdouble::reset();
        char tmpl[] = "/tmp/orqsettingsXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        old_cwd_ = cwd;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        unload();
        std::remove(ini().c_str());
        (void)chdir(old_cwd_.c_str());
        rmdir(dir_.c_str());
    }
    std::string ini() const { return dir_ + "/orqclient.ini"; }
    void write_ini(const std::string& text) { std::ofstream(ini(), std::ios::binary) << text; }

    // Loads the library afresh (the setting is read at load only) and returns
    // what it says for an unseen handle.
    bool load_and_ask() {
        lib_ = dlopen(ORQ_LIB_PATH, RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(lib_, nullptr) << dlerror();
        if (!lib_) return false;
        auto is_on = reinterpret_cast<IsClusterEnableFn>(dlsym(lib_, "ORQExt_IsClusterEnable"));
        EXPECT_NE(is_on, nullptr);
        return is_on && is_on(4242) != 0;
    }
    void unload() {
        if (!lib_) return;
        ASSERT_EQ(dlclose(lib_), 0);
        lib_ = nullptr;
        void* still = dlopen(ORQ_LIB_PATH, RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(still, nullptr) << "library stayed mapped: the next load would not read the file";
        if (still) dlclose(still);
    }

    void* lib_ = nullptr;
    std::string dir_, old_cwd_;
};

TEST_F(SettingsFileTest, OnlyTrueInAnyLetterCaseTurnsClusteringOn) {
    struct Case {
        const char* what;
        const char* file;  // nullptr: no settings file
        bool on;
    };
    const Case cases[] = {
        {"True", "[OrqExtClient]\nClusterEnable=True\n", true},
        {"TRUE", "[OrqExtClient]\r\nClusterEnable=TRUE\r\n", true},
        {"true", "[OrqExtClient]\nClusterEnable=true\n", true},
        {"1", "[OrqExtClient]\nClusterEnable=1\n", false},
        {"yes", "[OrqExtClient]\nClusterEnable=yes\n", false},
        {"quoted with a blank", "[OrqExtClient]\nClusterEnable=\" true\"\n", false},
        {"no file", nullptr, false},
        {"no section", "[Other]\nClusterEnable=true\n", false},
        {"no key", "[OrqExtClient]\nOther=true\n", false},
        {"over 19 characters", "[OrqExtClient]\nClusterEnable=trueeeeeeeeeeeeeeeeeeeee\n", false},
    };
    for (const Case& k : cases) {
        std::remove(ini().c_str());
        if (k.file) write_ini(k.file);
        EXPECT_EQ(load_and_ask(), k.on) << k.what;
        unload();
    }
}

TEST_F(SettingsFileTest, SettingOnRefreshesEveryNewConnection) {
    write_ini("[OrqExtClient]\nClusterEnable=true\n");
    ASSERT_TRUE(load_and_ask());
    xsrdouble::push(xsrdouble::fail(-31));
    auto connect = reinterpret_cast<ConnectFn>(dlsym(lib_, "ORQExt_Connect"));
    ASSERT_NE(connect, nullptr);
    int32_t status = 0;
    const int32_t h = connect("s", 1, "u", "p", &status);
    EXPECT_NE(h, 0) << "the connection stays open and registered";
    EXPECT_EQ(status, -31) << "the open operation returns the refresh's result";
    auto cs = xsrdouble::calls_of(xsrdouble::Fn::Command);
    ASSERT_EQ(cs.size(), 1u);
    EXPECT_EQ(cs[0].code(), 13);
    EXPECT_EQ(cs[0].handle, h);
}

}  // namespace
