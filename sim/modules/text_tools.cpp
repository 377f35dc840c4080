#include "sim/modules/text_tools.h"

#include <algorithm>
#include <cmath>

#include "common/utf8.h"

namespace xsrsim::svc {

namespace {

bool ascii_alnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Length of a well-formed UTF-8 multi-byte character at i, 0 when there is none.
std::size_t multibyte_at(const std::string& s, std::size_t i) {
    const std::size_t n = orqcommon::utf8_sequence_at(s, i);
    return n > 1 ? n : 0;
}

// Length of the token at i (0: i does not start a token).
std::size_t token_at(const std::string& s, std::size_t i) {
    if (ascii_alnum(static_cast<unsigned char>(s[i]))) {
        std::size_t j = i;
        while (j < s.size() && ascii_alnum(static_cast<unsigned char>(s[j]))) ++j;
        return j - i;
    }
    return multibyte_at(s, i);
}

// True when a token may end at position e: the end of the text, or a
// position that is not inside an ASCII word.
bool boundary(const std::string& s, std::size_t e) {
    if (e >= s.size() || e == 0) return true;
    return !(ascii_alnum(static_cast<unsigned char>(s[e - 1])) &&
             ascii_alnum(static_cast<unsigned char>(s[e])));
}

const std::set<std::string>& stop_words() {
    static const std::set<std::string> w = {
        "a",    "an",   "and",  "are", "as",   "at",   "be",   "but",  "by",    "for",
        "from", "has",  "have", "he",  "her",  "his",  "i",    "in",   "is",    "it",
        "its",  "of",   "on",   "or",  "she",  "that", "the",  "their", "them", "then",
        "there", "they", "this", "to", "was",  "we",   "were", "will", "with",  "you"};
    return w;
}

bool sentence_end(const std::string& s, std::size_t i, std::size_t* len) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '.' || c == '!' || c == '?' || c == '\n') {
        *len = 1;
        return true;
    }
    // U+3002 ideographic full stop, U+FF01 and U+FF1F full-width ! and ?
    static const char* const wide[] = {"\xE3\x80\x82", "\xEF\xBC\x81", "\xEF\xBC\x9F"};
    for (const char* w : wide)
        if (s.compare(i, 3, w) == 0) {
            *len = 3;
            return true;
        }
    return false;
}

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return s.substr(b, e - b);
}

}  // namespace

std::vector<Token> segment(const std::string& text, const std::set<std::string>* lexicon) {
    std::vector<Token> out;
    const std::string low = lexicon ? lower_ascii(text) : std::string();
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t n = token_at(text, i);
        if (n == 0) {
            ++i;
            continue;
        }
        if (lexicon) {
            // Lexicon words are in lower case; only those that start with
            // this token can match here.
            const std::string head = low.substr(i, n);
            for (auto it = lexicon->lower_bound(head); it != lexicon->end(); ++it) {
                const std::string& w = *it;
                if (w.compare(0, head.size(), head) != 0) break;
                if (w.size() > n && low.compare(i, w.size(), w) == 0 && boundary(text, i + w.size()))
                    n = w.size();
            }
        }
        out.push_back(Token{i, n});
        i += n;
    }
    return out;
}

std::string lower_ascii(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::vector<std::string> terms(const std::string& text) {
    std::vector<std::string> out;
    for (const Token& t : segment(text)) out.push_back(lower_ascii(text.substr(t.offset, t.length)));
    return out;
}

std::vector<std::string> distinct_terms(const std::string& text) {
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (std::string& t : terms(text))
        if (seen.insert(t).second) out.push_back(std::move(t));
    return out;
}

bool is_stop_word(const std::string& term) { return stop_words().count(term) != 0; }

Counts count_terms(const std::string& text, bool drop_stop) {
    Counts c;
    for (const std::string& t : terms(text))
        if (!drop_stop || !is_stop_word(t)) ++c[t];
    return c;
}

void add_counts(Counts& into, const Counts& more, int64_t weight) {
    for (const auto& kv : more) into[kv.first] += kv.second * weight;
}

double cosine(const Counts& a, const Counts& b) {
    double dot = 0, na = 0, nb = 0;
    for (const auto& kv : a) {
        na += static_cast<double>(kv.second) * static_cast<double>(kv.second);
        auto it = b.find(kv.first);
        if (it != b.end()) dot += static_cast<double>(kv.second) * static_cast<double>(it->second);
    }
    for (const auto& kv : b) nb += static_cast<double>(kv.second) * static_cast<double>(kv.second);
    if (na == 0 || nb == 0) return 0;
    return dot / (std::sqrt(na) * std::sqrt(nb));
}

int32_t permille(double c) {
    const double v = std::floor(c * 1000.0 + 0.5);
    if (v < 0) return 0;
    if (v > 1000) return 1000;
    return static_cast<int32_t>(v);
}

std::vector<std::pair<std::string, int64_t>> top_terms(const Counts& c, std::size_t n) {
    std::vector<std::pair<std::string, int64_t>> v(c.begin(), c.end());
    std::stable_sort(v.begin(), v.end(), [](const auto& x, const auto& y) { return x.second > y.second; });
    if (v.size() > n) v.resize(n);
    return v;
}

const std::vector<Category>& builtin_categories() {
    static const std::vector<Category> c = {
        {"sports", {"ball", "coach", "game", "goal", "league", "match", "player", "score", "season", "team"}},
        {"finance", {"bank", "fund", "invest", "investment", "market", "money", "price", "profit", "rate",
                     "stock", "trade"}},
        {"technology", {"cloud", "code", "computer", "data", "digital", "internet", "network", "program",
                        "server", "software"}},
        {"health", {"care", "disease", "doctor", "health", "hospital", "medicine", "patient", "treatment",
                    "virus"}},
        {"politics", {"election", "government", "law", "minister", "parliament", "party", "policy",
                      "president", "vote"}},
        {"weather", {"forecast", "rain", "snow", "storm", "sunny", "temperature", "wind"}},
    };
    return c;
}

std::vector<Score> classify(const Counts& text_terms, const std::vector<Category>& categories) {
    std::vector<Score> out;
    for (const Category& cat : categories) {
        int64_t s = 0;
        for (const auto& kv : text_terms) {
            const std::string& t = kv.first;
            const bool plural = t.size() > 1 && t.back() == 's' && cat.words.count(t.substr(0, t.size() - 1));
            if (cat.words.count(t) || plural) s += kv.second;
        }
        if (s > 0) out.push_back(Score{cat.name, s});
    }
    std::stable_sort(out.begin(), out.end(), [](const Score& a, const Score& b) { return a.score > b.score; });
    return out;
}

std::string score_list(const std::vector<Score>& scores) {
    std::string s;
    for (const Score& sc : scores) {
        if (!s.empty()) s += ',';
        s += sc.name + "=" + decimal(sc.score);
    }
    return s;
}

std::vector<std::string> sentences(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0, i = 0;
    while (i < text.size()) {
        std::size_t len = 0;
        if (sentence_end(text, i, &len)) {
            const std::string s = trim(text.substr(start, i + len - start));
            if (!s.empty()) out.push_back(s);
            i += len;
            start = i;
        } else {
            ++i;
        }
    }
    const std::string rest = trim(text.substr(start));
    if (!rest.empty()) out.push_back(rest);
    return out;
}

std::string abstract_of(const std::string& text, const Counts& context, int32_t k) {
    const std::vector<std::string> sents = sentences(text);
    Counts freq = count_terms(text, true);
    add_counts(freq, context);
    std::vector<std::pair<int64_t, std::size_t>> scored;  // score, index
    for (std::size_t i = 0; i < sents.size(); ++i) {
        int64_t s = 0;
        for (const std::string& t : terms(sents[i]))
            if (!is_stop_word(t)) s += freq[t];
        scored.push_back({s, i});
    }
    std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    const std::size_t take = k < 1 ? 1 : static_cast<std::size_t>(k);
    if (scored.size() > take) scored.resize(take);
    std::sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    std::string out;
    for (const auto& s : scored) {
        if (!out.empty()) out += ' ';
        out += sents[s.second];
    }
    return out;
}

namespace {

std::vector<std::string> split_list(const std::string& text, bool blanks_separate) {
    std::vector<std::string> out;
    std::string cur;
    auto flush = [&] {
        const std::string t = trim(cur);
        if (!t.empty()) out.push_back(lower_ascii(t));
        cur.clear();
    };
    for (char c : text) {
        if (c == ',' || c == ';' || c == '\n' || ((c == ' ' || c == '\t') && blanks_separate))
            flush();
        else
            cur += c;
    }
    flush();
    return out;
}

}  // namespace

std::vector<std::string> word_list(const std::string& text) { return split_list(text, true); }

std::vector<std::string> item_list(const std::string& text) { return split_list(text, false); }

std::string decimal(int64_t v) { return std::to_string(v); }

}  // namespace xsrsim::svc
