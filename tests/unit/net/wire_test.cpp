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

// Mutated valid frames: whatever a decoder accepts lies wholly inside the
// bytes it was given. The inputs start from real encodings of each kind
// (frame heads, command fields, answer fields, login records) and are
// damaged the ways a peer could damage them: flipped bytes, a cut, a length
// field changed, or extra bytes at the end. Each input is decoded from a
// heap copy of exactly its own size, so a read past it is an
// AddressSanitizer report; and each decoder must accept a fair share of its
// inputs (the in-bounds checks then really run) and refuse a fair share (the
// damage really reaches it).
TEST(WireTest, DamagedFramesAreRefusedOrDecodedWithinTheirBytes) {
    std::mt19937 rng(12345);
    auto below = [&](std::size_t n) { return n == 0 ? std::size_t{0} : std::size_t{rng() % n}; };
    auto random_text = [&](std::size_t max) {
        std::string t(below(max + 1), '\0');
        for (char& c : t) c = static_cast<char>(rng());
        return t;
    };

    // Where the length fields of each kind sit, relative to the fields.
    constexpr std::size_t kBodyLenAt = kCommandFixed - 4;  // then body, body2 length, body2
    constexpr std::size_t kAnswerLenAt = 12;

    auto command_fields = [&] {
        const std::string body = random_text(40), body2 = random_text(40);
        const CommandHeader h{static_cast<uint16_t>(below(16)), kHeaderConstant, -1,
                              static_cast<int32_t>(below(4096)), -1};
        const Bytes f = command_frame(1, h, h.b, Ticket{}, body, body2);
        return Bytes(f.begin() + kPrefixSize + kHeadSize, f.end());
    };
    auto answer_fields = [&] {
        const std::string ans = random_text(60);
        AnswerFixed a;
        a.result = static_cast<int32_t>(rng());
        a.answer_len = static_cast<uint32_t>(ans.size());
        Bytes f(kAnswerLead);
        encode_answer_lead(f.data(), 1, a);
        f.insert(f.end(), ans.begin(), ans.end());
        return Bytes(f.begin() + kPrefixSize + kHeadSize, f.end());
    };
    auto login_record = [&] {
        Bytes rec(kLoginSize, 0);
        const std::pair<std::size_t, std::size_t> spans[] = {{0, 64}, {64, 32}, {96, 16}};
        for (const auto& span : spans)
            for (std::size_t i = 0, n = below(span.second); i < n; ++i)
                rec[span.first + i] = static_cast<unsigned char>(1 + rng() % 255);
        return rec;
    };
    auto head = [&] {
        Bytes f(kPrefixSize + kHeadSize);
        put_lead(f.data(), static_cast<Kind>(kLogin + below(kFault - kLogin + 1)), static_cast<uint32_t>(rng()), 0);
        return Bytes(f.begin() + kPrefixSize, f.end());
    };

    // One of the damages, at random; now and then none at all.
    auto mutate = [&](Bytes& b, std::size_t length_at) {
        switch (rng() % 5) {
            case 0:  // flip a few bytes
                for (int k = 0, n = 1 + static_cast<int>(rng() % 3); k < n && !b.empty(); ++k)
                    b[below(b.size())] ^= static_cast<unsigned char>(1u << (rng() % 8));
                break;
            case 1:  // cut
                b.resize(below(b.size()));
                break;
            case 2:  // a length field changed a little or wildly
                if (b.size() >= length_at + 4) {
                    const uint32_t old = get_u32(&b[length_at]);
                    const uint32_t v = rng() % 2 ? old + static_cast<uint32_t>(below(9)) - 4u
                                                 : static_cast<uint32_t>(rng());
                    put_u32(&b[length_at], v);
                }
                break;
            case 3:  // extra bytes at the end
                for (std::size_t k = 0, n = 1 + below(8); k < n; ++k)
                    b.push_back(static_cast<unsigned char>(rng()));
                break;
            default:
                break;
        }
    };
    // A heap copy of exactly the input's size.
    auto exact = [](const Bytes& b) { return std::vector<unsigned char>(b.begin(), b.end()); };

    struct Tally {
        int accepted = 0, refused = 0;
        void add(bool ok) { ++(ok ? accepted : refused); }
    };
    Tally heads, commands, answers, logins;
    constexpr int kRounds = 6000;
    for (int i = 0; i < kRounds; ++i) {
        {
            Bytes b = command_fields();
            mutate(b, rng() % 2 ? kBodyLenAt : kCommandFixed + get_u32(&b[kBodyLenAt]));
            const Bytes in = exact(b);
            CommandView v;
            const bool ok = decode_command(in.data(), in.size(), &v);
            commands.add(ok);
            if (ok) {
                ASSERT_GE(v.body, in.data());
                ASSERT_LE(v.body + v.body_len, v.body2) << "body ends before body2 starts";
                ASSERT_EQ(v.body2 + v.body2_len, in.data() + in.size()) << "the lengths cover the frame exactly";
            }
        }
        {
            Bytes b = answer_fields();
            mutate(b, kAnswerLenAt);
            const Bytes in = exact(b);
            AnswerFixed a;
            const bool ok = decode_answer_fixed(in.data(), in.size(), &a);
            answers.add(ok);
            if (ok) {
                ASSERT_EQ(a.answer_len + kAnswerFixed, in.size());
            }
        }
        {
            Bytes b = login_record();
            mutate(b, 0);
            const Bytes in = exact(b);
            LoginFields lf;
            const bool ok = decode_login(in.data(), in.size(), &lf);
            logins.add(ok);
            if (ok) {
                ASSERT_EQ(in.size(), kLoginSize);
                ASSERT_LT(lf.user.size(), 64u);
                ASSERT_LT(lf.password.size(), 32u);
                ASSERT_LT(lf.server.size(), 16u);
                ASSERT_EQ(0, std::memcmp(in.data() + 64, lf.password.data(), lf.password.size()));
            }
        }
        {
            Bytes b = head();
            mutate(b, 4);  // the request id stands where a length would
            const Bytes in = exact(b);
            Head h;
            const bool ok = in.size() >= kHeadSize && decode_head(in.data(), in.size(), &h) == HeadStatus::Ok;
            heads.add(ok);
            if (ok) {
                ASSERT_EQ(get_u16(in.data()), kMagic);
                ASSERT_EQ(in[2], kVersion);
                ASSERT_EQ(static_cast<unsigned>(h.kind), in[3]);
                ASSERT_GE(h.kind, kLogin);
                ASSERT_LE(h.kind, kFault);
                ASSERT_EQ(h.request_id, get_u32(&in[4]));
            }
        }
    }
    const int fair_share = kRounds / 10;
    const std::pair<const char*, const Tally*> tallies[] = {
        {"head", &heads}, {"command", &commands}, {"answer", &answers}, {"login", &logins}};
    for (const auto& t : tallies) {
        EXPECT_GE(t.second->accepted, fair_share) << t.first << " decoder accepted too few to check bounds";
        EXPECT_GE(t.second->refused, fair_share) << t.first << " decoder refused too few: the damage is not reaching it";
    }
}

}  // namespace
