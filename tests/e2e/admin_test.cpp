// Module administration end to end: registration and unregistration as
// text commands, start and stop as action documents, and the module list,
// module information and extension version queries.
#include <cstring>
#include <functional>

#include "tests/e2e/fixture.h"

namespace e2e {
namespace {

using namespace xsrproto;

class AdminTest : public SimTest {
protected:
    std::string query(int32_t rc_of(int32_t, void*, int32_t*), int32_t h, int32_t* rc) {
        char buf[4096];
        int32_t len = sizeof buf;
        *rc = rc_of(h, buf, &len);
        return std::string(buf, len > 0 && len <= static_cast<int32_t>(sizeof buf) ? static_cast<std::size_t>(len) : 0);
    }
    std::string info(int32_t h, const char* module, int32_t* rc) {
        char buf[4096];
        int32_t len = sizeof buf;
        *rc = ORQExt_GetModInfo(h, module, nullptr, buf, &len);
        return std::string(buf, len > 0 && len <= static_cast<int32_t>(sizeof buf) ? static_cast<std::size_t>(len) : 0);
    }
    int32_t echo_rc(int32_t h, const char* module) {
        int32_t rc = 1;
        send(h, module, "x", &rc);
        return rc;
    }
};

TEST_F(AdminTest, VersionAndModuleListComeAsText) {
    const int32_t h = connect();
    int32_t rc = 1;
    EXPECT_EQ(query(ORQExt_GetExtVersion, h, &rc), std::string("xsr-sim 1.0", 12)) << "NUL-terminated text";
    EXPECT_EQ(rc, 0);
    const std::string list = query(ORQExt_GetModInfos, h, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(list.find("Echo\t1.0.0.0\tstarted\techo\n"), std::string::npos) << list;
    EXPECT_NE(list.find("Script\t1.0.0.0\tstarted\tscript\n"), std::string::npos) << list;
}

// The queries size their buffer as a caller would: a first call with too
// small a buffer (capacity 0 for module information, where it is allowed)
// gives -1107 and the whole length, a second call with that capacity gets
// the text.
TEST_F(AdminTest, QueriesTellTheLengthTheyNeed) {
    const int32_t h = connect();
    struct Case {
        const char* what;
        std::function<int32_t(void*, int32_t*)> call;
        int32_t first_capacity;
        std::string want;
    };
    std::string list;
    {
        int32_t rc = 1;
        list = query(ORQExt_GetModInfos, h, &rc);
        ASSERT_EQ(rc, 0);
    }
    const std::string info_text = [&] {
        int32_t rc = 1;
        std::string t = info(h, "Echo", &rc);
        EXPECT_EQ(rc, 0);
        return t;
    }();
    const Case cases[] = {
        {"module information, capacity 0",
         [h](void* b, int32_t* n) { return ORQExt_GetModInfo(h, "Echo", nullptr, b, n); }, 0, info_text},
        {"module information, capacity 3",
         [h](void* b, int32_t* n) { return ORQExt_GetModInfo(h, "Echo", nullptr, b, n); }, 3, info_text},
        {"extension version, capacity 1", [h](void* b, int32_t* n) { return ORQExt_GetExtVersion(h, b, n); }, 1,
         std::string("xsr-sim 1.0", 12)},
        {"module list, capacity 1", [h](void* b, int32_t* n) { return ORQExt_GetModInfos(h, b, n); }, 1, list},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string buf(static_cast<std::size_t>(c.first_capacity) + 8, '#');
        int32_t len = c.first_capacity;
        ASSERT_EQ(c.call(&buf[0], &len), ORQEXT_E_ANSWER_TOO_LONG);
        ASSERT_EQ(len, static_cast<int32_t>(c.want.size()));
        EXPECT_EQ(buf.substr(0, static_cast<std::size_t>(c.first_capacity)),
                  c.want.substr(0, static_cast<std::size_t>(c.first_capacity)));
        EXPECT_EQ(buf.substr(static_cast<std::size_t>(c.first_capacity)), std::string(8, '#'));
        buf.assign(static_cast<std::size_t>(len), '#');
        EXPECT_EQ(c.call(&buf[0], &len), 0);
        EXPECT_EQ(buf, c.want);
    }
}

TEST_F(AdminTest, RegisterStartStopUnregister) {
    const int32_t h = connect();
    ASSERT_EQ(ORQExt_RegExtMod(h, "Mine", "2.0", 0, "echo", "p=1", "my module", "a.dll;b.dll"), 0);
    EXPECT_EQ(ORQExt_RegExtMod(h, "mine", nullptr, 0, "echo", nullptr, nullptr, nullptr), kErrRegistered);
    int32_t rc = 1;
    const std::string text = info(h, "Mine", &rc);
    EXPECT_EQ(rc, 0);
    for (const char* line : {"version=2.0\n", "state=registered\n", "type=echo\n", "param=p=1\n",
                             "desc=my module\n", "depend=a.dll;b.dll\n", "autostart=0\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
    EXPECT_EQ(echo_rc(h, "Mine"), kErrNotStarted);
    // With a second name, empty or not.
    for (const char* second : {"", "part"}) {
        char buf[1024];
        int32_t len = sizeof buf;
        EXPECT_EQ(ORQExt_GetModInfo(h, "Mine", second, buf, &len), 0) << "'" << second << "'";
        const std::string item = std::string("item=") + second + "\n";
        EXPECT_EQ(std::string(buf, len > 0 ? len : 0).find(item) != std::string::npos, *second != 0) << second;
    }

    EXPECT_EQ(ORQExt_LoadExtMod(h, "Mine", "9.9"), kErrVersion);
    EXPECT_EQ(ORQExt_LoadExtMod(h, "Mine", "2.0"), 0);
    EXPECT_EQ(send(h, "Mine", "hello", &rc), "hello");
    EXPECT_EQ(rc, 0);
    EXPECT_NE(info(h, "Mine", &rc).find("state=started\n"), std::string::npos);

    EXPECT_EQ(ORQExt_UnloadExtMod(h, "Mine", nullptr), 0);
    EXPECT_EQ(echo_rc(h, "Mine"), kErrNotStarted);
    EXPECT_EQ(ORQExt_UnRegExtMod(h, "Mine", "1.0"), kErrVersion);
    EXPECT_EQ(ORQExt_UnRegExtMod(h, "Mine", "2.0"), 0);
    EXPECT_EQ(echo_rc(h, "Mine"), kErrUnknownModule);
    info(h, "Mine", &rc);
    EXPECT_EQ(rc, kErrUnknownModule);
    EXPECT_EQ(ORQExt_UnRegExtMod(h, "Mine", nullptr), kErrUnknownModule);
    EXPECT_EQ(ORQExt_LoadExtMod(h, "Mine", nullptr), kErrUnknownModule);
}

TEST_F(AdminTest, AutostartRunsTheNamedImplementation) {
    const int32_t h = connect();
    ASSERT_EQ(ORQExt_RegExtMod(h, "Scripted", nullptr, 1, "script", nullptr, nullptr, nullptr), 0);
    int32_t rc = 1;
    EXPECT_EQ(send(h, "Scripted", "size=7", &rc), pattern(7));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ORQExt_RegExtMod(h, "KExt_Nowhere", nullptr, 1, nullptr, nullptr, nullptr, nullptr),
              kErrNoImplementation)
        << "no hosted type of that name";
    EXPECT_EQ(echo_rc(h, "KExt_Nowhere"), kErrUnknownModule) << "and so not left registered";
    // The registration texts went through as statements.
    const std::string log = statements(h);
    EXPECT_NE(log.find("0\tadmin\tuse ext Scripted cmd reg version=1.0.0.0 ModType=autostart FileRef='script'\n"),
              std::string::npos)
        << log;
}

}  // namespace
}  // namespace e2e
