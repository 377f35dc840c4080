// xsr-sim's parts without sockets: the config file, the text commands of
// module administration, the action document, the module table, the cluster
// description edits, the part rule and the scriptable module's requests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/admin.h"
#include "sim/cluster_desc.h"
#include "sim/config.h"
#include "sim/delivery.h"
#include "sim/modules.h"
#include "xsr/proto/wire.h"

namespace {

using namespace xsrsim;
using namespace xsrproto;

TEST(SimConfigTest, DirectivesSetTheirValues) {
    Config c;
    std::string err;
    ASSERT_TRUE(parse_config("# comment\n"
                             "name node7\n"
                             "user alice \"pass word\"   # trailing comment\n"
                             "part_size 500\n"
                             "pending_after_ms 0\n"
                             "idle_timeout_ms 0\n"
                             "max_held_bytes 4294967295\n"
                             "max_held_session_bytes 1000\n"
                             "max_pending_logins 8\n"
                             "login_limit_ms 1500\n"
                             "module Lazy echo registered version=2.1 param=p\n"
                             "cluster C t \"a a\" b\n"
                             "node C t 127.0.0.1 7300 admin \"\" x\n"
                             "\n",
                             &c, &err))
        << err;
    EXPECT_EQ(c.name, "node7");
    ASSERT_EQ(c.users.size(), 1u);
    EXPECT_EQ(c.users[0].password, "pass word");
    EXPECT_EQ(c.part_size, 500u);
    EXPECT_EQ(c.pending_after_ms, 0u);
    EXPECT_EQ(c.idle_timeout_ms, 0u) << "0: no idle limit";
    EXPECT_EQ(c.max_held_bytes, 4294967295u);
    EXPECT_EQ(c.max_held_session_bytes, 1000u);
    EXPECT_EQ(c.max_pending_logins, 8u);
    EXPECT_EQ(c.login_limit_ms, 1500u);
    ASSERT_EQ(c.modules.size(), 1u);
    EXPECT_FALSE(c.modules[0].started);
    EXPECT_EQ(c.modules[0].version, "2.1");
    EXPECT_EQ(c.modules[0].param, "p");
    ASSERT_EQ(c.clusters.size(), 1u);
    EXPECT_EQ(c.clusters[0].attr_a, "a a");
    ASSERT_EQ(c.clusters[0].nodes.size(), 1u);
    EXPECT_EQ(c.clusters[0].nodes[0].port, 7300);
    EXPECT_EQ(c.clusters[0].nodes[0].pass, "");
}

TEST(SimConfigTest, ErrorsNameTheirLine) {
    struct Case {
        const char* text;
        const char* want;
    };
    const Case cases[] = {
        {"bogus 1\n", "line 1: unknown directive"},
        {"name a\npart_size 0\n", "line 2: part_size"},
        {"part_size 12x\n", "line 1: part_size"},
        {"workers 99999999999\n", "line 1: workers"},
        {"max_held_bytes 0\n", "line 1: max_held_bytes"},
        {"max_held_session_bytes 4294967296\n", "line 1: max_held_session_bytes"},
        {"max_pending_logins 0\n", "line 1: max_pending_logins"},
        {"login_limit_ms 0\n", "line 1: login_limit_ms"},
        {"user \"open\n", "line 1: unclosed quote"},
        {"user a\n", "line 1: wrong number"},
        {"user a b c\n", "line 1: wrong number"},
        {"module M echo sometimes\n", "line 1: module"},
        {"node C t h 1 u p\n", "line 1: node"},
        {"cluster C t\nnode C t h 65535 u p\n", "line 2: node"},
        {"cluster C t\ncluster C t\n", "line 2: cluster"},
    };
    for (const auto& c : cases) {
        Config cfg;
        std::string err;
        EXPECT_FALSE(parse_config(c.text, &cfg, &err)) << c.text;
        EXPECT_EQ(err.rfind(c.want, 0), 0u) << c.text << " gave: " << err;
    }
}

TEST(SimTextCommandTest, RegistrationAndUnregistrationTexts) {
    TextCommand t;
    ASSERT_TRUE(parse_text_command("use ext M cmd reg version=1.0.0.0", &t));
    EXPECT_EQ(t.kind, TextKind::Register);
    EXPECT_EQ(t.reg.module, "M");
    EXPECT_EQ(t.reg.version, "1.0.0.0");
    EXPECT_FALSE(t.reg.autostart);

    ASSERT_TRUE(parse_text_command("use ext M cmd reg version=2.0 ModType=autostart FileRef='f.dll' "
                                   "CmdParam='a b' Desc='' DependFiles='x;y'",
                                   &t));
    EXPECT_TRUE(t.reg.autostart);
    EXPECT_EQ(t.reg.file_ref, "f.dll");
    EXPECT_EQ(t.reg.cmd_param, "a b");
    EXPECT_EQ(t.reg.desc, "");
    EXPECT_EQ(t.reg.depend_files, "x;y");

    ASSERT_TRUE(parse_text_command("use ext M cmd unreg ", &t));
    EXPECT_EQ(t.kind, TextKind::Unregister);
    EXPECT_FALSE(t.reg.has_version);
    ASSERT_TRUE(parse_text_command("use ext M cmd unreg  version=", &t));
    EXPECT_TRUE(t.reg.has_version);
    EXPECT_EQ(t.reg.version, "");
    ASSERT_TRUE(parse_text_command("USE EXT M CMD REG", &t));
    EXPECT_EQ(t.kind, TextKind::Register);

    ASSERT_TRUE(parse_text_command("use ext M cmd run a=1", &t));
    EXPECT_EQ(t.kind, TextKind::ModuleStatement);
    ASSERT_TRUE(parse_text_command("use ext M select 1", &t));
    EXPECT_EQ(t.kind, TextKind::ModuleStatement);
    EXPECT_EQ(t.module, "M");
    ASSERT_TRUE(parse_text_command("select * from t", &t));
    EXPECT_EQ(t.kind, TextKind::Statement);

    for (const char* bad : {"", "   ", "use ext", "use ext M cmd reg FileRef='x", "use ext M cmd reg Color=red",
                            "use ext M cmd reg ModType=manual", "use ext M cmd unreg FileRef='x'",
                            "use ext M cmd reg version", "use ext M cmd reg FileRef='a'b"})
        EXPECT_FALSE(parse_text_command(bad, &t)) << "'" << bad << "'";
}

TEST(SimTextCommandTest, ActionDocuments) {
    ActionDocument d;
    ASSERT_TRUE(parse_action_document("<Module>M</Module><Action>Start</Action>", &d));
    EXPECT_EQ(d.module, "M");
    EXPECT_TRUE(d.start);
    EXPECT_FALSE(d.has_version);
    ASSERT_TRUE(parse_action_document("<Module>M</Module><Action>Stop</Action><Version>2.0</Version>", &d));
    EXPECT_FALSE(d.start);
    EXPECT_EQ(d.version, "2.0");
    for (const char* bad : {"", "<Module>M</Module>", "<Module></Module><Action>Start</Action>",
                            "<Module>M</Module><Action>Pause</Action>", "<Action>Start</Action><Module>M</Module>",
                            "<Module>M</Module><Action>Start</Action>x",
                            "<Module>M<Action>Start</Action></Module>",
                            "<Module>M</Module><Action>Start</Action><Version>1"})
        EXPECT_FALSE(parse_action_document(bad, &d)) << bad;
}

class SimModuleTableTest : public ::testing::Test {
protected:
    SimModuleTableTest() : table_(types_) { register_builtin_types(types_); }
    ModuleTypes types_;
    ModuleTable table_;
    std::shared_ptr<Module> m_;
};

TEST_F(SimModuleTableTest, LifeOfARegisteredModule) {
    Registration r;
    r.module = "Mine";
    r.file_ref = "echo";
    ASSERT_EQ(table_.register_module(r), 0);
    EXPECT_EQ(table_.register_module(r), kErrRegistered);
    EXPECT_EQ(table_.resolve("mine", &m_, nullptr), kErrNotStarted);
    EXPECT_EQ(table_.list_text(), "Mine\t1.0.0.0\tregistered\techo\n") << "the default version";

    EXPECT_EQ(table_.start("Mine", true, "2.0"), kErrVersion);
    EXPECT_EQ(table_.start("Mine", true, ""), 0) << "an empty version matches";
    EXPECT_EQ(table_.start("Mine", false, ""), 0) << "starting twice is harmless";
    EXPECT_EQ(table_.resolve("MINE", &m_, nullptr), 0);
    ASSERT_NE(m_, nullptr);

    std::string info;
    ASSERT_EQ(table_.info_text("Mine", "sub", &info), 0);
    EXPECT_NE(info.find("state=started\n"), std::string::npos) << info;
    EXPECT_NE(info.find("item=sub\n"), std::string::npos) << info;

    EXPECT_EQ(table_.stop("Mine", false, ""), 0);
    EXPECT_EQ(table_.resolve("Mine", &m_, nullptr), kErrNotStarted);
    EXPECT_EQ(table_.unregister("Mine", true, "9"), kErrVersion);
    EXPECT_EQ(table_.unregister("Mine", true, "1.0.0.0"), 0);
    EXPECT_EQ(table_.resolve("Mine", &m_, nullptr), kErrUnknownModule);
    EXPECT_EQ(table_.unregister("Mine", false, ""), kErrUnknownModule);
    EXPECT_EQ(table_.start("Mine", false, ""), kErrUnknownModule);
}

TEST_F(SimModuleTableTest, ImplementationIsFoundByFileRefOrByName) {
    Registration by_name;
    by_name.module = "Script";
    by_name.autostart = true;
    EXPECT_EQ(table_.register_module(by_name), 0) << "no file reference: the module's name is the type";
    EXPECT_EQ(table_.resolve("Script", &m_, nullptr), 0);

    Registration unknown;
    unknown.module = "KExt_Nothing";
    unknown.autostart = true;
    EXPECT_EQ(table_.register_module(unknown), kErrNoImplementation);
    EXPECT_EQ(table_.resolve("KExt_Nothing", &m_, nullptr), kErrUnknownModule)
        << "a module that cannot start is not left registered";
    unknown.autostart = false;
    EXPECT_EQ(table_.register_module(unknown), 0);
    EXPECT_EQ(table_.start("KExt_Nothing", false, ""), kErrNoImplementation);
}

// Builds request bodies of codes 11 and 12.
struct Body {
    std::vector<unsigned char> b;
    Body& i32(int32_t v) {
        unsigned char x[4];
        put_i32(x, v);
        b.insert(b.end(), x, x + 4);
        return *this;
    }
    Body& s(const std::string& v) {
        b.insert(b.end(), v.begin(), v.end());
        b.push_back(0);
        return *this;
    }
    Body& node(const std::string& server, int32_t port, const std::string& attr = "") {
        return s(server).i32(port).s("u").s("p").s(attr);
    }
};

TEST(SimClusterTest, EditsShowInTheDescription) {
    ClusterDescription d;
    const Body add0 = Body().i32(0).s("C").s("t").s("a").s("b").s("");
    ASSERT_EQ(d.add(add0.b.data(), add0.b.size()), 0);
    const Body add1 = Body().i32(1).s("c").s("T").s("").i32(2).node("h1", 1).node("h2", 2);
    ASSERT_EQ(d.add(add1.b.data(), add1.b.size()), 0) << "names and tags ignore letter case";
    const Body again = Body().i32(1).s("C").s("t").s("").i32(1).node("H1", 1, "new");
    ASSERT_EQ(d.add(again.b.data(), again.b.size()), 0);
    const Body other = Body().i32(1).s("D").s("t").s("").i32(0);
    ASSERT_EQ(d.add(other.b.data(), other.b.size()), 0) << "mode 1 creates the cluster";

    const Bytes desc = d.encode();
    std::vector<ClusterEntry> got;
    ASSERT_TRUE(decode_description(desc.data(), desc.size(), &got));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].attr_a, "a");
    ASSERT_EQ(got[0].nodes.size(), 2u);
    EXPECT_EQ(got[0].nodes[0].attr, "new") << "same server and port: replaced in place";
    EXPECT_EQ(got[0].nodes[1].server, "h2");
    EXPECT_EQ(got[1].name, "D");
    EXPECT_GT(get_i32(desc.data()), 0) << "the serial counts the edits";

    const Body del_node = Body().i32(0).s("C").s("t").s("").s("h2:2");
    ASSERT_EQ(d.remove(del_node.b.data(), del_node.b.size()), 0);
    const Body del_missing = Body().i32(0).s("C").s("t").s("").s("h9");
    EXPECT_EQ(d.remove(del_missing.b.data(), del_missing.b.size()), kErrNoCluster);
    const Body del_all = Body().i32(0).s("C").s("t").s("");  // no text: the whole cluster
    ASSERT_EQ(d.remove(del_all.b.data(), del_all.b.size()), 0);
    EXPECT_EQ(d.remove(del_all.b.data(), del_all.b.size()), kErrNoCluster);
    ASSERT_EQ(d.snapshot().size(), 1u);
    EXPECT_EQ(d.snapshot()[0].name, "D");
}

TEST(SimClusterTest, MalformedEditsChangeNothing) {
    ClusterDescription d;
    const std::string long_name(256, 'n');
    const std::vector<Body> bad_adds = {
        Body(),
        Body().i32(2).s("C").s("t"),
        Body().i32(0).s("").s("t").s("").s("").s(""),
        Body().i32(0).s("C").s("").s("").s("").s(""),
        Body().i32(0).s(long_name).s("t").s("").s("").s(""),
        Body().i32(0).s("C").s("t").s("").s(""),               // no closing NUL
        Body().i32(0).s("C").s("t").s("").s("").s("").s("x"),  // trailing bytes
        Body().i32(1).s("C").s("t").s("").i32(2).node("h", 1),  // one node short
        Body().i32(1).s("C").s("t").s("").i32(1).node("h", 65535),
        Body().i32(1).s("C").s("t").s("").i32(1).node("", 1),
        Body().i32(1).s("C").s("t").s("").i32(1).node(std::string(20, 's'), 1),
        Body().i32(1).s("C").s("t").s("").i32(0x7FFFFFFF),
    };
    for (std::size_t i = 0; i < bad_adds.size(); ++i)
        EXPECT_EQ(d.add(bad_adds[i].b.data(), bad_adds[i].b.size()), kErrRequest) << i;
    const std::vector<Body> bad_deletes = {
        Body().i32(1).s("C").s("t").s(""),
        Body().i32(0).s("C").s("t"),
        Body().i32(0).s("C").s("t").s("").s("h:x"),
        Body().i32(0).s("C").s("t").s("").s("h").s("more"),
    };
    for (std::size_t i = 0; i < bad_deletes.size(); ++i)
        EXPECT_EQ(d.remove(bad_deletes[i].b.data(), bad_deletes[i].b.size()), kErrRequest) << i;
    EXPECT_TRUE(d.snapshot().empty());
    EXPECT_EQ(get_i32(d.encode().data()), 0) << "no edit counted";
}

TEST(SimDeliveryTest, PartRule) {
    struct Case {
        std::size_t remaining, part, capacity;
        Step step;
        std::size_t len;
    };
    const Case cases[] = {
        {10, 100, 10, Step::Whole, 10},       // fits exactly
        {0, 100, 0, Step::Whole, 0},          // an empty answer
        {250, 100, 1000, Step::Part, 100},    // more than a part
        {100, 100, 100, Step::Whole, 100},    // exactly one part
        {250, 100, 99, Step::Overflow, 99},   // the next part does not fit
        {50, 100, 20, Step::Overflow, 20},    // the rest does not fit
        {250, 100, 0, Step::Overflow, 0},     // no room at all
    };
    for (const auto& c : cases) {
        const Chunk ch = next_chunk(c.remaining, c.part, c.capacity);
        EXPECT_EQ(ch.step, c.step) << c.remaining << "/" << c.part << "/" << c.capacity;
        EXPECT_EQ(ch.len, c.len) << c.remaining << "/" << c.part << "/" << c.capacity;
    }
}

TEST(SimRemoteCallTest, FramesWithAndWithoutEngineSelector) {
    const unsigned char with_sel[] = {3, 0, 0, 0, 'r', '!', 0, 'F', 'n', 0, 'x', 0, 7, 0, 0, 0};
    const Bytes payload(with_sel, with_sel + sizeof with_sel);  // rc.args points into it
    RemoteCall rc;
    ASSERT_TRUE(parse_remote_call(payload, true, &rc));
    EXPECT_EQ(rc.selector, 3);
    EXPECT_EQ(rc.function, "Fn");
    ASSERT_EQ(rc.args_len, 6u);
    BodyReader args(rc.args, rc.args_len);
    std::string text;
    int32_t n = 0;
    ASSERT_TRUE(args.cstr(&text, 10) && args.i32(&n));
    EXPECT_EQ(text, "x");
    EXPECT_EQ(n, 7);

    const unsigned char plain[] = {'r', '!', 0, 'G', 0};
    ASSERT_TRUE(parse_remote_call(Bytes(plain, plain + sizeof plain), false, &rc));
    EXPECT_EQ(rc.function, "G");
    EXPECT_EQ(rc.args_len, 0u);
    EXPECT_FALSE(parse_remote_call(Bytes(plain, plain + sizeof plain), true, &rc)) << "selector missing";
    const std::vector<Bytes> bad = {{}, {'r', '!'}, {'r', '?', 0, 'G', 0}, {'r', '!', 0, 0}, {'r', '!', 0, 'G'}};
    for (std::size_t i = 0; i < bad.size(); ++i) EXPECT_FALSE(parse_remote_call(bad[i], false, &rc)) << i;
}

TEST(SimScriptTest, ScriptRequests) {
    Script s;
    std::string err;
    ASSERT_TRUE(parse_script("delay=20;rc=-5 size=3\npart=2 fault=cut cut=7 hold=g release=h", &s, &err)) << err;
    EXPECT_EQ(s.delay_ms, 20u);
    EXPECT_EQ(s.result, -5);
    EXPECT_TRUE(s.has_size);
    EXPECT_EQ(s.size, 3u);
    EXPECT_EQ(s.part_size, 2u);
    EXPECT_EQ(s.fault, Fault::Cut);
    EXPECT_EQ(s.cut_at, 7u);
    EXPECT_EQ(s.hold, "g");
    EXPECT_EQ(s.release, "h");
    ASSERT_TRUE(parse_script("", &s, &err));
    EXPECT_FALSE(s.has_size);
    for (const char* bad : {"size=-1", "size=x", "delay=", "rc=99999999999", "part=0", "fault=melt", "hold=",
                            "color=red", "size=999999999999"})
        EXPECT_FALSE(parse_script(bad, &s, &err)) << bad;
}

TEST(SimScriptTest, ScriptedAnswerHasTheAskedSizeAndResult) {
    auto m = make_script_module(ModuleSettings{});
    struct NullServer : ServerView {
        std::string server_name() const override { return "n"; }
        std::string statement_log() const override { return ""; }
        void clear_statement_log() override {}
        std::string stats() const override { return ""; }
        bool hold_gate(const std::string&, const CancelToken&, uint32_t) override { return true; }
        void release_gate(const std::string&) override {}
    } server;
    ModuleCall call;
    const std::string req = "size=30 rc=4 part=8";
    call.payload.assign(req.begin(), req.end());
    CancelToken cancel;
    EXPECT_TRUE(m->quick(call));
    const ModuleAnswer a = m->call(call, cancel, server);
    EXPECT_EQ(a.result, 4);
    EXPECT_EQ(a.part_size, 8u);
    ASSERT_EQ(a.bytes.size(), 30u);
    EXPECT_EQ(a.bytes[0], 'a');
    EXPECT_EQ(a.bytes[27], 'b');

    const std::string slow = "delay=60000";
    call.payload.assign(slow.begin(), slow.end());
    EXPECT_FALSE(m->quick(call)) << "a delayed answer runs on a worker";
    cancel.cancel();
    EXPECT_EQ(m->call(call, cancel, server).result, kErrShutdown) << "a cancelled delay ends at once";
}

}  // namespace
