// The C++ layer end to end: the built library over the networked XSRClient
// against xsr-sim with the simulated service modules, a few calls of each
// family.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "orqext.hpp"
#include "tests/e2e/fixture.h"

namespace {

class CppLayerTest : public e2e::SimTest {
protected:
    std::string config() override {
        return "name cppnode\n"
               "module KExt_NLPE KExt_NLPE\n"
               "module KExt_ARA KExt_ARA\n"
               "module KExt_KWFS KExt_KWFS\n"
               "module KExt_STM KExt_STM\n";
    }
    orqext::connection open() { return orqext::connection("127.0.0.1", sim_.port(), "admin", "admin"); }
};

TEST_F(CppLayerTest, ConnectionsOpenProbeAndClose) {
    EXPECT_EQ(orqext::server_status("127.0.0.1", sim_.port()), 0);
    orqext::connection c = open();
    EXPECT_TRUE(c.alive());
    const long before = stats()["sessions"];
    c.close();
    EXPECT_FALSE(c);
    EXPECT_TRUE(e2e::eventually([&] { return stats()["sessions"] == before - 1; }));

    try {
        orqext::connection bad("127.0.0.1", sim_.port(), "admin", "wrong");
        ADD_FAILURE() << "logged in with a wrong password";
    } catch (const orqext::error& e) {
        EXPECT_EQ(e.result(), -20004);
        EXPECT_TRUE(e.code() == std::errc::permission_denied);
    }
}

// A server name longer than the login record's 15 characters is resolved
// and its IPv4 address logged in to; one with no IPv4 address is refused,
// naming the argument and the limit. The names resolve without a name
// server (an address in hex parts; a label over DNS's 63 characters, which
// the resolver refuses before any query).
TEST_F(CppLayerTest, ServerNamesLongerThanTheLoginRecordAreResolved) {
    const std::string long_name = "0x7f.0x00.0x00.0x01";
    EXPECT_EQ(orqext::ipv4_addresses(long_name), std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(orqext::server_names_to_try(std::string(15, 'h')), std::vector<std::string>{std::string(15, 'h')})
        << "a name the record holds goes to the library as it is";
    orqext::connection c(long_name, sim_.port(), "admin", "admin");
    EXPECT_TRUE(c.alive());
    EXPECT_EQ(orqext::send(c, "Echo", "far"), "far");

    const std::string none = std::string(64, 'a') + ".invalid";
    try {
        orqext::connection bad(none, sim_.port(), "admin", "admin");
        ADD_FAILURE() << "a name without an address was accepted";
    } catch (const orqext::error& e) {
        EXPECT_EQ(e.result(), -20001);
        EXPECT_NE(std::string(e.what()).find("ORQExt_Connect: server: '" + none +
                                             "' resolves to no IPv4 address; the login record holds 15 "
                                             "characters of the server name"),
                  std::string::npos)
            << e.what();
    }
    std::error_code ec;
    EXPECT_FALSE(orqext::connection::open(none, sim_.port(), "admin", "admin", ec));
    EXPECT_EQ(ec.value(), -20001);
    EXPECT_FALSE(orqext::connection::open(long_name, sim_.port(), "admin", "wrong", ec));
    EXPECT_EQ(ec.value(), -20004) << "a refused login is not tried at another address";

    // The same for the statement on a connection of its own (ORQExt_ExecSql).
    const std::string rest = ";Port=" + std::to_string(sim_.port()) + ";user=admin;pass=admin";
    EXPECT_GE(orqext::exec_sql("Server=" + long_name + rest, "select 9"), 0);
    EXPECT_GE(orqext::exec_sql("server=127.0.0.1" + rest, "select 9"), 0);
    EXPECT_LT(orqext::exec_sql("server=" + none + rest, "select 9", ec), 0);
    EXPECT_EQ(ec.value(), -20001);
    try {
        orqext::exec_sql("server=" + none + rest, "select 9");
        ADD_FAILURE() << "a name without an address was accepted";
    } catch (const orqext::error& e) {
        EXPECT_NE(std::string(e.what()).find("ORQExt_ExecSql: server: '" + none + "' resolves to no IPv4 address"),
                  std::string::npos)
            << e.what();
    }
    orqext::exec_sql("server=" + long_name + ";port=" + std::to_string(sim_.port()) + ";user=admin;pass=wrong",
                     "select 9", ec);
    EXPECT_EQ(ec.value(), -20004) << "a refused login is not tried at another address";
}

TEST_F(CppLayerTest, MessagesAnswersAndTimeLimits) {
    orqext::connection c = open();
    EXPECT_EQ(orqext::send(c, "Echo", std::string("bin\0ary", 7)), std::string("bin\0ary", 7));
    EXPECT_EQ(orqext::send(c, "Ident", "x"), "cppnode");
    // Some kilobytes (answers over the first offer of 4096 bytes take a second request).
    EXPECT_EQ(orqext::send(c, "Script", "size=3000"), e2e::pattern(3000));
    std::error_code ec;
    orqext::send(c, "NoSuchModule", "x", ec);
    EXPECT_EQ(ec, orqext::make_error_code(-20101));
    orqext::send(c, "Script", "delay=3000", std::chrono::milliseconds(100), true, ec);
    EXPECT_EQ(ec, orqext::errc::timeout_cancelled);
    EXPECT_EQ(orqext::send(c, "Script", "delay=10 size=5", std::chrono::milliseconds(20000), false), "abcde");
}

// Answers longer than the first offer: one more request with exactly the
// length the server reported; above the maximum, no second request.
TEST_F(CppLayerTest, AnswersSizeThemselvesWithinTheMaximum) {
    orqext::connection c = open();
    c.set_limits({1000, 5000});
    const long before = stats()["requests"];
    EXPECT_EQ(orqext::send(c, "Script", "size=3000"), e2e::pattern(3000));
    EXPECT_EQ(stats()["requests"] - before, 2 + 1) << "two sends and the stats query";
    EXPECT_EQ(orqext::send(c, "Script", "size=5000"), e2e::pattern(5000));
    std::error_code ec;
    EXPECT_EQ(orqext::send(c, "Script", "size=5001", ec), "");
    EXPECT_EQ(ec, orqext::errc::answer_too_long);

    // A service call that sends its capacity in the frame and gets a counted
    // text back.
    const std::string name(1500, 'd');
    orqext::text::ar_dict_create(c, name, "cat", "k=v");
    orqext::text::ar_dict_load(c, name);
    EXPECT_EQ(orqext::text::ar_loaded_dict_names(c), name + "\n");
    // Line lists of the simulated modules hold whole lines only, as many as
    // fit the capacity named in the frame, with no longer length: such a
    // list comes back cut, and only a larger first offer helps.
    orqext::stm::create_domain(c, name, "", "", "", 0);
    EXPECT_EQ(orqext::stm::domain_names(c, 0), "");
    c.set_limits({2000, 5000});
    EXPECT_EQ(orqext::stm::domain_names(c, 0), name + "\n");
}

TEST_F(CppLayerTest, Statements) {
    orqext::connection c = open();
    EXPECT_EQ(orqext::exec_sql(c, "select 1 from t"), 0);
    const std::string cs = "server=127.0.0.1;port=" + std::to_string(sim_.port()) + ";user=admin;pass=admin";
    EXPECT_EQ(orqext::exec_sql(cs, "select 2 from t"), 0);
    std::error_code ec;
    orqext::exec_sql(c, "use ext NoSuchModule cmd run x", ec);
    EXPECT_EQ(ec, orqext::make_error_code(-20101));
    orqext::query_sql_process(c, "select 3", ec);
    EXPECT_EQ(ec, orqext::errc::bad_statement);
    const std::string log = statements(c.handle());
    EXPECT_NE(log.find("0\tadmin\tselect 1 from t\n"), std::string::npos) << log;
    EXPECT_NE(log.find("0\tadmin\tselect 2 from t\n"), std::string::npos) << log;
}

TEST_F(CppLayerTest, ModuleAdministration) {
    orqext::connection c = open();
    EXPECT_EQ(orqext::admin::extension_version(c), "xsr-sim 1.0");
    const auto list = orqext::admin::module_list(c);
    bool echo = false;
    for (const auto& line : list.lines) echo = echo || line.rfind("Echo\t", 0) == 0;
    EXPECT_TRUE(echo) << list.raw;
    orqext::admin::register_module(c, "Lazy", {"2.0.0.0", false, "echo", "", "d", ""});
    EXPECT_EQ(orqext::admin::module_info(c, "Lazy").field("state"), std::optional<std::string>("registered"));
    orqext::admin::start_module(c, "Lazy");
    EXPECT_EQ(orqext::send(c, "Lazy", "up"), "up");
    orqext::admin::stop_module(c, "Lazy");
    orqext::admin::unregister_module(c, "Lazy");
    std::error_code ec;
    orqext::admin::module_info(c, "Lazy", std::nullopt, ec);
    EXPECT_EQ(ec, orqext::make_error_code(-20101));
}

TEST_F(CppLayerTest, ClusterEditsReadsAndRouting) {
    orqext::connection c = open();
    EXPECT_TRUE(orqext::cluster::list(c).empty());
    orqext::cluster::add(c, {"Ident", "t1", "a", "b"}, {{"127.0.0.1", sim_.port(), "admin", "admin", "n1"}});
    const auto clusters = orqext::cluster::list(c);
    ASSERT_EQ(clusters.size(), 1u);
    EXPECT_EQ(clusters[0].name, "Ident");
    const auto found = orqext::cluster::find(c, "IDENT", "T1");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->name, "Ident");
    EXPECT_FALSE(orqext::cluster::find(c, "Ident", "other").has_value());
    EXPECT_EQ(orqext::cluster::node_count(c, "Ident", "t1"), 1);
    const auto nodes = orqext::cluster::nodes(c, "Ident", "t1");
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0].port, sim_.port());
    EXPECT_EQ(nodes[0].attr, "n1");
    orqext::cluster::enable(c, true);
    EXPECT_TRUE(orqext::cluster::enabled(c));
    EXPECT_EQ(orqext::send(c, "Ident", "x"), "cppnode");
    orqext::cluster::enable(c, false);
    orqext::cluster::remove(c, "Ident", "t1", std::nullopt);
    EXPECT_EQ(orqext::cluster::count(c), 0);
}

TEST_F(CppLayerTest, TextAnalysis) {
    orqext::connection c = open();
    namespace t = orqext::text;
    EXPECT_EQ(t::nlpe_dict_import(c, "places: new york, paris"), 2);
    EXPECT_EQ(t::nlpe_dict_load(c, "places"), 2);
    const std::string text = "to new york";
    const auto segs = t::nlpe_word_sect(c, text);
    ASSERT_EQ(segs.size(), 2u);
    EXPECT_EQ(text.substr(segs[1].item, segs[1].mark), "new york");

    t::ar_dict_create(c, "cities", "travel", "york=city,new;paris=capital");
    t::ar_dict_load(c, "cities");
    const auto found = t::ar_search(c, "paris in spring");
    EXPECT_EQ(found.associations, "paris=capital\n");
    EXPECT_EQ(found.categories, "travel\n");
    EXPECT_EQ(t::ar_loaded_dict_names(c), "cities\n");

    t::extract_word_initial(c, 2);
    const auto words = t::extract_word_direct_normal(c, {"Rain rain go away", "", "", "", "", ""}, 2, false);
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(words[0].word, "rain");
    EXPECT_EQ(words[0].count, 2);

    t::bsm_word_init(c);
    const auto bsm = t::bsm_classify(c, {0, 0, {"football match and goal", "", "", "", "", "", "", ""}});
    EXPECT_EQ(bsm.first, "sports");
    EXPECT_TRUE(bsm.flag);

    std::error_code ec;
    t::eztc_classify(c, {}, ec);  // before its set-up
    EXPECT_EQ(ec, orqext::make_error_code(-20206));
}

TEST_F(CppLayerTest, TextMining) {
    orqext::connection c = open();
    namespace s = orqext::stm;
    s::initialize(c);
    EXPECT_EQ(s::is_initialized(c), 1);
    s::create_domain(c, "news", "d", "election", "", 0);
    const int32_t h = s::open_domain(c, "news");
    EXPECT_GT(h, 0);
    EXPECT_EQ(s::domain_name(c, h), "news");
    EXPECT_EQ(s::domain_names(c, 1), "news\n");
    s::keywords_init(c, h, 2);
    const std::string top = s::keywords(c, h, {{1, "vote vote vote poll poll"}}, {0, false});
    EXPECT_EQ(orqext::tab_rows(top), (std::vector<std::vector<std::string>>{{"vote", "3"}, {"poll", "2"}}));
    EXPECT_EQ(s::similarity(c, "same words", "same words"), 1000);
    std::error_code ec;
    s::open_domain(c, "missing", ec);
    EXPECT_EQ(ec, orqext::make_error_code(-20203));
    s::shutdown(c);
}

// The library's worker calls back while the test thread waits and cancels:
// also run under ThreadSanitizer.
class CppLayerConcurrencyTest : public CppLayerTest {};

TEST_F(CppLayerConcurrencyTest, AsynchronousMessagesReachTheirOwnCallbacks) {
    orqext::connection c = open();
    std::mutex m;
    std::condition_variable cv;
    std::vector<orqext::async_reply> got;
    auto note = [&](orqext::async_reply r) {
        std::lock_guard<std::mutex> g(m);
        got.push_back(std::move(r));
        cv.notify_all();
    };
    orqext::async_requester a, b;
    const auto ia = a.send_async(c, "Echo", "for a", note);
    const auto ib = b.send_async(c, "Script", "delay=10000", note);
    {
        std::unique_lock<std::mutex> lk(m);
        ASSERT_TRUE(cv.wait_for(lk, std::chrono::seconds(20), [&] { return !got.empty(); }));
        EXPECT_EQ(got[0].id, ia);
        EXPECT_EQ(got[0].answer, "for a");
    }
    EXPECT_TRUE(b.cancel(ib));
    std::lock_guard<std::mutex> g(m);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].id, ib);
    EXPECT_TRUE(got[1].cancelled());
}

// Cancelled straight after send_async, the request is most likely still
// queued (xsr-sim then refuses the cancel of ticket (-1, -1)); if the worker
// sent it first, its answer is pending there. Either way the cancel succeeds.
TEST_F(CppLayerConcurrencyTest, ACancelRightAfterTheSendSucceeds) {
    orqext::connection c = open();
    std::vector<orqext::async_reply> got;
    orqext::async_requester r;
    const auto id = r.send_async(c, "Script", "delay=10000", [&](orqext::async_reply rep) { got.push_back(rep); });
    bool done = false;
    EXPECT_NO_THROW(done = r.cancel(id));
    EXPECT_TRUE(done);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].cancelled());
    EXPECT_TRUE(got[0].result == -20103 || got[0].result == 0) << got[0].result;
    EXPECT_EQ(orqext::send(c, "Echo", "still here"), "still here");
}

}  // namespace
