// The extension statement parser and ORQExt_QuerySqlProcess.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "exports/orqext.h"
#include "modules/statement.h"
#include "tests/support/fixture.h"

using namespace xsrdouble;

namespace {

constexpr const char* kRefused = "<refused>";

struct Case {
    const char* statement;
    const char* module;  // kRefused: not an extension statement
    const char* rest;
};

TEST(StatementParserTest, ModuleAndRest) {
    const Case cases[] = {
        // No command clause, no pairs.
        {"use ext M select 1", "M", "select 1"},
        // Clause and pairs, quoted value with a blank.
        {"use ext M cmd run a=1 b='x y' select * from t", "M", "select * from t"},
        // No pair: the rest starts at the separator after the command word.
        {"use ext M cmd run;select 1", "M", ";select 1"},
        {"USE EXT M x", "M", "x"},
        {"Use eXt KExt_NLPE  \t\n  text", "KExt_NLPE", "text"},
        {"use ext M", kRefused, nullptr},
        {"use ext M cmd run a=1", "M", ""},
        // Unclosed quote: no pair, the rest is from the command word's end.
        {"use ext M cmd run a='x", "M", "a='x"},
        {"select * from t", kRefused, nullptr},
        {"use", kRefused, nullptr},
        {"use ext", kRefused, nullptr},
        {"use ext ", kRefused, nullptr},
        {"usex ext M a", kRefused, nullptr},
        {"use exts M a", kRefused, nullptr},
        {"ext use M a", kRefused, nullptr},
        {"", kRefused, nullptr},
        {";;use,ext:M;rest", "M", ";rest"},
        {"use=ext=M=rest", "M", "=rest"},
        {"use ext M ", "M", ""},
        // "cmd" without a command word, or followed by "=": no clause.
        {"use ext M cmd", "M", "cmd"},
        {"use ext M cmd =x rest", "M", "rest"},
        {"use ext M cmd= x rest", "M", "rest"},
        {"use ext M cmd run", "M", "cmd run"},
        // Double quotes, "=" inside an unquoted value, gaps around "=".
        {"use ext M cmd run k=\"a;b\" v=x=y ; tail", "M", "; tail"},
        {"use ext M cmd go k , = v tail", "M", "tail"},
        {"use ext M k=v", "M", ""},
        {"use ext M k=v\tnext part", "M", "next part"},
        // A quote closing at the very end leaves no rest.
        {"use ext M cmd run a='x y'", "M", ""},
        // The character right after a closing quote is the follower, so the
        // rest starts one past it.
        {"use ext M cmd run a='x'select 1", "M", "elect 1"},
        // A key with nothing after its "=": the pairs end there.
        {"use ext M cmd run a=", "M", "a="},
        {"use ext M cmd run a= \t", "M", "a= \t"},
        // A word that is no key.
        {"use ext M cmd run select a=1", "M", "select a=1"},
    };
    for (const Case& k : cases) {
        orq::statement::Parsed p;
        const bool ok = orq::statement::parse(k.statement, &p);
        if (k.module == kRefused) {
            EXPECT_FALSE(ok) << k.statement;
            continue;
        }
        ASSERT_TRUE(ok) << k.statement;
        EXPECT_EQ(p.module, k.module) << k.statement;
        EXPECT_EQ(p.rest, k.rest) << k.statement;
    }
}

TEST(StatementParserTest, CommandWordAndPairsAreRecognised) {
    orq::statement::Parsed p;
    ASSERT_TRUE(orq::statement::parse("use ext M CMD run a=1 b='x y' c=\"q\" d=e=f tail", &p));
    EXPECT_EQ(p.command, "run");
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"a", "1"}, {"b", "x y"}, {"c", "q"}, {"d", "e=f"}};
    EXPECT_EQ(p.pairs, pairs);
    EXPECT_EQ(p.rest, "tail");

    ASSERT_TRUE(orq::statement::parse("use ext M cmd=x y", &p));
    EXPECT_EQ(p.command, "") << "cmd followed by '=' is no clause";
    ASSERT_EQ(p.pairs.size(), 1u);
    EXPECT_EQ(p.pairs[0], std::make_pair(std::string("cmd"), std::string("x")));
    EXPECT_EQ(p.rest, "y");
}

using QuerySqlProcessTest = testing_support::LibraryTest;

TEST_F(QuerySqlProcessTest, SendsTheRestToTheParsedModule) {
    struct Send {
        const char* statement;
        std::string message;
    };
    const Send cases[] = {
        {"use ext KExt_A cmd run a=1 b='x y' select * from t",
         cstr("KExt_A") + '\0' + cstr("r!") + cstr("GetKSQLProcess") + cstr("select * from t")},
        {"use ext M cmd run a=1", cstr("M") + '\0' + cstr("r!") + cstr("GetKSQLProcess") + '\0'},
    };
    for (const Send& k : cases) {
        reset();
        push(ok("ignored answer"));
        EXPECT_EQ(ORQExt_QuerySqlProcess(12, k.statement), 0);
        auto cs = calls_of(Fn::Command);
        ASSERT_EQ(cs.size(), 1u);
        EXPECT_EQ(cs[0].handle, 12);
        EXPECT_EQ(cs[0].code(), 2);
        EXPECT_EQ(cs[0].body, k.message);
    }
    reset();
    push(fail(-5005));
    EXPECT_EQ(ORQExt_QuerySqlProcess(12, "use ext M x"), -5005) << "the exchange's result";
}

TEST_F(QuerySqlProcessTest, RefusesWithoutSending) {
    EXPECT_EQ(ORQExt_QuerySqlProcess(0, "use ext M x"), -1100);
    EXPECT_EQ(ORQExt_QuerySqlProcess(12, nullptr), -1100);
    EXPECT_EQ(ORQExt_QuerySqlProcess(12, ""), -1100);
    EXPECT_EQ(ORQExt_QuerySqlProcess(12, "use ext M"), -3502);
    EXPECT_EQ(ORQExt_QuerySqlProcess(12, "select 1"), -3502);
    EXPECT_EQ(calls().size(), 0u);
}

}  // namespace
