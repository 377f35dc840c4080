// Common fixture: a freshly loaded library state and an empty XSRClient double.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/lifecycle.h"
#include "core/registry.h"
#include "exports/orqext.h"
#include "xsr/double/xsr_double.h"

namespace testing_support {

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        orq::lifecycle::unload();
        xsrdouble::reset();
        orq::lifecycle::load();
        orq::settings::set_cluster_enable(false);
    }
    void TearDown() override { xsrdouble::set_handler(nullptr); }

    // Opens a connection through the library and forgets the recorded calls.
    int32_t connect() {
        int32_t status = 1;
        int32_t h = ORQExt_Connect("srv", 7300, "user", "pw", &status);
        EXPECT_EQ(status, 0);
        return h;
    }
};

inline std::string bytes(const char* s, std::size_t n) { return std::string(s, n); }

}  // namespace testing_support
