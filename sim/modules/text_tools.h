// Small, deterministic text analysis shared by the simulated service
// modules: segmentation into words and characters, term counts, stop words,
// cosine similarity, category matching, sentences and abstracts.
//
// A token is a run of ASCII letters and digits, or one UTF-8 multi-byte
// character (a well-formed lead byte with its continuation bytes). Every
// other byte separates tokens; a malformed multi-byte sequence is skipped
// one byte at a time. A term is a token with ASCII letters in lower case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace xsrsim::svc {

struct Token {
    std::size_t offset = 0;
    std::size_t length = 0;
};

// Tokens of text in order. With a lexicon, a lexicon word that matches the
// text at a token's start and ends on a token boundary is taken whole
// (the longest such word, compared without regard to ASCII letter case;
// lexicon words are in lower case), so multi-character words stay together.
std::vector<Token> segment(const std::string& text, const std::set<std::string>* lexicon = nullptr);

std::string lower_ascii(const std::string& s);

// The terms of text in order.
std::vector<std::string> terms(const std::string& text);
// The distinct terms of text in order of first appearance.
std::vector<std::string> distinct_terms(const std::string& text);

bool is_stop_word(const std::string& term);

using Counts = std::map<std::string, int64_t>;
// Term counts; stop words left out when drop_stop.
Counts count_terms(const std::string& text, bool drop_stop);
void add_counts(Counts& into, const Counts& more, int64_t weight = 1);

// Cosine of two count vectors, 0 when either is empty.
double cosine(const Counts& a, const Counts& b);
// The cosine scaled to 0..1000 and rounded.
int32_t permille(double c);

// The n most frequent terms, by count (descending), then term (ascending).
std::vector<std::pair<std::string, int64_t>> top_terms(const Counts& c, std::size_t n);

// Category word lists.
struct Category {
    std::string name;
    std::set<std::string> words;
};
const std::vector<Category>& builtin_categories();

struct Score {
    std::string name;
    int64_t score = 0;
};
// Categories with at least one matching term, best first (ties in list
// order). A term matches a category word when equal to it or to it plus "s".
std::vector<Score> classify(const Counts& text_terms, const std::vector<Category>& categories);
// "name=score,name=score" of the scores.
std::string score_list(const std::vector<Score>& scores);

// Sentences of text, split after '.', '!', '?', a newline, or the
// ideographic full stop and full-width '!' and '?'; trimmed, empty ones
// dropped.
std::vector<std::string> sentences(const std::string& text);
// The k highest-scoring sentences (score: the sum of the counts, in the text
// plus `context`, of their non-stop terms; ties go to the earlier sentence),
// in text order, joined by one blank.
std::string abstract_of(const std::string& text, const Counts& context, int32_t k);

// Words of a list given as text: separated by blanks, commas, semicolons or
// newlines; in lower case; empty ones dropped.
std::vector<std::string> word_list(const std::string& text);
// The same, separated by commas, semicolons or newlines only (an item may
// hold blanks: "new york"); blanks around an item are dropped.
std::vector<std::string> item_list(const std::string& text);

std::string decimal(int64_t v);

}  // namespace xsrsim::svc
