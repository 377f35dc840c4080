// The library's own Result codes, for use inside the library.
#pragma once

#include <cstdint>

namespace orq {

constexpr int32_t kOk = 0;
constexpr int32_t kBadArgument = -1100;
constexpr int32_t kAnswerTooLong = -1107;
constexpr int32_t kTimeout = -1112;
constexpr int32_t kTimeoutCancelled = -1113;
constexpr int32_t kNoNode = -1203;
constexpr int32_t kBadStatement = -3502;
constexpr int32_t kNoConnection = -4100;
constexpr int32_t kNoCallback = -4120;
constexpr int32_t kNoRequest = -4122;
constexpr int32_t kNoRecord = -4127;
constexpr int32_t kNoCluster = -4128;

}  // namespace orq
