// The semantic text mining exports ("KExt_STM") end to end against the
// simulated module: the engine switch, the knowledge domain lifecycle, the
// analysers and the extractors, each reply checked against what the module
// computes from the texts sent.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/e2e_cli/service_fixture.h"

namespace e2ecli {
namespace {

using StmServices = ServiceTest;

std::string list_domains(int32_t conn, int32_t mode, int32_t* rc) {
    char buf[256];
    int32_t len = sizeof buf;
    *rc = ORQExt_STM_GetDomainNameList(conn, buf, &len, mode);
    return *rc == 0 ? std::string(buf, static_cast<std::size_t>(len)) : std::string();
}

TEST_F(StmServices, KnowledgeDomainLifecycle) {
    int32_t rc = 0;
    EXPECT_EQ(ORQExt_STM_IsInitialized(conn_), 0);
    ASSERT_EQ(ORQExt_STM_Initialize(conn_), 0);
    EXPECT_EQ(ORQExt_STM_IsInitialized(conn_), 1);

    EXPECT_EQ(ORQExt_STM_CreateDomain(conn_, "markets", "market news", "bank, stock", nullptr, 0), 0);
    EXPECT_EQ(ORQExt_STM_CreateDomain(conn_, "markets", nullptr, nullptr, nullptr, 1), kModExists);
    EXPECT_EQ(ORQExt_STM_CreateDomain(conn_, "", nullptr, nullptr, nullptr, 0), kModValue);
    EXPECT_EQ(ORQExt_STM_CreateDomain(conn_, "sports", nullptr, "goal", nullptr, 0), 0);
    EXPECT_EQ(list_domains(conn_, 0, &rc), "markets\nsports\n");
    EXPECT_EQ(list_domains(conn_, 1, &rc), "") << "none open yet";

    const int32_t h = ORQExt_STM_OpenDomain(conn_, "markets");
    EXPECT_EQ(h, 1) << "handles are given in creation order";
    EXPECT_EQ(ORQExt_STM_OpenDomain(conn_, "nope"), kModNotFound);
    char name[16];
    int32_t len = sizeof name;
    ASSERT_EQ(ORQExt_STM_GetDomainName(conn_, h, name, &len), 0);
    EXPECT_EQ(std::string(name, static_cast<std::size_t>(len)), "markets");
    // The module fits the name to the capacity the frame names.
    len = 3;
    ASSERT_EQ(ORQExt_STM_GetDomainName(conn_, h, name, &len), 0);
    EXPECT_EQ(std::string(name, static_cast<std::size_t>(len)), "mar");
    len = sizeof name;
    EXPECT_EQ(ORQExt_STM_GetDomainName(conn_, 99, name, &len), kModNotFound);
    EXPECT_EQ(ORQExt_STM_GetDomainHandle(conn_, "sports"), 2);
    EXPECT_EQ(list_domains(conn_, 1, &rc), "markets\n");
    // Modes other than 0 and 1 go out as 0: every domain.
    EXPECT_EQ(list_domains(conn_, 5, &rc), "markets\nsports\n");

    EXPECT_EQ(ORQExt_STM_CloseDomain(conn_, "markets"), 0);
    EXPECT_EQ(ORQExt_STM_CloseDomain(conn_, "markets"), kModState) << "not open";
    EXPECT_EQ(ORQExt_STM_DeleteDomain(conn_, "sports"), 0);
    EXPECT_EQ(ORQExt_STM_GetDomainHandle(conn_, "sports"), kModNotFound);
    EXPECT_EQ(ORQExt_STM_DeleteDomain(conn_, "sports"), kModNotFound);

    // Stopping the engine closes the open domains.
    ASSERT_GT(ORQExt_STM_OpenDomain(conn_, "markets"), 0);
    ASSERT_EQ(ORQExt_STM_ShutDown(conn_), 0);
    EXPECT_EQ(ORQExt_STM_IsInitialized(conn_), 0);
    EXPECT_EQ(list_domains(conn_, 1, &rc), "");
    EXPECT_EQ(list_domains(conn_, 0, &rc), "markets\n");
}

TEST_F(StmServices, ClassifierUsesTheDomainKeywordsBesideTheBuiltInLists) {
    ASSERT_EQ(ORQExt_STM_CreateDomain(conn_, "pets", nullptr, "cat dog", nullptr, 0), 0);
    const int32_t h = ORQExt_STM_GetDomainHandle(conn_, "pets");
    ASSERT_GT(h, 0);
    const StmTextItem items[3] = {{1, 0, "my cat and dog"}, {2, 0, "bank stock"}, {3, 0, "nothing here"}};
    const StmClassifierOptions opts{0, 0, 0};
    char out[128];
    int32_t len = sizeof out;
    EXPECT_EQ(ORQExt_STM_TextClassifier_Do(conn_, h, out, &len, items, 3, &opts), kModState) << "before Init";
    ASSERT_EQ(ORQExt_STM_TextClassifier_Init(conn_, h, 1), 0);
    len = sizeof out;
    ASSERT_EQ(ORQExt_STM_TextClassifier_Do(conn_, h, out, &len, items, 3, &opts), 0);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(len)), "1\tpets\t2\n2\tfinance\t2\n3\tunclassified\t0\n");
    // A minimum score of 3 leaves every text unclassified.
    ASSERT_EQ(ORQExt_STM_TextClassifier_Init(conn_, h, 3), 0);
    len = sizeof out;
    ASSERT_EQ(ORQExt_STM_TextClassifier_Do(conn_, h, out, &len, items, 1, &opts), 0);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(len)), "1\tunclassified\t0\n");
    ASSERT_EQ(ORQExt_STM_TextClassifier_ShutDown(conn_, h), 0);
    EXPECT_EQ(ORQExt_STM_TextClassifier_ShutDown(conn_, h), kModState);
}

TEST_F(StmServices, InfoFilterAnswersTheCountOfMatchingTexts) {
    const StmTextItem items[3] = {{1, 0, "my cat"}, {2, 0, "a bird"}, {3, 0, "Dog days"}};
    EXPECT_EQ(ORQExt_STM_InfoFilter_Do(conn_, 7, items, 3), kModState);
    ASSERT_EQ(ORQExt_STM_InfoFilter_Init(conn_, 7, "cat, dog"), 0);
    EXPECT_EQ(ORQExt_STM_InfoFilter_Do(conn_, 7, items, 3), 2);
    EXPECT_EQ(ORQExt_STM_InfoFilter_Do(conn_, 7, items + 1, 1), 0);
    // An item's length counts its bytes: "Dog" is cut to "Do".
    const StmTextItem cut{4, 2, "Dog"};
    EXPECT_EQ(ORQExt_STM_InfoFilter_Do(conn_, 7, &cut, 1), 0);
    ASSERT_EQ(ORQExt_STM_InfoFilter_ShutDown(conn_, 7), 0);
    EXPECT_EQ(ORQExt_STM_InfoFilter_Do(conn_, 7, items, 3), kModState);
}

TEST_F(StmServices, ClusterAndKeywordExtractorCountTerms) {
    const StmTextItem texts[3] = {{1, 0, "stock stock market"}, {2, 0, "market market"}, {3, 0, "stock"}};
    EXPECT_EQ(ORQExt_STM_TextCluster_Do(conn_, 3, texts, 3, ""), kModState);
    ASSERT_EQ(ORQExt_STM_TextCluster_Init(conn_, 3), 0);
    EXPECT_EQ(ORQExt_STM_TextCluster_Do(conn_, 3, texts, 3, ""), 2) << "stock and market";
    const StmTextItem goal{4, 0, "goal"};
    EXPECT_EQ(ORQExt_STM_TextCluster_Do(conn_, 3, &goal, 1, ""), 3);
    StmClusterShutdownArgs args{};
    std::strcpy(args.name, "c");
    ASSERT_EQ(ORQExt_STM_TextCluster_ShutDown(conn_, 3, &args), 0);
    // Leaving "stock" out of the labels puts text 1 under "market".
    ASSERT_EQ(ORQExt_STM_TextCluster_Init(conn_, 3), 0);
    EXPECT_EQ(ORQExt_STM_TextCluster_Do(conn_, 3, texts, 2, "stock"), 1);

    const StmTextItem kw[2] = {{1, 0, "cat dog cat"}, {2, 0, "dog cat bird"}};
    const StmOptionPair all{0, 0}, one{1, 0};
    char out[64];
    int32_t len = sizeof out;
    ASSERT_EQ(ORQExt_STM_KeyWordExtractor_Init(conn_, 5, 2), 0);
    ASSERT_EQ(ORQExt_STM_KeyWordExtractor_Do(conn_, 5, out, &len, kw, 2, &all), 0);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(len)), "cat\t3\ndog\t2\n");
    len = sizeof out;
    ASSERT_EQ(ORQExt_STM_KeyWordExtractor_Do(conn_, 5, out, &len, kw, 2, &one), 0);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(len)), "cat\t3\n");
}

TEST_F(StmServices, SimilarityIsTheCosineOfWordCounts) {
    struct Case {
        const char* a;
        const char* b;
        int32_t expected;
    } cases[] = {
        {"a b", "a c", 500},
        {"x y", "y x", 1000},
        {"The cat", "the CAT", 1000},
        {"cat", "dog", 0},
        {"a a b", "a b b", 800},  // (2 + 2) / (sqrt 5 * sqrt 5)
    };
    for (const Case& c : cases)
        EXPECT_EQ(ORQExt_STM_Similarity_Analyst(conn_, c.a, c.b), c.expected) << c.a << " / " << c.b;
}

TEST_F(StmServices, AbstractsTakeTheHighestScoringSentences) {
    const char* text = "Cats purr. Dogs bark loudly at cats. The sun is hot.";
    // Scores: 3, 5 and 2 (cats counts twice in the text).
    struct Case {
        int32_t k;
        const char* context;
        const char* expected;
    } cases[] = {
        {1, nullptr, "Dogs bark loudly at cats."},
        {2, nullptr, "Cats purr. Dogs bark loudly at cats."},
        {0, nullptr, "Dogs bark loudly at cats."},
        {1, "sun sun sun sun", "The sun is hot."},
        {5, nullptr, "Cats purr. Dogs bark loudly at cats. The sun is hot."},
    };
    ASSERT_EQ(ORQExt_STM_Abstractor_Init(conn_), 0);
    ASSERT_EQ(ORQExt_STM_AbstractExtractor_Initialize(conn_, 2), 0);
    for (const Case& c : cases) {
        const StmOptionPair opt{c.k, 0};
        const StmTextItem ctx{1, 0, c.context ? c.context : ""};
        char out[128];
        int32_t len = sizeof out;
        ASSERT_EQ(ORQExt_STM_Abstractor_Do(conn_, text, out, &len, &opt, &ctx, c.context ? 1 : 0), 0);
        EXPECT_EQ(std::string(out, static_cast<std::size_t>(len)), c.expected) << "k " << c.k;
        len = sizeof out;
        ASSERT_EQ(ORQExt_STM_AbstractExtractor_Do(conn_, 2, text, out, &len, &opt, &ctx, c.context ? 1 : 0), 0);
        EXPECT_EQ(std::string(out, static_cast<std::size_t>(len)), c.expected) << "k " << c.k;
    }
    const StmOptionPair opt{1, 0};
    char out[16];
    int32_t len = sizeof out;
    EXPECT_EQ(ORQExt_STM_AbstractExtractor_Do(conn_, 9, text, out, &len, &opt, nullptr, 0), kModState);
}

TEST_F(StmServices, VectorSpaceModelAndItsResults) {
    const StmTextItem docs[2] = {{1, 0, "cat dog"}, {2, 0, "dog fish"}};
    const StmVsmOptions opt{0, 0, 0};
    char out[128];
    int32_t len = sizeof out;
    EXPECT_EQ(ORQExt_STM_VSMGenerator_GetResult(conn_, 4, out, &len, "cat", &opt), kModState);
    ASSERT_EQ(ORQExt_STM_VSMGenerator_Init(conn_, 4), 0);
    EXPECT_EQ(ORQExt_STM_VSMGenerator_GetResult(conn_, 4, out, &len, "cat", &opt), kModState) << "no model built";
    len = sizeof out;
    ASSERT_EQ(ORQExt_STM_VSMGenerator_Do(conn_, 4, out, &len, docs, 2, &opt), 0);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(len)), "terms\t3\ndocuments\t2\ncat\t1\ndog\t2\nfish\t1\n");
    len = sizeof out;
    ASSERT_EQ(ORQExt_STM_VSMGenerator_GetResult(conn_, 4, out, &len, "cat dog", &opt), 0);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(len)), "1\t1000\n2\t500\n");
    len = sizeof out;
    ASSERT_EQ(ORQExt_STM_VSMGenerator_GetResult(conn_, 4, out, &len, "fish", &opt), 0);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(len)), "2\t707\n1\t0\n");
    ASSERT_EQ(ORQExt_STM_VSMGenerator_ShutDown(conn_, 4), 0);
}

}  // namespace
}  // namespace e2ecli
