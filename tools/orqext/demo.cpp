// orqext demo: starts xsr-sim on free loopback ports and walks through the
// library's main abilities with readable output. Every call's result is
// checked; the first failure ends the demo with its code and meaning, and
// every server it started is stopped on the way out.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

#include "exports/orqext.h"
#include "tools/orqext/async_wait.h"
#include "tools/orqext/commands.h"
#include "tools/orqext/results.h"
#include "tools/orqext/sim_launcher.h"

namespace orqext {
namespace {

constexpr int kStartMs = 10000;
constexpr int kCallbackWaitMs = 10000;

class Narrator {
public:
    explicit Narrator(std::ostream& out) : out_(out) {}

    void section(const std::string& title) { out_ << "\n== " << ++n_ << ". " << title << " ==\n"; }
    // Everything shown goes through terminal_safe: it holds server answers.
    void note(const std::string& s) { out_ << "  " << terminal_safe(s, true) << "\n"; }
    // One call and what it gave; a negative result ends the demo.
    int32_t call(const std::string& what, int32_t rc, const std::string& shown = std::string()) {
        std::string left = "  " + terminal_safe(what, true);
        if (left.size() < 58) left += std::string(58 - left.size(), ' ');
        else left += "  ";
        out_ << left << "-> " << (shown.empty() ? describe_short(rc) : terminal_safe(shown, true)) << "\n";
        out_.flush();
        check(what, rc);
        return rc;
    }
    void lines(const std::vector<std::string>& ls, const std::string& indent = "      ") {
        for (const std::string& l : ls) out_ << indent << terminal_safe(l, true) << "\n";
    }
    std::ostream& out() { return out_; }

private:
    static std::string describe_short(int32_t rc) {
        const CodeInfo* c = find_code(rc);
        if (rc == 0) return "0 (success)";
        return std::to_string(rc) + (c ? std::string(" (") + c->name + ")" : rc > 0 ? " (status word)" : "");
    }
    std::ostream& out_;
    int n_ = 0;
};

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

std::string table_row(const std::vector<std::string>& cells, const std::vector<std::size_t>& w) {
    std::string s;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        s += cells[i];
        if (i + 1 < cells.size() && cells[i].size() < w[i]) s += std::string(w[i] - cells[i].size(), ' ');
        if (i + 1 < cells.size()) s += "  ";
    }
    return s;
}

// Tab-separated lines as an aligned table under a header.
std::vector<std::string> tabulate(const std::vector<std::string>& header, const std::vector<std::string>& lines) {
    std::vector<std::vector<std::string>> rows{header};
    for (const std::string& l : lines) {
        std::vector<std::string> cells;
        std::size_t i = 0;
        while (i <= l.size()) {
            std::size_t t = l.find('\t', i);
            if (t == std::string::npos) t = l.size();
            cells.push_back(l.substr(i, t - i));
            i = t + 1;
        }
        rows.push_back(cells);
    }
    std::vector<std::size_t> w(header.size(), 0);
    for (const auto& r : rows)
        for (std::size_t i = 0; i < r.size() && i < w.size(); ++i) w[i] = std::max(w[i], r[i].size());
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(table_row(r, w));
    return out;
}

std::string send_text(int32_t conn, const char* module, const std::string& payload, int32_t* rc) {
    char answer[512];
    int32_t len = sizeof answer;
    *rc = ORQExt_SendMessage(conn, module, nullptr, payload.data(), static_cast<int32_t>(payload.size()), answer,
                             &len);
    return *rc == 0 && len > 0 ? std::string(answer, static_cast<std::size_t>(len < 512 ? len : 512)) : std::string();
}

void fill(char* field, std::size_t n, const std::string& v) {
    std::memset(field, 0, n);
    std::memcpy(field, v.data(), std::min(v.size(), n - 1));
}

std::string field(const char* p, std::size_t n) { return std::string(p, strnlen(p, n)); }

void connect_section(Narrator& say, const SimServer& main_server, int32_t* conn) {
    say.section("Connect");
    const int port = main_server.port();
    say.call("ORQExt_GetServerStatus(\"127.0.0.1\", " + std::to_string(port) + ")",
             ORQExt_GetServerStatus("127.0.0.1", port));
    int32_t status = 0;
    *conn = ORQExt_Connect("127.0.0.1", port, "admin", "admin", &status);
    say.call("ORQExt_Connect(\"127.0.0.1\", " + std::to_string(port) + ", \"admin\", ...)", status,
             "handle " + std::to_string(*conn) + ", result " + std::to_string(status));
    say.call("ORQExt_IsConnect(" + std::to_string(*conn) + ")", ORQExt_IsConnect(*conn) != 0 ? 0 : -1,
             "alive");
}

void admin_section(Narrator& say, int32_t conn) {
    say.section("Module administration");
    // Each call runs before its report is put together: the report reads
    // what the call wrote.
    std::string buf(65536, '\0');
    int32_t len = static_cast<int32_t>(buf.size());
    const int32_t vrc = ORQExt_GetExtVersion(conn, &buf[0], &len);
    const std::vector<std::string> version = lines_of(buf.substr(0, static_cast<std::size_t>(len < 0 ? 0 : len)));
    say.call("ORQExt_GetExtVersion", vrc, quoted(version.empty() ? "" : version[0]));
    say.call("register KExt_NLPE, version 2.0 (ORQExt_RegExtMod)",
             ORQExt_RegExtMod(conn, "KExt_NLPE", "2.0", 0, nullptr, nullptr, "text analysis", nullptr));
    len = static_cast<int32_t>(buf.size());
    say.call("ORQExt_GetModInfo(\"KExt_NLPE\")", ORQExt_GetModInfo(conn, "KExt_NLPE", nullptr, &buf[0], &len));
    for (const std::string& l : lines_of(buf.substr(0, static_cast<std::size_t>(len))))
        if (l.rfind("state=", 0) == 0 || l.rfind("version=", 0) == 0) say.note("    " + l);
    say.call("start KExt_NLPE (ORQExt_LoadExtMod)", ORQExt_LoadExtMod(conn, "KExt_NLPE", "2.0"));
    say.call("register KExt_STM with autostart", ORQExt_RegExtMod(conn, "KExt_STM", nullptr, 1, nullptr, nullptr,
                                                                  "semantic text mining", nullptr));
    len = static_cast<int32_t>(buf.size());
    say.call("ORQExt_GetModInfos (module list)", ORQExt_GetModInfos(conn, &buf[0], &len));
    say.lines(tabulate({"module", "version", "state", "type"}, lines_of(buf.substr(0, static_cast<std::size_t>(len)))));
}

void segment_section(Narrator& say, int32_t conn) {
    say.section("Word segmentation (KExt_NLPE, engine 0)");
    const std::string text = "New York banks store \xE6\x95\xB0\xE6\x8D\xAE\xE5\xBA\x93 data.";
    auto show = [&](const std::string& title) {
        int32_t items[64];
        int16_t marks[64];
        const int32_t n = ORQExt_NLPE_WordSect(conn, text.c_str(), items, 64, 0, 0, marks, 0, 0, 0);
        say.call(title, n, std::to_string(n) + " words");
        std::string words;
        for (int32_t i = 0; i < n; ++i) {
            const std::size_t off = static_cast<std::size_t>(items[i]), l = static_cast<uint16_t>(marks[i]);
            const std::string w = off + l <= text.size() ? text.substr(off, l) : "?";
            words += (i ? " | " : "") + w + " @" + std::to_string(off) + "+" + std::to_string(l);
        }
        say.note("    " + words);
    };
    say.note("text: " + quoted(text));
    show("ORQExt_NLPE_WordSect");
    say.call("ORQExt_NLPE_DictImport(\"demo: new york, <3 characters>\")",
             ORQExt_NLPE_DictImport(conn, "demo: new york, \xE6\x95\xB0\xE6\x8D\xAE\xE5\xBA\x93"),
             "");
    say.call("ORQExt_NLPE_DictLoad(\"demo\")", ORQExt_NLPE_DictLoad(conn, "demo"));
    show("ORQExt_NLPE_WordSect, dictionary loaded");
}

void classify_section(Narrator& say, int32_t conn) {
    say.section("Classification (KExt_NLPE, engine 3) and similarity (KExt_STM)");
    say.call("ORQExt_CLA_SetPath", ORQExt_CLA_SetPath(conn, nullptr));
    const char* fields[7] = {"Markets rallied after the bank cut its rate.", "Stock prices rose on heavy trade.",
                             "The coach was not asked.", nullptr, nullptr, nullptr, nullptr};
    for (int i = 0; i < 3; ++i) say.note("text " + std::to_string(i + 1) + ": " + quoted(fields[i]));
    char a[64], b[256];
    int32_t la = sizeof a, lb = sizeof b, va = 0, vc = 0;
    uint8_t vb = 0;
    say.call("ORQExt_CLA_GetClassifyResult",
             ORQExt_CLA_GetClassifyResult(conn, 0, fields, a, &la, b, &lb, &vc, &vb, &va, 0));
    say.note("    category " + quoted(a) + ", scores " + quoted(b));
    say.note("    value A (best score) " + std::to_string(va) + ", value B (categories matched) " +
             std::to_string(vb) + ", value C (words) " + std::to_string(vc));
    const char* t1 = "the cat sat on the mat";
    const char* t2 = "the cat sat on a mat";
    const int32_t sim = ORQExt_STM_Similarity_Analyst(conn, t1, t2);
    say.note("text 1: " + quoted(t1) + ", text 2: " + quoted(t2));
    say.call("ORQExt_STM_Similarity_Analyst", sim, "similarity " + std::to_string(sim) + "/1000 (cosine of word counts)");
}

void domain_section(Narrator& say, int32_t conn) {
    say.section("Knowledge domain lifecycle (KExt_STM)");
    say.call("ORQExt_STM_Initialize", ORQExt_STM_Initialize(conn));
    const int32_t on = ORQExt_STM_IsInitialized(conn);
    say.call("ORQExt_STM_IsInitialized", on, std::to_string(on) + (on == 1 ? " (yes)" : ""));
    say.call("create domain \"markets\"",
             ORQExt_STM_CreateDomain(conn, "markets", "market news", "bank stock market rate", nullptr, 0));
    say.call("create domain \"football\"",
             ORQExt_STM_CreateDomain(conn, "football", "football news", "goal league match", nullptr, 0));
    auto list = [&](int32_t mode, const std::string& what) {
        char buf[1024];
        int32_t len = sizeof buf;
        say.call(what, ORQExt_STM_GetDomainNameList(conn, buf, &len, mode));
        std::string names;
        for (const std::string& n : lines_of(std::string(buf, static_cast<std::size_t>(len))))
            names += (names.empty() ? "" : ", ") + n;
        say.note("    " + (names.empty() ? std::string("(none)") : names));
    };
    list(0, "ORQExt_STM_GetDomainNameList (all)");
    const int32_t h = ORQExt_STM_OpenDomain(conn, "markets");
    say.call("ORQExt_STM_OpenDomain(\"markets\")", h, "handle " + std::to_string(h));
    char name[64];
    int32_t nlen = sizeof name;
    say.call("ORQExt_STM_GetDomainName(" + std::to_string(h) + ")", ORQExt_STM_GetDomainName(conn, h, name, &nlen));
    say.note("    " + quoted(std::string(name, static_cast<std::size_t>(nlen))));
    const int32_t h2 = ORQExt_STM_GetDomainHandle(conn, "football");
    say.call("ORQExt_STM_GetDomainHandle(\"football\")", h2, "handle " + std::to_string(h2));
    list(1, "ORQExt_STM_GetDomainNameList (open ones)");
    say.call("ORQExt_STM_TextClassifier_Init(" + std::to_string(h) + ")", ORQExt_STM_TextClassifier_Init(conn, h, 1));
    const StmTextItem items[2] = {{1, 0, "The central bank held its rate."}, {2, 0, "A late goal won the match."}};
    StmClassifierOptions opts{0, 0, 0};
    char out[256];
    int32_t olen = sizeof out;
    say.call("ORQExt_STM_TextClassifier_Do (two texts)",
             ORQExt_STM_TextClassifier_Do(conn, h, out, &olen, items, 2, &opts));
    say.lines(tabulate({"id", "category", "score"}, lines_of(std::string(out, static_cast<std::size_t>(olen)))));
    say.call("ORQExt_STM_TextClassifier_ShutDown", ORQExt_STM_TextClassifier_ShutDown(conn, h));
    say.call("ORQExt_STM_CloseDomain(\"markets\")", ORQExt_STM_CloseDomain(conn, "markets"));
    say.call("ORQExt_STM_DeleteDomain(\"football\")", ORQExt_STM_DeleteDomain(conn, "football"));
    list(0, "ORQExt_STM_GetDomainNameList (all)");
}

void async_section(Narrator& say, int32_t conn) {
    say.section("Asynchronous message");
    say.call("ORQExt_SetAsyncFunc(callback)", AsyncWait::arm(7));
    const std::string script = "delay=400 size=26";
    say.note("module \"Script\" answers after 400 ms with 26 bytes (payload " + quoted(script) + ")");
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t queued = ORQExt_AsyncSendMessage(conn, "Script", nullptr, script.data(),
                                                   static_cast<int32_t>(script.size()), 7, 256);
    say.call("ORQExt_AsyncSendMessage(request id 7)", queued, std::to_string(queued) + " queued");
    say.note("the caller goes on; the library's worker polls the pending answer...");
    AsyncAnswer got;
    if (!AsyncWait::wait(kCallbackWaitMs, &got)) {
        ORQExt_CancelAsync(0, 7);
        ORQExt_SetAsyncFunc(nullptr, nullptr);
        say.call("callback within " + std::to_string(kCallbackWaitMs) + " ms", -1112);
    }
    AsyncWait::disarm();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    const std::string& answer = got.bytes;
    const std::string id = std::to_string(got.id);
    const int32_t result = got.result;
    say.call("callback for request " + id + " after " + std::to_string(ms) + " ms", result,
             std::to_string(result) + ", " + std::to_string(answer.size()) + " bytes " + quoted(answer));
    say.call("ORQExt_SetAsyncFunc(null)", ORQExt_SetAsyncFunc(nullptr, nullptr));
}

void cluster_section(Narrator& say, int32_t conn, const std::string& sim, SimServer (&nodes)[3]) {
    say.section("Cluster of three nodes with fail-over");
    for (int i = 0; i < 3; ++i) {
        std::string error;
        const std::string name = "node-" + std::to_string(i + 1);
        if (!nodes[i].start(sim, name, kStartMs, &error)) throw std::runtime_error("starting " + name + ": " + error);
        say.note("started xsr-sim " + name + " on 127.0.0.1:" + std::to_string(nodes[i].port()));
    }
    ClusterInfo ci;
    std::memset(&ci, 0, sizeof ci);
    fill(ci.name, sizeof ci.name, "Ident");
    fill(ci.tag, sizeof ci.tag, "demo");
    fill(ci.attr_a, sizeof ci.attr_a, "three nodes");
    say.note("the cluster is named after module \"Ident\", which answers its server's name");
    say.call("ORQExt_AddClusterInfo(\"Ident\"/\"demo\")", ORQExt_AddClusterInfo(conn, &ci, nullptr, 0));
    NodeInfo n[3];
    for (int i = 0; i < 3; ++i) {
        std::memset(&n[i], 0, sizeof n[i]);
        fill(n[i].server, sizeof n[i].server, "127.0.0.1");
        n[i].port = nodes[i].port();
        fill(n[i].user, sizeof n[i].user, "admin");
        fill(n[i].pass, sizeof n[i].pass, "admin");
        fill(n[i].attr, sizeof n[i].attr, nodes[i].name());
    }
    say.call("ORQExt_AddClusterInfo(three nodes)", ORQExt_AddClusterInfo(conn, &ci, n, 3));
    NodeInfo got[8];
    int32_t cap = 8;
    const int32_t copied = ORQExt_GetNodeInfo(conn, &ci, got, &cap);
    say.call("ORQExt_GetNodeInfo(\"Ident\"/\"demo\")", copied, std::to_string(copied) + " nodes");
    std::vector<std::string> rows;
    for (int32_t i = 0; i < cap; ++i)
        rows.push_back(field(got[i].server, sizeof got[i].server) + "\t" + std::to_string(got[i].port) + "\t" +
                       field(got[i].attr, sizeof got[i].attr));
    say.lines(tabulate({"server", "port", "attribute"}, rows));
    say.call("ORQExt_EnableCluster(on)", ORQExt_EnableCluster(conn, 1));
    auto routed = [&](const std::string& what) {
        int32_t rc = 0;
        const std::string who = send_text(conn, "Ident", "who", &rc);
        say.call(what, rc, "answered by " + quoted(who));
    };
    routed("message to \"Ident\"");
    routed("message to \"Ident\" again (the node connection is kept)");
    say.note("stopping " + nodes[0].name() + "...");
    nodes[0].stop();
    routed("message to \"Ident\"");
    say.note("stopping " + nodes[1].name() + "...");
    nodes[1].stop();
    routed("message to \"Ident\"");
    say.call("ORQExt_EnableCluster(off)", ORQExt_EnableCluster(conn, 0));
}

int demo_cmd(Context& ctx) {
    if (ctx.render.json) throw UsageError("'demo' tells a story; it has no JSON output");
    const std::string sim = find_sim(ctx.in.get("sim"));
    if (sim.empty())
        throw UsageError(ctx.in.has("sim") ? "--sim: '" + ctx.in.get("sim") + "' is not an executable file"
                                           : "xsr-sim not found next to orqext; give its path with --sim");
    Narrator say(*ctx.out);
    say.out() << "orqext demo: ORQExtClient against the loopback server xsr-sim\n";
    SimServer main_server;
    SimServer nodes[3];
    std::string error;
    if (!main_server.start(sim, "main", kStartMs, &error)) throw std::runtime_error("starting xsr-sim: " + error);
    say.out() << "started " << sim << " on 127.0.0.1:" << main_server.port() << " (free port)\n";

    int32_t conn = 0;
    struct Close {
        int32_t* c;
        ~Close() {
            if (*c) ORQExt_DisConnect(*c);
        }
    } close{&conn};
    connect_section(say, main_server, &conn);
    admin_section(say, conn);
    segment_section(say, conn);
    classify_section(say, conn);
    domain_section(say, conn);
    async_section(say, conn);
    cluster_section(say, conn, sim, nodes);

    say.section("Done");
    say.call("ORQExt_DisConnect(" + std::to_string(conn) + ")", ORQExt_DisConnect(conn));
    conn = 0;
    for (SimServer& s : nodes) s.stop();
    const bool clean = main_server.stop();
    say.note(std::string("servers stopped") + (clean ? "" : " (one had to be killed)"));
    return kExitOk;
}

}  // namespace

void add_demo_command(std::vector<CommandSpec>& t) {
    t.push_back({"demo", "", "start xsr-sim and walk through the library's main abilities",
                 "Starts xsr-sim itself on free loopback ports (nothing to set up), then shows:\n"
                 "connect, module administration, word segmentation and classification with\n"
                 "their decoded results, a knowledge domain's lifecycle, an asynchronous message\n"
                 "answered through the callback, and a three-node cluster in which nodes are\n"
                 "stopped and messages fail over. xsr-sim is looked for next to orqext, in\n"
                 "sim/ below it and in ../sim/, unless --sim names it.",
                 {{"sim", "PATH", "the xsr-sim program to run"}}, 0, 0, false, demo_cmd});
}

}  // namespace orqext
