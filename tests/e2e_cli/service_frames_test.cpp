// Frames the client library would never build, sent to the simulated service
// modules as raw module messages: unknown functions and engines, truncated
// frames, trailing bytes and counts that claim more than the frame holds.
// Each gets its documented negative code, and the server goes on serving
// (the fixture also requires a clean stop).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e_cli/service_fixture.h"

namespace e2ecli {
namespace {

using ServiceFrames = ServiceTest;

TEST_F(ServiceFrames, UnknownFunctionsAndEnginesAreRefused) {
    struct Case {
        const char* module;
        std::string frame;
        int32_t expected;
    } cases[] = {
        {"KExt_NLPE", RawFrame(0, "NLPE_Nothing").bytes(), kModFunction},
        {"KExt_NLPE", RawFrame(9, "NLPE_WordSect").bytes(), kModFunction},      // no engine 9
        {"KExt_NLPE", RawFrame(1, "NLPE_DictLoad").bytes(), kModFunction},      // engine 0's function
        {"KExt_NLPE", RawFrame(-1, "TOP_Init").bytes(), kModFunction},
        {"KExt_STM", RawFrame("STM_Nothing").bytes(), kModFunction},
        {"KExt_STM", RawFrame(0, "STM_Initialize").bytes(), kModFrame},         // a selector where none belongs
        {"KExt_ARA", RawFrame("ARA_Nothing").bytes(), kModFunction},
        {"KExt_KWFS", RawFrame("KWFS_Nothing").bytes(), kModFunction},
        {"KExt_STM", std::string(), kModFrame},
        {"KExt_STM", std::string("r!", 2), kModFrame},
        {"KExt_STM", std::string("r?\0STM_Initialize\0", 18), kModFrame},
        {"KExt_STM", std::string("r!\0\0", 4), kModFrame},                      // empty name
        {"KExt_NLPE", std::string("\0\0\0", 3), kModFrame},                     // selector cut short
    };
    for (const Case& c : cases)
        EXPECT_EQ(send_raw(conn_, c.module, c.frame), c.expected) << c.module << " frame of " << c.frame.size();
    EXPECT_EQ(send_raw(conn_, "KExt_STM", RawFrame("STM_Initialize").bytes()), 0) << "the module still answers";
}

// Every strict prefix of a well-formed frame, and the frame with one byte
// more, is refused as malformed; the whole frame is answered. (Functions
// whose null strings are left out of the frame are not in the table: a
// prefix of theirs can be the well-formed frame of a call with fewer
// strings.)
TEST_F(ServiceFrames, TruncatedAndOverlongFramesAreMalformed) {
    struct Case {
        const char* module;
        std::string frame;
    } cases[] = {
        {"KExt_NLPE", RawFrame(0, "NLPE_WordSect").str("a b").i32(4).i32(0).i32(0).i32(0).u8(0).u8(0).u8(1).bytes()},
        {"KExt_NLPE", RawFrame(1, "AR_Search").str("red").i32(16).i32(16).bytes()},
        {"KExt_NLPE", RawFrame(2, "EZTC_GetTxtClassify")
                          .i32(0).i32(0).str("data").str("").str("").str("").str("").str("").i32(0).i32(32).u8(0)
                          .bytes()},
        {"KExt_STM", RawFrame("STM_InfoFilter_Do").i32(1).i32(1).i32(9).i32(3).raw("cat").u8(0).bytes()},
        {"KExt_STM", RawFrame("STM_TextClassifier_Do")
                         .i32(1).i32(0).i32(0).u8(0).i32(64).i32(1).i32(5).i32(4).raw("bank").u8(0).bytes()},
        {"KExt_STM", RawFrame("Similarity_Analyst").str("a b").str("a c").bytes()},
    };
    for (const Case& c : cases) {
        const int32_t whole = send_raw(conn_, c.module, c.frame);
        EXPECT_NE(whole, kModFrame) << c.module << ": the well-formed frame";
        for (std::size_t n = 0; n < c.frame.size(); ++n)
            EXPECT_EQ(send_raw(conn_, c.module, c.frame.substr(0, n)), kModFrame)
                << c.module << ": prefix of " << n << " of " << c.frame.size() << " bytes";
        EXPECT_EQ(send_raw(conn_, c.module, c.frame + "x"), kModFrame) << c.module << ": one byte more";
    }
}

// Counts and lengths larger than the frame are refused before anything is
// read or allocated for them.
TEST_F(ServiceFrames, CountsBeyondTheFrameAreMalformed) {
    struct Case {
        const char* module;
        std::string frame;
    } cases[] = {
        {"KExt_STM", RawFrame("STM_InfoFilter_Do").i32(1).i32(0x7fffffff).bytes()},
        {"KExt_STM", RawFrame("STM_InfoFilter_Do").i32(1).i32(1).i32(9).i32(0x7fffffff).raw("cat").u8(0).bytes()},
        {"KExt_STM", RawFrame("STM_InfoFilter_Do").i32(1).i32(1).i32(9).i32(-5).raw("cat").u8(0).bytes()},
        {"KExt_STM", RawFrame("STM_InfoFilter_Do").i32(1).i32(1).i32(9).i32(3).raw("catX").bytes()},  // no NUL after
        {"KExt_KWFS", RawFrame("KWFS_Frequency").i32(0x40000000).str("a").i32(1).str("").i32(0).i32(0).bytes()},
        {"KExt_KWFS", RawFrame("KWFS_Frequency").i32(-1).i32(0).i32(0).bytes()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(send_raw(conn_, c.module, c.frame), kModFrame) << c.module << " frame of " << c.frame.size();
}

// A module answers within the capacity the client offers: a segmentation
// frame that asks for more entries than the answer buffer holds gets only
// what fits.
TEST_F(ServiceFrames, AnswersFitTheOfferedCapacity) {
    const std::string frame =
        RawFrame(0, "NLPE_WordSect").str("a b c d e f g h").i32(1000).i32(0).i32(0).i32(0).u8(0).u8(0).u8(0).bytes();
    std::string answer(16, '\0');
    int32_t len = 16;
    // 16 bytes < 128: the exchange offers 128; the module fits 31 offsets,
    // the text has 8 words.
    ASSERT_EQ(ORQExt_SendMessage(conn_, "KExt_NLPE", nullptr, frame.data(), static_cast<int32_t>(frame.size()),
                                 &answer[0], &len),
              -1107);
    EXPECT_EQ(len, 4 + 8 * 4);
    std::string words;
    for (int i = 0; i < 100; ++i) words += "w ";
    const std::string many =
        RawFrame(0, "NLPE_WordSect").str(words).i32(1000).i32(0).i32(0).i32(0).u8(0).u8(0).u8(0).bytes();
    std::string big(200, '\0');
    len = 200;
    ASSERT_EQ(ORQExt_SendMessage(conn_, "KExt_NLPE", nullptr, many.data(), static_cast<int32_t>(many.size()),
                                 &big[0], &len),
              0);
    EXPECT_EQ(len, 4 + 49 * 4) << "(200 - 4) / 4 offsets fit";
}

// An association call pairs every term of one text with every term of the
// other, under the module's lock: two texts of a thousand distinct words
// each would make a million pairs in one call, and a few more thousand words
// would hold the module (and the server's memory) for good. A call beyond
// the limit of pair updates is refused and leaves the run as it was.
TEST_F(ServiceFrames, AssociationCallBeyondThePairLimitIsRefused) {
    std::string a, b;
    for (int i = 0; i < 1100; ++i) a += "a" + std::to_string(i) + " ";
    for (int i = 0; i < 1000; ++i) b += "b" + std::to_string(i) + " ";
    ASSERT_EQ(ORQExt_ARA_Stat_AssociatedFreq_Begin(conn_, "big"), 0);
    // 1100 x 2 pairs and (flag 1) their reverse: within the limit.
    EXPECT_EQ(ORQExt_ARA_Stat_AssociatedFreq(conn_, a.c_str(), "x y", 1, 1), 4400);
    EXPECT_EQ(ORQExt_ARA_Stat_AssociatedFreq(conn_, a.c_str(), b.c_str(), 1, 0), kModValue);
    EXPECT_EQ(ORQExt_ARA_Stat_AssociatedFreq_End(conn_), 4400) << "the refused call counted nothing";
}

}  // namespace
}  // namespace e2ecli
