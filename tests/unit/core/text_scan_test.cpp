// Measuring a NUL-terminated text, and measuring it while copying it: the
// block-wise scans of SSE2 builds (text_length, copy_text) and the word-wise
// ones of builds without SSE2 (text_length_words, copy_text_words, tested
// here on every build). Texts end right before an unreadable page, so a read
// past the aligned block or word that holds the NUL faults; the destination
// has guard bytes past the room it was given. The sanitized builds run the
// same scans (core/text_scan.h), so AddressSanitizer watches every other
// byte they touch.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/text_scan.h"
#include "tests/support/guarded_page.h"

namespace {

using Scan = bool (*)(unsigned char*, const char*, std::size_t, std::size_t*);

struct Scanner {
    const char* what;
    Scan scan;
    // The least room with which the scan must succeed for a text of n bytes
    // (the block-wise one may give up near the end of its room).
    std::size_t (*sure_room)(std::size_t n);
};

const Scanner kScanners[] = {
    {"copy_text", orq::copy_text, [](std::size_t n) { return n + 17; }},
    {"copy_text_words", orq::copy_text_words, [](std::size_t n) { return n + 1; }},
};

std::string text_of(std::size_t n) {
    std::string s(n, ' ');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
    return s;
}

TEST(TextScanTest, TextsEndingAtAnUnreadablePageAreMeasuredAndCopiedExactly) {
    testing_support::GuardedPage page;
    ASSERT_TRUE(page.ok());
    constexpr unsigned char kGuard = 0xA5;
    for (const Scanner& sc : kScanners) {
        // Lengths 0 to 200 put the NUL (the page's last byte) behind every
        // alignment of the text's start, within the blocks the scan reads
        // itself and past them, where it hands a long text to the library.
        for (std::size_t n = 0; n <= 200; ++n) {
            const std::string text = text_of(n);
            const char* s = page.at_end(text + std::string(1, '\0'));
            for (const std::size_t room : {std::size_t{0}, n, n + 1, n + 2, n + 16, n + 17, n + 40,
                                           std::size_t{4096}}) {
                SCOPED_TRACE(testing::Message() << sc.what << ", text of " << n << " bytes, room "
                                                << room);
                std::vector<unsigned char> to(room + 32, kGuard);
                std::size_t got = 12345;
                const bool ok = sc.scan(to.data(), s, room, &got);
                if (room <= n) {
                    EXPECT_FALSE(ok) << "a text of room bytes or more does not fit";
                } else if (room >= sc.sure_room(n)) {
                    EXPECT_TRUE(ok);
                }
                if (ok) {
                    EXPECT_EQ(got, n);
                    EXPECT_EQ(std::string(reinterpret_cast<const char*>(to.data()), n), text);
                }
                for (std::size_t i = room; i < to.size(); ++i)
                    ASSERT_EQ(to[i], kGuard) << "written past the room at " << i;
            }
        }
    }
}

// Long texts whose NUL is far from their start and texts with a NUL at
// every position of a word or block, in ordinary memory.
TEST(TextScanTest, TheFirstNulEndsTheTextWhereverItIs) {
    for (const Scanner& sc : kScanners) {
        for (std::size_t start = 0; start < 16; ++start) {
            for (const std::size_t n : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 33u, 100u, 1000u}) {
                SCOPED_TRACE(testing::Message() << sc.what << ", start " << start << ", text of "
                                                << n << " bytes");
                std::string storage(start, '#');
                storage += text_of(n);
                storage += std::string(1, '\0') + "tail after the NUL";
                std::vector<unsigned char> to(2048, 0);
                std::size_t got = 0;
                ASSERT_TRUE(sc.scan(to.data(), storage.c_str() + start, to.size(), &got));
                EXPECT_EQ(got, n);
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(to.data()), n), text_of(n));
            }
        }
    }
}

// copy_short_text copies what copy_text copies of a short text, with the
// same reads and writes, and leaves a long one to its caller: with SSE2 a
// text longer than its blocks reach is not copied, whatever the room (the
// word-wise build copies it; either way the caller measures what is left).
#if defined(ORQ_TEXT_SCAN_SSE2)
constexpr bool kBlockWise = true;
#else
constexpr bool kBlockWise = false;
#endif

TEST(TextScanTest, ShortTextCopyTakesShortTextsAndLeavesLongOnes) {
    testing_support::GuardedPage page;
    ASSERT_TRUE(page.ok());
    constexpr unsigned char kGuard = 0xA5;
    for (std::size_t n = 0; n <= 200; ++n) {
        const std::string text = text_of(n);
        const char* s = page.at_end(text + std::string(1, '\0'));
        for (const std::size_t room : {n, n + 17, std::size_t{4096}}) {
            SCOPED_TRACE(testing::Message() << "text of " << n << " bytes, room " << room);
            std::vector<unsigned char> to(room + 32, kGuard), whole(room + 32, kGuard);
            std::size_t got = 12345, whole_got = 12345;
            const bool ok = orq::copy_short_text(to.data(), s, room, &got);
            const bool whole_ok = orq::copy_text(whole.data(), s, room, &whole_got);
            if (n <= 112) {
                EXPECT_EQ(ok, whole_ok);
            } else if (kBlockWise && n > 128) {
                EXPECT_FALSE(ok) << "a long text is left to the caller";
            }
            if (ok) {
                EXPECT_TRUE(whole_ok);
                EXPECT_EQ(got, n);
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(to.data()), n), text);
            }
            for (std::size_t i = room; i < to.size(); ++i)
                ASSERT_EQ(to[i], kGuard) << "written past the room at " << i;
        }
    }
}

// copy_text_in_block takes a text whose NUL lies in the aligned block of its
// start, writes within the 15 bytes in front of `to` and the 16 from it, and
// reads nothing past that block (texts end at an unreadable page).
TEST(TextScanTest, TextInItsFirstBlockIsStoredAsTheBlock) {
    testing_support::GuardedPage page;
    ASSERT_TRUE(page.ok());
    constexpr unsigned char kGuard = 0xA5;
    for (std::size_t n = 0; n <= 40; ++n) {
        SCOPED_TRACE(testing::Message() << "text of " << n << " bytes");
        const std::string text = text_of(n);
        const char* s = page.at_end(text + std::string(1, '\0'));
        std::vector<unsigned char> to(64, kGuard);
        unsigned char* const at = to.data() + 24;
        std::size_t got = 12345;
        const bool ok = orq::copy_text_in_block(at, s, &got);
        const bool in_block = (reinterpret_cast<std::uintptr_t>(s) & 15) + n < 16;
        EXPECT_EQ(ok, kBlockWise && in_block);
        if (ok) {
            EXPECT_EQ(got, n);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(at), n), text);
            EXPECT_EQ(at[n], 0);
        }
        for (std::size_t i = 0; i < to.size(); ++i) {
            if (ok && i + 15 >= 24 && i < 24 + 16) continue;
            ASSERT_EQ(to[i], kGuard) << "written outside its bytes at " << i;
        }
    }
}

using Length = std::size_t (*)(const char*);
const std::pair<const char*, Length> kLengths[] = {
    {"text_length", orq::text_length},
    {"text_length_words", orq::text_length_words},
};

TEST(TextScanTest, LengthsOfTextsEndingAtAnUnreadablePage) {
    testing_support::GuardedPage page;
    ASSERT_TRUE(page.ok());
    for (const auto& [what, length] : kLengths) {
        for (std::size_t n = 0; n <= 200; ++n) {  // within the blocks scanned here and past them
            SCOPED_TRACE(testing::Message() << what << ", text of " << n << " bytes");
            EXPECT_EQ(length(page.at_end(text_of(n) + std::string(1, '\0'))), n);
        }
    }
}

TEST(TextScanTest, LengthsEndAtTheFirstNul) {
    for (const auto& [what, length] : kLengths) {
        for (std::size_t start = 0; start < 16; ++start) {
            for (const std::size_t n : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 33u, 100u, 1000u}) {
                SCOPED_TRACE(testing::Message() << what << ", start " << start << ", text of " << n
                                                << " bytes");
                std::string storage(start, '#');
                storage += text_of(n);
                storage += std::string(1, '\0') + "tail after the NUL";
                EXPECT_EQ(length(storage.c_str() + start), n);
            }
        }
    }
}

}  // namespace
