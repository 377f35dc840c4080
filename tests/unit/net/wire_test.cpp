// The wire codec shared by the networked XSRClient and xsr-sim: round trips
// of every frame kind, and rejection of malformed frames without reading
// past the bytes given.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "xsr/proto/wire.h"

using namespace xsrproto;

namespace {

using Bytes = std::vector<unsigned char>;

// A whole command frame as the client sends it (lead, body, body2 length, body2).
Bytes command_frame(uint32_t rid, const CommandHeader& h, int32_t capacity, const Ticket& part,
                    const std::string& body, const std::string& body2) {
    unsigned char header[kHeaderSize];
    encode_header(header, h);
    Bytes f(kCommandLead);
    EXPECT_TRUE(encode_command_lead(f.data(), rid, header, capacity, part, body.size(), body2.size()));
    f.insert(f.end(), body.begin(), body.end());
    unsigned char mid[4];
    put_u32(mid, static_cast<uint32_t>(body2.size()));
    f.insert(f.end(), mid, mid + 4);
    f.insert(f.end(), body2.begin(), body2.end());
    return f;
}

// The bytes after prefix and head of a frame built above.
const unsigned char* fields(const Bytes& f) { return f.data() + kPrefixSize + kHeadSize; }
std::size_t fields_len(const Bytes& f) { return f.size() - kPrefixSize - kHeadSize; }

TEST(WireTest, CommandRoundTripKeepsEveryField) {
    const CommandHeader h{9, kHeaderConstant, -1, 4096, -1};
    const std::string body("use ext M cmd reg\0x", 19);
    const std::string body2 = "payload";
    const Bytes f = command_frame(77, h, 4096, Ticket{5, 6}, body, body2);

    EXPECT_EQ(get_u32(f.data()), f.size() - kPrefixSize) << "the prefix counts everything after it";
    Head head;
    ASSERT_EQ(decode_head(f.data() + kPrefixSize, f.size() - kPrefixSize, &head), HeadStatus::Ok);
    EXPECT_EQ(head.kind, kCommand);
    EXPECT_EQ(head.request_id, 77u);

    CommandView v;
    ASSERT_TRUE(decode_command(fields(f), fields_len(f), &v));
    EXPECT_EQ(v.header.code, 9);
    EXPECT_EQ(v.header.constant, kHeaderConstant);
    EXPECT_EQ(v.header.a, -1);
    EXPECT_EQ(v.header.b, 4096);
    EXPECT_EQ(v.header.c, -1);
    EXPECT_EQ(v.capacity, 4096);
    EXPECT_TRUE(v.part_ticket == (Ticket{5, 6}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.body), v.body_len), body);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.body2), v.body2_len), body2);
}

TEST(WireTest, CommandWithEmptyBodiesDecodes) {
    const Bytes f = command_frame(1, CommandHeader{8, kHeaderConstant, -1, 128, -1}, 128, Ticket{}, "", "");
    CommandView v;
    ASSERT_TRUE(decode_command(fields(f), fields_len(f), &v));
    EXPECT_EQ(v.body_len, 0u);
    EXPECT_EQ(v.body2_len, 0u);
}

TEST(WireTest, MalformedCommandsAreRejected) {
    const Bytes good = command_frame(1, CommandHeader{2, kHeaderConstant, -1, 10, -1}, 10, Ticket{}, "abc", "xy");
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
    };
    const std::size_t body_len_at = kPrefixSize + kHeadSize + kHeaderSize + 4 + kTicketSize;
    const std::size_t body2_len_at = body_len_at + 4 + 3;
    const Case cases[] = {
        {"body length past the end", [&](Bytes& f) { put_u32(&f[body_len_at], 1000); }},
        {"body length eats the body2 length", [&](Bytes& f) { put_u32(&f[body_len_at], 8); }},
        {"body length at its maximum", [&](Bytes& f) { put_u32(&f[body_len_at], 0xFFFFFFFFu); }},
        {"body2 length too long", [&](Bytes& f) { put_u32(&f[body2_len_at], 3); }},
        {"body2 length too short", [&](Bytes& f) { put_u32(&f[body2_len_at], 1); }},
        {"a trailing byte", [&](Bytes& f) { f.push_back(0); }},
        {"body2 cut", [&](Bytes& f) { f.pop_back(); }},
        {"only the fixed fields", [&](Bytes& f) { f.resize(body_len_at + 4); }},
        {"shorter than the fixed fields", [&](Bytes& f) { f.resize(body_len_at); }},
    };
    for (const auto& c : cases) {
        Bytes f = good;
        c.damage(f);
        CommandView v;
        EXPECT_FALSE(decode_command(fields(f), fields_len(f), &v)) << c.what;
    }
}

TEST(WireTest, HeadsOfEveryKindAndTheirFaults) {
    unsigned char buf[kPrefixSize + kHeadSize];
    put_lead(buf, kAnswer, 0xA1B2C3D4u, 0);
    Head h;
    ASSERT_EQ(decode_head(buf + kPrefixSize, kHeadSize, &h), HeadStatus::Ok);
    EXPECT_EQ(h.kind, kAnswer);
    EXPECT_EQ(h.request_id, 0xA1B2C3D4u);

    struct Case {
        const char* what;
        std::size_t at;
        unsigned char value;
        HeadStatus want;
    };
    const Case cases[] = {
        {"magic", kPrefixSize, 0x00, HeadStatus::BadMagic},
        {"a later version", kPrefixSize + 2, kVersion + 1, HeadStatus::BadVersion},
        {"version 1, whose answers lack the whole length", kPrefixSize + 2, 1, HeadStatus::BadVersion},
        {"kind 0", kPrefixSize + 3, 0, HeadStatus::BadKind},
        {"kind past the last", kPrefixSize + 3, kFault + 1, HeadStatus::BadKind},
    };
    for (const auto& c : cases) {
        unsigned char f[sizeof buf];
        std::memcpy(f, buf, sizeof buf);
        f[c.at] = c.value;
        EXPECT_EQ(decode_head(f + kPrefixSize, kHeadSize, &h), c.want) << c.what;
    }
    EXPECT_EQ(decode_head(buf + kPrefixSize, kHeadSize - 1, &h), HeadStatus::BadLength);
}

TEST(WireTest, FrameLengthBounds) {
    EXPECT_FALSE(frame_length_ok(0, kMaxFrame));
    EXPECT_FALSE(frame_length_ok(kHeadSize - 1, kMaxFrame));
    EXPECT_TRUE(frame_length_ok(kHeadSize, kMaxFrame));
    EXPECT_TRUE(frame_length_ok(kMaxFrame, kMaxFrame));
    EXPECT_FALSE(frame_length_ok(kMaxFrame + 1, kMaxFrame));
    EXPECT_FALSE(frame_length_ok(0xFFFFFFFFu, kMaxFrame));
    EXPECT_FALSE(frame_length_ok(kMaxSmallFrame + 1, kMaxSmallFrame));
}

TEST(WireTest, CommandTooLargeForAFrameIsNotEncoded) {
    unsigned char header[kHeaderSize] = {};
    unsigned char lead[kCommandLead];
    const std::size_t room = kMaxFrame - kHeadSize - kCommandFixed - 4;
    EXPECT_TRUE(encode_command_lead(lead, 1, header, 0, Ticket{}, room, 0));
    EXPECT_FALSE(encode_command_lead(lead, 1, header, 0, Ticket{}, room, 1));
    EXPECT_FALSE(encode_command_lead(lead, 1, header, 0, Ticket{}, 0x7FFFFFFF, 0x7FFFFFFF));
}

TEST(WireTest, AnswerLeadAndItsLengthCheck) {
    AnswerFixed a;
    a.result = kPart;
    a.part_ticket = Ticket{3, 4};
    a.whole_len = 3000;
    a.answer_len = 5;
    Bytes f(kAnswerLead);
    encode_answer_lead(f.data(), 9, a);
    const char tail[] = "hello";
    f.insert(f.end(), tail, tail + 5);
    EXPECT_EQ(get_u32(f.data()), f.size() - kPrefixSize);

    AnswerFixed got;
    ASSERT_TRUE(decode_answer_fixed(fields(f), fields_len(f), &got));
    EXPECT_EQ(got.result, kPart);
    EXPECT_TRUE(got.part_ticket == (Ticket{3, 4}));
    EXPECT_EQ(got.answer_len, 5u);
    EXPECT_EQ(got.whole_len, 3000u);
    EXPECT_FALSE(decode_answer_fixed(fields(f), fields_len(f) - 1, &got)) << "answer shorter than announced";
    EXPECT_FALSE(decode_answer_fixed(fields(f), kAnswerFixed - 1, &got)) << "fixed fields cut";

    // A whole answer shorter than the bytes of this frame is malformed.
    for (uint32_t whole : {5u, 4u, 0u}) {
        a.whole_len = whole;
        encode_answer_lead(f.data(), 9, a);
        EXPECT_EQ(decode_answer_fixed(fields(f), fields_len(f), &got), whole >= 5) << whole;
    }
}

TEST(WireTest, HandshakeFramesRoundTripAndRejectWrongSizes) {
    Welcome w;
    w.result = kErrLogin;
    w.session = 42;
    for (std::size_t i = 0; i < kTokenSize; ++i) w.token[i] = static_cast<unsigned char>(i * 7);
    const Bytes f = encode_welcome(3, w);
    Welcome got;
    ASSERT_TRUE(decode_welcome(fields(f), fields_len(f), &got));
    EXPECT_EQ(got.result, kErrLogin);
    EXPECT_EQ(got.session, 42u);
    EXPECT_EQ(std::memcmp(got.token, w.token, kTokenSize), 0);
    EXPECT_FALSE(decode_welcome(fields(f), fields_len(f) - 1, &got));

    unsigned char token[kTokenSize] = {1, 2, 3};
    const Bytes at = encode_attach(4, 99, token);
    uint32_t session = 0;
    unsigned char back[kTokenSize];
    ASSERT_TRUE(decode_attach(fields(at), fields_len(at), &session, back));
    EXPECT_EQ(session, 99u);
    EXPECT_EQ(back[2], 3);
    EXPECT_FALSE(decode_attach(fields(at), fields_len(at) + 1, &session, back));

    const Bytes fault = encode_fault(5, kErrProtocol);
    int32_t code = 0;
    ASSERT_TRUE(decode_fault(fields(fault), fields_len(fault), &code));
    EXPECT_EQ(code, kErrProtocol);
    EXPECT_FALSE(decode_fault(fields(fault), 3, &code));

    const Bytes probe = encode_probe(6);
    EXPECT_EQ(fields_len(probe), 0u);
}

TEST(WireTest, LoginRecordNeedsEveryNulInsideItsField) {
    unsigned char rec[kLoginSize] = {};
    std::memcpy(rec, "admin", 5);
    std::memcpy(rec + 64, "secret", 6);
    std::memcpy(rec + 96, "host", 4);
    const Bytes f = encode_login(1, rec);
    LoginFields lf;
    ASSERT_TRUE(decode_login(fields(f), fields_len(f), &lf));
    EXPECT_EQ(lf.user, "admin");
    EXPECT_EQ(lf.password, "secret");
    EXPECT_EQ(lf.server, "host");

    // Each field filled to its end without a NUL.
    const std::pair<std::size_t, std::size_t> field_spans[] = {{0, 64}, {64, 32}, {96, 16}};
    for (const auto& span : field_spans) {
        unsigned char bad[kLoginSize];
        std::memcpy(bad, rec, kLoginSize);
        std::memset(bad + span.first, 'x', span.second);
        EXPECT_FALSE(decode_login(bad, kLoginSize, &lf)) << "field at " << span.first;
    }
    EXPECT_FALSE(decode_login(rec, kLoginSize - 1, &lf));
}

TEST(WireTest, BodyReaderStopsAtTheEndAndAtTheLimits) {
    const unsigned char d[] = {'a', 'b', 0, 7, 0, 0, 0, 'c', 'd'};
    BodyReader r(d, sizeof d);
    std::string s;
    EXPECT_FALSE(r.cstr(&s, 1)) << "longer than the limit";
    ASSERT_TRUE(r.cstr(&s, 2));
    EXPECT_EQ(s, "ab");
    int32_t v = 0;
    ASSERT_TRUE(r.i32(&v));
    EXPECT_EQ(v, 7);
    EXPECT_FALSE(r.cstr(&s, 100)) << "no NUL before the end";
    EXPECT_FALSE(r.i32(&v)) << "two bytes left";
    EXPECT_EQ(r.remaining(), 2u);
    const unsigned char* p = nullptr;
    std::size_t n = 0;
    r.rest(&p, &n);
    EXPECT_EQ(n, 2u);
    EXPECT_TRUE(r.at_end());

    BodyReader empty(nullptr, 0);  // an empty body has no bytes to look at
    EXPECT_FALSE(empty.cstr(&s, 10));
    EXPECT_FALSE(empty.i32(&v));
}

// Random frames: a decoder that accepts one has found every part inside the
// bytes it was given.
TEST(WireTest, RandomBytesNeverDecodeOutsideTheirBuffer) {
    std::mt19937 rng(12345);
    for (int i = 0; i < 20000; ++i) {
        const std::size_t n = rng() % 80;
        Bytes b(n);
        for (auto& c : b) c = static_cast<unsigned char>(rng() % 4 == 0 ? 0 : rng());
        if (n >= 32 && rng() % 2) put_u32(&b[28], static_cast<uint32_t>(rng() % 40));  // plausible body length
        CommandView v;
        if (decode_command(b.data(), b.size(), &v)) {
            ASSERT_GE(v.body, b.data());
            ASSERT_LE(v.body + v.body_len, b.data() + b.size());
            ASSERT_LE(v.body2 + v.body2_len, b.data() + b.size());
            ASSERT_EQ(v.body2 + v.body2_len, b.data() + b.size()) << "the lengths cover the frame exactly";
        }
        AnswerFixed a;
        if (decode_answer_fixed(b.data(), b.size(), &a)) {
            ASSERT_EQ(a.answer_len + kAnswerFixed, b.size());
        }
        LoginFields lf;
        if (decode_login(b.data(), b.size(), &lf)) {
            ASSERT_EQ(b.size(), kLoginSize);
        }
        Head h;
        decode_head(b.data(), b.size(), &h);
    }
}

}  // namespace
