// The trace line format: every kind of record survives encode and decode
// unchanged, text with blanks, control and non-ASCII bytes is percent-encoded
// so a record stays one line of blank-separated fields, lines of another
// version or of no complete record are refused, and a file cut short by a
// crash loses only its unfinished last line.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/unit/trace/trace_support.h"
#include "xsr/trace/trace.h"

using trace_test::TempFile;
using xsrtrace::Fn;
using xsrtrace::Parse;
using xsrtrace::Record;

namespace {

void expect_same(const Record& a, const Record& b, const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(a.fn, b.fn);
    EXPECT_EQ(a.seq, b.seq);
    EXPECT_EQ(a.pid, b.pid);
    EXPECT_EQ(a.thread, b.thread);
    EXPECT_EQ(a.start_us, b.start_us);
    EXPECT_EQ(a.duration_us, b.duration_us);
    EXPECT_EQ(a.handle, b.handle);
    EXPECT_EQ(a.result, b.result);
    EXPECT_EQ(a.server, b.server);
    EXPECT_EQ(a.port, b.port);
    EXPECT_EQ(a.user, b.user);
    EXPECT_EQ(a.login_server, b.login_server);
    EXPECT_EQ(a.password, b.password);
    EXPECT_EQ(a.password_recorded, b.password_recorded);
    EXPECT_EQ(a.magic, b.magic);
    EXPECT_EQ(a.timeout_hint, b.timeout_hint);
    EXPECT_EQ(a.answer_null, b.answer_null);
    EXPECT_EQ(a.len_null, b.len_null);
    EXPECT_EQ(a.header, b.header);
    EXPECT_EQ(a.body, b.body);
    EXPECT_EQ(a.body2, b.body2);
    EXPECT_EQ(a.body2_null, b.body2_null);
    EXPECT_EQ(a.answer, b.answer);
    if (!a.len_null) {
        EXPECT_EQ(a.capacity, b.capacity);
        EXPECT_EQ(a.answer_len, b.answer_len);
    }
}

Record base(Fn fn) {
    Record r;
    r.fn = fn;
    r.seq = 18446744073709551615ull;
    r.pid = 4242;
    r.thread = 99;
    r.start_us = 1796922620069309;
    r.duration_us = 17;
    return r;
}

std::vector<std::pair<std::string, Record>> every_kind() {
    const std::string all_bytes = [] {
        std::string s;
        for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
        return s;
    }();
    std::vector<std::pair<std::string, Record>> v;
    Record open = base(Fn::Open);
    open.server = "db-1.example";
    open.port = 7300;
    open.user = "admin";
    open.login_server = "db-1";
    open.handle = 3;
    v.push_back({"open, password not recorded", open});
    open.password = "p w%d\x01";
    open.password_recorded = true;
    v.push_back({"open with the password", open});
    Record failed = base(Fn::Open);
    failed.result = -20002;
    failed.server = "";
    v.push_back({"failed open, empty names", failed});
    Record check = base(Fn::Check);
    check.server = "127.0.0.1";
    check.port = 65535;
    check.result = INT32_MIN;
    v.push_back({"check", check});
    Record close = base(Fn::Close);
    close.handle = INT32_MAX;
    v.push_back({"close", close});
    Record valid = base(Fn::IsValid);
    valid.handle = -5;
    valid.result = 1;
    v.push_back({"isvalid", valid});
    Record cmd = base(Fn::Command);
    cmd.handle = 1;
    cmd.magic = 32639;
    cmd.timeout_hint = 45000;
    cmd.capacity = 256;
    cmd.answer_len = 300;
    cmd.header = std::string("\x02\x00\xf5\x01\xff\xff\xff\xff\x00\x01\x00\x00\xff\xff\xff\xff", 16);
    cmd.body = all_bytes;
    cmd.body2 = std::string("\0x\0", 3);
    cmd.answer = all_bytes.substr(0, 256);
    cmd.result = -1107;
    v.push_back({"command with every byte value", cmd});
    Record bare = base(Fn::Command);
    bare.len_null = true;
    bare.answer_null = true;
    bare.body2_null = true;
    bare.result = -9000;
    v.push_back({"command without answer buffer, length or body2", bare});
    Record empty = base(Fn::Command);
    v.push_back({"command with empty byte strings", empty});
    return v;
}

TEST(TraceFormat, EveryKindOfRecordRoundTrips) {
    for (const auto& c : every_kind()) {
        const std::string line = xsrtrace::encode(c.second);
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), '\n') << c.first;
        EXPECT_EQ(line.find('\n'), line.size() - 1) << c.first << ": one line per record";
        EXPECT_EQ(line.compare(0, 4, "XT1 "), 0) << c.first << ": every line carries the version";
        Record back;
        ASSERT_EQ(xsrtrace::decode(line, &back), Parse::Ok) << c.first << "\n" << line;
        expect_same(c.second, back, c.first);
    }
}

TEST(TraceFormat, OddServerNamesArePercentEncodedIntoOneField) {
    const std::vector<std::string> names = {"a b", "x=y", "100%", "tab\there", "nl\nx",
                                            "\xc3\xa9t\xc3\xa9", std::string("nul\0in", 6), "%41"};
    for (const std::string& name : names) {
        Record r = base(Fn::Check);
        r.server = name;
        const std::string line = xsrtrace::encode(r);
        const auto at = line.find(" srv=");
        ASSERT_NE(at, std::string::npos);
        const auto end = line.find(' ', at + 1);
        const std::string field = line.substr(at + 5, end - at - 5);
        for (unsigned char ch : field)
            EXPECT_TRUE(ch > 0x20 && ch < 0x7f && ch != '=') << "byte " << int(ch) << " left raw in " << field;
        Record back;
        ASSERT_EQ(xsrtrace::decode(line, &back), Parse::Ok) << line;
        EXPECT_EQ(back.server, name);
    }
    Record r = base(Fn::Check);
    r.server = "a b";
    EXPECT_NE(xsrtrace::encode(r).find(" srv=a%20b "), std::string::npos);
}

TEST(TraceFormat, LinesOfAnotherVersionOrNoCompleteRecordAreRefused) {
    const std::string good = "XT1 close seq=1 pid=2 tid=3 t=4 us=5 rc=0 h=7";
    Record r;
    ASSERT_EQ(xsrtrace::decode(good, &r), Parse::Ok);
    EXPECT_EQ(r.handle, 7);
    ASSERT_EQ(xsrtrace::decode(good + "\r\n", &r), Parse::Ok) << "a line ending with CR LF reads the same";

    struct Case {
        std::string line;
        Parse want;
    } cases[] = {
        {"", Parse::NotTrace},
        {"# a comment", Parse::NotTrace},
        {"XT2 close seq=1 pid=2 tid=3 t=4 us=5 rc=0 h=7", Parse::OtherVersion},
        {"XT10 close seq=1 pid=2 tid=3 t=4 us=5 rc=0 h=7", Parse::OtherVersion},
        {"XT1", Parse::Malformed},
        {"XT1 frob seq=1 pid=2 tid=3 t=4 us=5 rc=0 h=7", Parse::Malformed},
        {"XT1 close seq=1 pid=2 tid=3 t=4 us=5 h=7", Parse::Malformed},             // no rc
        {"XT1 close seq=1 pid=2 tid=3 t=4 us=5 rc=0", Parse::Malformed},            // no handle
        {"XT1 close seq=-1 pid=2 tid=3 t=4 us=5 rc=0 h=7", Parse::Malformed},       // negative seq
        {"XT1 close seq=1 pid=2 tid=3 t=4 us=5 rc=2147483648 h=7", Parse::Malformed},
        {"XT1 close seq=1 pid=2 tid=3 t=4 us=5 rc=1x h=7", Parse::Malformed},
        {"XT1 close seq=1 pid=2 tid=3 t=4 us=5 rc=0 h=7 h=8", Parse::Malformed},    // a field twice
        {"XT1 close seq=1 pid=2 tid=3 t=4 us=5 rc=0 h=7 stray", Parse::Malformed},  // no '='
        {"XT1 close seq=1 pid=2 tid=3 t=4 us=5 rc=0 h=7 =1", Parse::Malformed},
        {"XT1 check seq=1 pid=2 tid=3 t=4 us=5 rc=0 srv=a%2 port=1", Parse::Malformed},
        {"XT1 check seq=1 pid=2 tid=3 t=4 us=5 rc=0 srv=a%zz port=1", Parse::Malformed},
        {"XT1 command seq=1 pid=2 tid=3 t=4 us=5 rc=0 h=1 magic=1 hint=1 cap=1 len=1 hdr=0 body= body2= ans=",
         Parse::Malformed},  // odd number of hex digits
        {"XT1 command seq=1 pid=2 tid=3 t=4 us=5 rc=0 h=1 magic=1 hint=1 cap=1 len=1 hdr=0g body= body2= ans=",
         Parse::Malformed},
        {"XT1 command seq=1 pid=2 tid=3 t=4 us=5 rc=0 h=1 magic=1 hint=1 hdr= body= body2= ans=",
         Parse::Malformed},  // neither cap/len nor nolen
        {"XT1 command seq=1 pid=2 tid=3 t=4 us=5 rc=0 h=1 magic=1 hint=1 cap=1 len=1 hdr= body= ans=",
         Parse::Malformed},  // neither body2 nor nobody2
        // Times that no clock gives, whose differences would not fit in 64 bits.
        {"XT1 close seq=1 pid=2 tid=3 t=9223372036854775807 us=5 rc=0 h=7", Parse::BadTime},
        {"XT1 close seq=1 pid=2 tid=3 t=-9223372036854775808 us=5 rc=0 h=7", Parse::BadTime},
        {"XT1 close seq=1 pid=2 tid=3 t=253402300800000001 us=5 rc=0 h=7", Parse::BadTime},
        {"XT1 close seq=1 pid=2 tid=3 t=4 us=-1 rc=0 h=7", Parse::BadTime},
        {"XT1 close seq=1 pid=2 tid=3 t=4 us=9223372036854775807 rc=0 h=7", Parse::BadTime},
    };
    for (const Case& c : cases) {
        Record out;
        out.handle = 12345;
        EXPECT_EQ(xsrtrace::decode(c.line, &out), c.want) << c.line;
        EXPECT_EQ(out.handle, 12345) << "a refused line leaves the record alone: " << c.line;
    }
}

TEST(TraceFormat, FieldsOfALaterRevisionAreSkipped) {
    Record r;
    ASSERT_EQ(xsrtrace::decode("XT1 close seq=1 pid=2 tid=3 t=4 us=5 rc=0 h=7 future=abc", &r), Parse::Ok);
    EXPECT_EQ(r.handle, 7);
}

TEST(TraceFormat, AFileCutShortLosesOnlyItsUnfinishedLine) {
    const auto kinds = every_kind();
    std::string text;
    for (const auto& k : kinds) text += xsrtrace::encode(k.second);
    text += "\n";                                             // blank lines are skipped
    text += "XT2 close seq=1 pid=2 tid=3 t=4 us=5 rc=0 h=7\n";  // a later version's line
    text += "garbage\n";
    text += "XT1 close seq=9 pid=2 tid=3 t=4 us=5 rc=0 h=77\r\n";
    const std::string torn = xsrtrace::encode(kinds.back().second);
    TempFile f("torn.xt");
    f.write(text + torn.substr(0, torn.size() / 2));

    xsrtrace::File file;
    std::string error;
    ASSERT_TRUE(xsrtrace::read_file(f.path(), &file, &error)) << error;
    ASSERT_EQ(file.records.size(), kinds.size() + 1);
    for (std::size_t i = 0; i < kinds.size(); ++i) expect_same(kinds[i].second, file.records[i], kinds[i].first);
    EXPECT_EQ(file.records.back().handle, 77);
    EXPECT_EQ(file.malformed, 2);
    EXPECT_TRUE(file.torn_tail);

    f.write(text);
    ASSERT_TRUE(xsrtrace::read_file(f.path(), &file, &error)) << error;
    EXPECT_EQ(file.records.size(), kinds.size() + 1);
    EXPECT_FALSE(file.torn_tail);
}

// Each damaged line is named with its number and why, the torn last line
// too, and records missing from a process's numbers (never written, or on a
// damaged line) are named as a gap.
TEST(TraceFormat, DamagedLinesAndMissingRecordsAreNamed) {
    auto close_line = [](uint64_t pid, uint64_t seq) {
        Record r = base(Fn::Close);
        r.pid = pid;
        r.seq = seq;
        return xsrtrace::encode(r);
    };
    const std::string torn = close_line(7, 6);
    TempFile f("damaged.xt");
    // A torn record merged with the next one, as an unmended short write
    // leaves it, and records #3 to #4 of process 7 never written.
    f.write(close_line(7, 1) + torn.substr(0, 20) + close_line(7, 2) + close_line(8, 1) +
            "XT2 close seq=5\n" + close_line(7, 5) + torn.substr(0, 30));
    xsrtrace::File file;
    std::string error;
    ASSERT_TRUE(xsrtrace::read_file(f.path(), &file, &error)) << error;
    EXPECT_EQ(file.records.size(), 3u);
    EXPECT_EQ(xsrtrace::damage_report(file),
              (std::vector<std::string>{"line 2 is damaged: no complete record of format version 1",
                                        "line 4 is damaged: a record of another format version (XT2)",
                                        "line 6, the last, is cut short (the program ended while writing it)",
                                        "records #2 to #4 of process 7 are missing"}));
    f.write(close_line(7, 1) + close_line(7, 2));
    ASSERT_TRUE(xsrtrace::read_file(f.path(), &file, &error)) << error;
    EXPECT_TRUE(xsrtrace::damage_report(file).empty());
}

// What a reader keeps does not grow with the file: a line longer than the
// longest record is skipped as damaged (the record after it is read), and
// past the first few damaged lines and gaps only their count grows.
TEST(TraceFormat, TheReaderKeepsABoundedPartOfWhatItReads) {
    auto close_line = [](uint64_t seq) {
        Record r = base(Fn::Close);
        r.pid = 7;
        r.seq = seq;
        return xsrtrace::encode(r);
    };
    std::string text = close_line(1) + "XT1 close " + std::string(5000, 'x') + "\n" + close_line(2);
    for (int i = 0; i < 1000; ++i) text += "garbage\n";
    for (uint64_t seq = 4; seq < 200; seq += 2) text += close_line(seq);  // a gap before each
    TempFile f("bounded.xt");
    f.write(text);
    xsrtrace::Reader reader(1024);
    std::string error;
    ASSERT_TRUE(reader.open(f.path(), &error)) << error;
    std::vector<uint64_t> seqs;
    for (Record r; reader.next(&r);) seqs.push_back(r.seq);
    EXPECT_TRUE(reader.error().empty()) << reader.error();
    ASSERT_EQ(seqs.size(), 2u + 98u);
    EXPECT_EQ(seqs[1], 2u) << "the record after the long line is read";
    EXPECT_EQ(reader.damaged_lines(), 1001u);
    EXPECT_EQ(reader.damaged().size(), xsrtrace::Reader::kKeptNotes);
    EXPECT_EQ(reader.damaged()[0].line, 2u);
    EXPECT_NE(reader.damaged()[0].why.find("longer than the longest record (1024 bytes)"), std::string::npos);
    EXPECT_EQ(reader.gap_count(), 98u);
    EXPECT_EQ(reader.missing_records(), 98u);
    EXPECT_EQ(reader.gaps().size(), xsrtrace::Reader::kKeptNotes);
    const std::vector<std::string> report = reader.damage_report();
    EXPECT_EQ(report.size(), 2 * xsrtrace::Reader::kKeptNotes + 2);
    EXPECT_NE(std::find(report.begin(), report.end(), "981 more damaged line(s)"), report.end());
    EXPECT_NE(std::find(report.begin(), report.end(), "78 more gap(s) in the record numbers"), report.end());
}

TEST(TraceFormat, AMissingFileIsReportedWithItsName) {
    xsrtrace::File file;
    std::string error;
    EXPECT_FALSE(xsrtrace::read_file("/nonexistent/orq-trace.xt", &file, &error));
    EXPECT_NE(error.find("/nonexistent/orq-trace.xt"), std::string::npos) << error;
}

TEST(TraceFormat, HexHelpersRoundTripAndRefuseBadDigits) {
    std::string bytes;
    ASSERT_TRUE(xsrtrace::from_hex("00ff7fA0", &bytes));
    EXPECT_EQ(bytes, std::string("\x00\xff\x7f\xa0", 4));
    EXPECT_EQ(xsrtrace::to_hex(bytes), "00ff7fa0");
    EXPECT_FALSE(xsrtrace::from_hex("abc", &bytes));
    EXPECT_FALSE(xsrtrace::from_hex("zz", &bytes));
}

}  // namespace
