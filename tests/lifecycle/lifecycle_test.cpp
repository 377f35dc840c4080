// Loads and unloads the built library with dlopen/dlclose, with different
// settings files in the working directory.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "xsr/double/xsr_double.h"

using namespace xsrdouble;

namespace {

class LifecycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset();
        char tmpl[] = "/tmp/orqlifeXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        old_cwd_ = cwd;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        if (lib_) dlclose(lib_);
        std::remove((dir_ + "/orqclient.ini").c_str());
        (void)chdir(old_cwd_.c_str());
        rmdir(dir_.c_str());
    }
    void write_ini(const std::string& text) { std::ofstream(dir_ + "/orqclient.ini") << text; }
    void load() {
        lib_ = dlopen(ORQ_LIB_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib_, nullptr) << dlerror();
    }
    void unload_and_check_gone() {
        ASSERT_EQ(dlclose(lib_), 0);
        lib_ = nullptr;
        void* still = dlopen(ORQ_LIB_PATH, RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(still, nullptr) << "library stayed mapped after dlclose";
        if (still) dlclose(still);
    }
    template <class F>
    F fn(const char* name) {
        void* p = dlsym(lib_, name);
        EXPECT_NE(p, nullptr) << name;
        return reinterpret_cast<F>(p);
    }

    void* lib_ = nullptr;
    std::string dir_, old_cwd_;
};

using ConnectFn = int32_t (*)(const char*, int32_t, const char*, const char*, int32_t*);
using DisconnectFn = int32_t (*)(int32_t);

TEST_F(LifecycleTest, LoadDoesNothingVisibleAndUnloadUnmaps) {
    load();
    EXPECT_EQ(calls().size(), 0u) << "no connection is opened at load";
    unload_and_check_gone();
    EXPECT_EQ(calls().size(), 0u);
}

TEST_F(LifecycleTest, UnloadClosesEachOwnConnectionOnce) {
    load();
    auto connect = fn<ConnectFn>("ORQExt_Connect");
    auto disconnect = fn<DisconnectFn>("ORQExt_DisConnect");
    int32_t st = 0;
    int32_t a = connect("s", 1, "u", "p", &st);
    int32_t b = connect("s", 1, "u", "p", &st);
    int32_t c = connect("s", 1, "u", "p", &st);
    EXPECT_EQ(disconnect(b), 0);
    unload_and_check_gone();
    auto closes = calls_of(Fn::Close);
    ASSERT_EQ(closes.size(), 3u);
    EXPECT_EQ(closes[0].handle, b);
    EXPECT_EQ(closes[1].handle, a);
    EXPECT_EQ(closes[2].handle, c);
    EXPECT_TRUE(open_handles().empty());
}

TEST_F(LifecycleTest, ReloadStartsWithAnEmptyRegistry) {
    load();
    int32_t st = 0;
    int32_t a = fn<ConnectFn>("ORQExt_Connect")("s", 1, "u", "p", &st);
    unload_and_check_gone();
    load();
    EXPECT_EQ(fn<DisconnectFn>("ORQExt_DisConnect")(a), -4100);
}

}  // namespace
