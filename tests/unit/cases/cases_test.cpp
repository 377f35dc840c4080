// The shared table of cases (tests/cases/*.json, its format in
// tests/cases/README.md) run through the C++ layer (cpp/) over the scripted
// double: every case of every file, or the reason the file gives for skipping
// it in this layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "orqext.hpp"
#include "tests/support/fixture.h"
#include "tests/unit/cases/json.h"
#include "tests/unit/cpp/async_support.h"

using cases_json::Value;

namespace {

const char* const kLayer = "cpp";

std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every case of the table; the cancel cases alone, or all but those.
enum class Which { All, Cancel, NotCancel };

std::vector<Value> load_cases(Which which = Which::All) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(ORQ_CASES_DIR))
        if (e.path().extension() == ".json" && e.path().filename() != "kinds.json") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<Value> out;
    for (const auto& f : files) {
        const Value doc = cases_json::parse(read_file(f));
        for (const Value& c : doc["cases"].a)
            if (which == Which::All || (c["call"].s == "cancel") == (which == Which::Cancel)) out.push_back(c);
    }
    return out;
}

const Value& kinds() {
    static const Value k = cases_json::parse(read_file(std::filesystem::path(ORQ_CASES_DIR) / "kinds.json"));
    return k;
}

std::string le(int64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF);
    return s;
}

// The bytes a B of the case format stands for.
std::string data(const Value& v) {
    using K = Value::Kind;
    if (v.kind == K::String) return v.s;
    if (v.kind == K::Array) {
        std::string s;
        for (const Value& p : v.a) s += data(p);
        return s;
    }
    if (v.has("hex")) {
        std::string s;
        const std::string& h = v["hex"].s;
        for (std::size_t i = 0; i + 1 < h.size(); i += 2)
            s += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
        return s;
    }
    if (v.has("le32")) return le(v["le32"].n, 4);
    if (v.has("le16")) return le(v["le16"].n, 2);
    if (v.has("repeat")) {
        std::string s;
        for (int64_t i = 0; i < v["times"].n; ++i) s += data(v["repeat"]);
        return s;
    }
    throw std::runtime_error("not a byte form");
}

// A text or bytes argument: the C++ layer takes bytes (texts as UTF-8).
std::string arg_bytes(const Value& v) { return v.kind == Value::Kind::String ? v.s : data(v["bytes"]); }

std::vector<std::string> texts(const Value& v) {
    std::vector<std::string> out;
    for (const Value& t : v["texts"].a) out.push_back(arg_bytes(t));
    return out;
}

xsrdouble::Reply reply(const Value& r) {
    if (r.has("pending")) return xsrdouble::pending(r["pending"].a[0].i32(), r["pending"].a[1].i32());
    if (r.has("part")) return xsrdouble::part(data(r["part"]));
    xsrdouble::Reply out;
    out.result = r.has("result") ? r["result"].i32() : 0;
    out.bytes = r.has("bytes") ? data(r["bytes"]) : std::string();
    out.reported_len = r.has("reported") ? r["reported"].i32() : -1;
    return out;
}

// What a call gave, in a form every value of the table compares with.
struct Outcome {
    std::error_code ec;
    std::string bytes;           // bytes answers
    int64_t number = 0;          // status words
    std::vector<std::vector<std::string>> rows;  // records, field by field
    enum { Bytes, Number, Rows } shape = Bytes;
};

std::string num(int64_t n) { return std::to_string(n); }

std::vector<orqext::stm::text_item> documents(const Value& v, std::vector<std::string>& keep) {
    keep.clear();
    for (const Value& d : v.a) keep.push_back(arg_bytes(d["text"]));
    std::vector<orqext::stm::text_item> out;
    for (std::size_t i = 0; i < v.a.size(); ++i) out.push_back({v.a[i]["id"].i32(), keep[i]});
    return out;
}

template <std::size_t N>
std::array<std::string_view, N> fields(const std::vector<std::string>& t) {
    std::array<std::string_view, N> f{};
    for (std::size_t i = 0; i < t.size() && i < N; ++i) f[i] = t[i];
    return f;
}

Outcome run_call(const orqext::connection& c, const Value& k) {
    namespace tx = orqext::text;
    namespace stm = orqext::stm;
    const std::string call = k["call"].s;
    const Value& a = k["args"];
    Outcome o;
    std::vector<std::string> keep;
    auto bytes = [&](std::string s) { o.bytes = std::move(s); };
    auto number = [&](int64_t n) {
        o.number = n;
        o.shape = Outcome::Number;
    };
    if (call == "result_kind") {
        bytes(orqext::send(c, "Echo", "x", o.ec));
    } else if (call == "ORQExt_SendMessage") {
        const std::string target = a.has("target") && a["target"].kind != Value::Kind::Null ? arg_bytes(a["target"]) : "";
        bytes(orqext::send_to(c, arg_bytes(a["module"]), target, arg_bytes(a["payload"]), o.ec));
    } else if (call == "ORQExt_SendMessageTimeOut") {
        bytes(orqext::send(c, arg_bytes(a["module"]), arg_bytes(a["payload"]),
                           std::chrono::milliseconds(a["timeout_ms"].n), a["cancel"].b, o.ec));
    } else if (call == "ORQExt_ExecSql2") {
        number(orqext::exec_sql(c, arg_bytes(a["statement"]), o.ec));
    } else if (call == "ORQExt_GetModInfos") {
        bytes(orqext::admin::module_list(c, o.ec).raw);
    } else if (call == "ORQExt_GetModInfo") {
        bytes(orqext::admin::module_info(c, arg_bytes(a["module"]), std::nullopt, o.ec).raw);
    } else if (call == "ORQExt_NLPE_DictLoad") {
        number(tx::nlpe_dict_load(c, arg_bytes(a["name"]), o.ec));
    } else if (call == "ORQExt_NLPE_WordSect") {
        const std::string text = arg_bytes(a["text"]);
        o.shape = Outcome::Rows;
        for (const tx::segment& s : tx::nlpe_word_sect(c, text, {}, o.ec)) {
            const auto len = static_cast<uint16_t>(s.mark);
            o.rows.push_back({num(s.item), num(len),
                              s.item >= 0 ? text.substr(static_cast<std::size_t>(s.item), len) : std::string()});
        }
    } else if (call == "ORQExt_AR_GetAllDictNameLoaded") {
        bytes(tx::ar_loaded_dict_names(c, o.ec));
    } else if (call == "ORQExt_AR_Search") {
        const tx::ar_search_result r = tx::ar_search(c, arg_bytes(a["text"]), true, o.ec);
        o.shape = Outcome::Rows;
        o.rows = {{r.associations, r.categories}};
    } else if (call == "ORQExt_BSM_GetClassifyResult") {
        const std::vector<std::string> t = texts(a["texts"]);
        tx::bsm_request r;
        r.fields = fields<8>(t);
        orqext::answer_limits l = c.limits();
        l.initial = a["capacity"].i32();
        const_cast<orqext::connection&>(c).set_limits(l);
        const tx::bsm_result b = tx::bsm_classify(c, r, o.ec);
        o.shape = Outcome::Rows;
        o.rows = {{b.first, b.second, b.flag ? "true" : "false"}};
    } else if (call == "ORQExt_ARA_Stat_AssociatedFreq_Begin") {
        number(tx::ara_freq_begin(c, arg_bytes(a["run"]), o.ec));
    } else if (call == "ORQExt_KWFS_Frequency") {
        const std::vector<std::string> t = texts(a["items"]);
        std::vector<tx::kwfs_item> items;
        for (const std::string& s : t) items.push_back({s, 0, {}});
        number(tx::kwfs_frequency(c, items, {}, 0, o.ec));
    } else if (call == "ORQExt_STM_GetDomainNameList") {
        bytes(stm::domain_names(c, 0, o.ec));
    } else if (call == "ORQExt_STM_KeyWordExtractor_Do") {
        bytes(stm::keywords(c, a["handle"].i32(), documents(a["documents"], keep), {}, o.ec));
    } else if (call == "ORQExt_STM_TextClassifier_Do") {
        bytes(stm::classify(c, a["handle"].i32(), documents(a["documents"], keep), {}, o.ec));
    } else if (call == "ORQExt_STM_VSMGenerator_Do") {
        bytes(stm::vsm_generate(c, a["handle"].i32(), documents(a["documents"], keep), {}, o.ec));
    } else if (call == "ORQExt_STM_VSMGenerator_GetResult") {
        bytes(stm::vsm_result(c, a["handle"].i32(), arg_bytes(a["text"]), {}, o.ec));
    } else if (call == "ORQExt_STM_Similarity_Analyst") {
        number(stm::similarity(c, arg_bytes(a["text1"]), arg_bytes(a["text2"]), o.ec));
    } else if (call == "ORQExt_TOP_GetItem") {
        bytes(tx::top_get_item(c, arg_bytes(a["topic"]), arg_bytes(a["text"]), o.ec));
    } else {
        ADD_FAILURE() << "the C++ runner does not know the call " << call << " (add it, or a skip with the reason)";
    }
    return o;
}

// The expected value in the Outcome's form.
Outcome expected(const Value& v) {
    Outcome o;
    if (v.has("bytes")) {
        o.bytes = data(v["bytes"]);
    } else if (v.has("int")) {
        o.shape = Outcome::Number;
        o.number = v["int"].n;
    } else if (v.has("tokens")) {
        o.shape = Outcome::Rows;
        for (const Value& t : v["tokens"].a) o.rows.push_back({num(t.a[0].n), num(t.a[1].n), data(t.a[2])});
    } else if (v.has("bsm")) {
        const Value& b = v["bsm"];
        o.shape = Outcome::Rows;
        o.rows = {{data(b["best"]), data(b["scores"]), b["matched"].b ? "true" : "false"}};
    } else if (v.has("associations")) {
        const Value& r = v["associations"];
        o.shape = Outcome::Rows;
        o.rows = {{data(r["associations"]), data(r["categories"])}};
    } else {
        ADD_FAILURE() << "the C++ runner does not know this value form";
    }
    return o;
}

void check_kind(const std::error_code& ec, int32_t code) {
    EXPECT_EQ(ec, orqext::make_error_code(code)) << ec.message();
    const std::string key = std::to_string(code);
    const std::string kind = kinds()["kinds"].has(key) ? kinds()["kinds"][key].s : kinds()["other"].s;
    if (kind == "bad_argument") {
        EXPECT_TRUE(ec == std::errc::invalid_argument);
    } else if (kind == "answer_too_long") {
        EXPECT_TRUE(ec == std::errc::message_size);
    } else if (kind == "timeout") {
        EXPECT_TRUE(ec == std::errc::timed_out);
    }
    // no_connection and error: the code alone says it (checked above).
}

void check_requests(const Value& want) {
    const auto sent = xsrdouble::calls_of(xsrdouble::Fn::Command);
    ASSERT_EQ(sent.size(), want.a.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE("request " + std::to_string(i));
        const Value& w = want.a[i];
        EXPECT_EQ(sent[i].code(), w["code"].n);
        if (w.has("capacity")) {
            EXPECT_EQ(sent[i].capacity, w["capacity"].n);
        }
        if (w.has("body")) {
            EXPECT_EQ(sent[i].body, data(w["body"]));
        }
        if (w.has("body_has")) {
            EXPECT_NE(sent[i].body.find(data(w["body_has"])), std::string::npos);
        }
        if (w.has("body_ends")) {
            const std::string end = data(w["body_ends"]);
            EXPECT_TRUE(sent[i].body.size() >= end.size() &&
                        sent[i].body.compare(sent[i].body.size() - end.size(), end.size(), end) == 0);
        }
    }
}

class Cases : public testing_support::LibraryTest, public testing::WithParamInterface<Value> {};

TEST_P(Cases, Run) {
    const Value& k = GetParam();
    if (k.has("skip") && k["skip"].has(kLayer)) GTEST_SKIP() << k["skip"][kLayer].s;
    orqext::connection c = orqext::connection::adopt(connect());
    if (k.has("connection")) {
        const Value& s = k["connection"];
        orqext::answer_limits l = c.limits();
        if (s.has("answer_size")) l.initial = s["answer_size"].i32();
        if (s.has("max_answer_size")) l.maximum = s["max_answer_size"].i32();
        c.set_limits(l);
    }
    xsrdouble::reset();
    if (k.has("double"))
        for (const Value& r : k["double"].a) xsrdouble::push(reply(r));
    const Outcome got = run_call(c, k);
    const Value& want = k["expect"];
    if (want.has("error")) {
        check_kind(got.ec, want["error"]["code"].i32());
        if (want["error"].has("length")) {
            // The whole length the library reported, as orqext::error gives it.
            EXPECT_EQ(orqext::detail::reported_length(), want["error"]["length"].i32());
            EXPECT_EQ(orqext::error(got.ec, "call").length(), want["error"]["length"].i32());
        }
        if (want["error"].has("argument")) {
            // The parameter the layer refused, as orqext::error names it.
            const char* refused = orqext::detail::refused_name();
            EXPECT_EQ(std::string(refused ? refused : ""), want["error"]["argument"].s);
        }
    } else {
        ASSERT_FALSE(got.ec) << got.ec.message();
        const Outcome w = expected(want["value"]);
        EXPECT_EQ(got.shape, w.shape);
        EXPECT_EQ(got.bytes, w.bytes);
        EXPECT_EQ(got.number, w.number);
        EXPECT_EQ(got.rows, w.rows);
    }
    if (want.has("requests")) check_requests(want["requests"]);
}

std::string case_name(const testing::TestParamInfo<Value>& info) {
    std::string n = info.param["name"].s;
    for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Table, Cases, testing::ValuesIn(load_cases(Which::NotCancel)), case_name);

// The cancel rule at a stage, with the library's worker passes in the test's
// hand. The double answers the request from the case's replies; once they are
// used up, a "pending" stays pending at every poll; the cancel by ticket (the
// library offers 256 bytes for its answer) gets args.cancel_reply.
class CancelCasesConcurrency : public cpp_async_test::CppAsyncTest, public testing::WithParamInterface<Value> {};

TEST_P(CancelCasesConcurrency, Run) {
    const Value& k = GetParam();
    if (k.has("skip") && k["skip"].has(kLayer)) GTEST_SKIP() << k["skip"][kLayer].s;
    const Value& a = k["args"];
    const Value& want = k["expect"];
    std::vector<xsrdouble::Reply> replies;
    for (const Value& r : k["double"].a) replies.push_back(reply(r));
    const xsrdouble::Reply cancel_reply = a.has("cancel_reply") ? reply(a["cancel_reply"]) : xsrdouble::ok("");
    auto next = std::make_shared<std::size_t>(0);
    xsrdouble::set_handler([replies, cancel_reply, next](const xsrdouble::Call& c) {
        if (c.code() == 5 && c.capacity == 256) return cancel_reply;
        if (*next < replies.size()) return replies[(*next)++];
        if (!replies.empty() && replies.back().result == -9000) return replies.back();
        return xsrdouble::ok("");
    });
    cpp_async_test::Book book;
    orqext::async_requester r;
    const orqext::request_id id = r.send_async(conn_, arg_bytes(a["module"]), arg_bytes(a["payload"]), book.note());
    ASSERT_NE(id, 0);
    const std::string stage = a["stage"].s;
    if (stage == "pending") {
        ASSERT_TRUE(clock_.cycles(2));  // sent, then polled: pending at the server
        ASSERT_EQ(book.calls(id), 0u);
    } else if (stage == "answered") {
        ASSERT_TRUE(clock_.cycles(1));
        ASSERT_EQ(book.calls(id), 1u);
    } else {
        ASSERT_EQ(stage, "queued");  // the worker has not passed yet
    }
    EXPECT_EQ(r.cancel(id), want["cancelled"].b);
    ASSERT_TRUE(clock_.cycles(2));  // whatever would still come for it
    const orqext::async_reply got = book.only(id);
    EXPECT_EQ(got.cancelled(), want["cancelled"].b);
    if (want.has("cancel_result")) {
        EXPECT_EQ(got.result, want["cancel_result"].i32());
    }
    if (want.has("answer")) {
        EXPECT_FALSE(got.error) << got.error.message();
        EXPECT_EQ(got.answer, data(want["answer"]));
    } else {
        EXPECT_TRUE(got.cancelled()) << "the request never answers";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CancelCasesConcurrency, testing::ValuesIn(load_cases(Which::Cancel)), case_name);

TEST(CasesTable, NamesAreUnique) {
    std::vector<std::string> names;
    for (const Value& c : load_cases()) names.push_back(c["name"].s);
    ASSERT_GT(names.size(), 50u);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
}

}  // namespace
