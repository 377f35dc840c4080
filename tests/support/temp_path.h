// Paths in the temporary folder that belong to this test run alone: the
// current test's name and this process's id, so that runs of several builds
// at once (the 32-bit build under emulation beside the native one, or
// several checkouts on one machine) never write, read or remove each
// other's files.
#pragma once

#include <gtest/gtest.h>

#include <string>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace testing_support {

inline std::string temp_path(const std::string& prefix, const std::string& name) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
#if defined(_WIN32)
    const int pid = _getpid();
#else
    const int pid = static_cast<int>(getpid());
#endif
    return ::testing::TempDir() + prefix + std::to_string(pid) + "_" +
           (info ? std::string(info->name()) : std::string("x")) + "_" + name;
}

}  // namespace testing_support
