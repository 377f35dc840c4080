// Simulated "KExt_NLPE": nine engines chosen by the int32 selector at the
// head of each frame. Dictionaries (engine 0) and association dictionaries
// (engine 1) live in memory; segmentation, classification, extraction and
// topic lists compute their answers from the texts they are given.
#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "sim/modules/service_modules.h"
#include "sim/modules/text_tools.h"

namespace xsrsim::svc {
namespace {

// One extracted entry: word[512] (NUL-terminated), then int32 count, first
// offset, field index and byte length.
constexpr std::size_t kEntrySize = 528;
constexpr std::size_t kEntryWord = 512;

// Fixed tail of "CLA_GetClassifyResult" after its strings: capA, capB,
// extra, value A (int32 each), value B (byte), value C (int32).
constexpr std::size_t kClaTail = 4 * 4 + 1 + 4;
// Fixed tail of the extraction calls: capacity, mode (int32), flag (byte).
constexpr std::size_t kExtractTail = 4 + 4 + 1;

std::string join(const std::vector<std::string>& v) {
    std::string s;
    for (const std::string& x : v) {
        if (!s.empty()) s += '\n';
        s += x;
    }
    return s;
}

std::string trimmed(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    std::size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// "key=assoc,assoc;key2=assoc": keys in lower case, associations trimmed.
std::map<std::string, std::vector<std::string>> parse_entries(const std::string& text) {
    std::map<std::string, std::vector<std::string>> out;
    std::size_t i = 0;
    while (i <= text.size()) {
        std::size_t end = text.find_first_of(";\n", i);
        if (end == std::string::npos) end = text.size();
        const std::string entry = text.substr(i, end - i);
        i = end + 1;
        const std::size_t eq = entry.find('=');
        const std::string key = lower_ascii(trimmed(entry.substr(0, eq)));
        if (key.empty()) continue;
        std::vector<std::string>& assoc = out[key];
        if (eq == std::string::npos) continue;
        std::size_t j = eq + 1;
        while (j <= entry.size()) {
            std::size_t c = entry.find(',', j);
            if (c == std::string::npos) c = entry.size();
            const std::string a = trimmed(entry.substr(j, c - j));
            if (!a.empty() && std::find(assoc.begin(), assoc.end(), a) == assoc.end()) assoc.push_back(a);
            j = c + 1;
        }
    }
    return out;
}

class Nlpe : public ServiceModule {
public:
    Nlpe() : ServiceModule(true) {}

protected:
    ModuleAnswer dispatch(ServiceCall& rc, int32_t offered) override {
        auto it = table().find({rc.selector, rc.name});
        if (it == table().end()) return status(kErrFunction);
        return (this->*(it->second))(rc.args, offered);
    }

private:
    using Handler = ModuleAnswer (Nlpe::*)(Args&, int32_t);
    using Table = std::map<std::pair<int32_t, std::string>, Handler>;
    static const Table& table();

    struct Dict {
        std::set<std::string> words;
        bool loaded = false;
    };
    struct ArDict {
        std::string category;
        std::map<std::string, std::vector<std::string>> entries;
        bool loaded = false;
    };
    struct Cluster {
        int32_t id;
        std::string label;
    };

    std::map<std::string, Dict> dicts_;
    std::map<int32_t, std::string> handles_;
    int32_t next_handle_ = 1;
    std::map<std::string, ArDict> ar_;
    // Engines that must be set up before they answer their working calls.
    bool eztc_ready_ = false;
    bool cla_ready_ = false;
    bool bsm_ready_ = false;
    bool extract_ready_ = false;
    bool aptitude_ready_ = false;
    bool classes_ready_ = false;
    std::vector<Cluster> clusters_;
    std::map<std::string, std::set<std::string>> topics_;

    // ---- shared pieces --------------------------------------------------

    // One optional string (a null one is left out of the frame), then the end.
    static bool one_optional(Args& a, std::string* s) {
        std::vector<std::string> v;
        if (!a.strings_before(0, 1, &v)) return false;
        *s = v.empty() ? std::string() : v[0];
        return true;
    }

    std::set<std::string> lexicon() const {
        std::set<std::string> words;
        for (const auto& d : dicts_)
            if (d.second.loaded) words.insert(d.second.words.begin(), d.second.words.end());
        return words;
    }

    // Segmentation reply: count, the offsets, and the lengths as int16 when
    // wanted. At most capacity - 1 entries fit the client's area, and never
    // more than the capacity offered allows.
    ModuleAnswer segmentation(const std::string& text, int32_t cap, bool marks, int32_t offered) {
        const std::set<std::string> lex = lexicon();
        const std::vector<Token> tokens = segment(text, &lex);
        const int64_t entry = marks ? 6 : 4;
        int64_t fit = cap > 0 ? int64_t{cap} - 1 : 0;
        const int64_t by_offer = offered >= 4 ? (int64_t{offered} - 4) / entry : 0;
        if (by_offer < fit) fit = by_offer;
        if (offered < 4) return answer(Bytes());
        const std::size_t count = std::min<std::size_t>(tokens.size(), static_cast<std::size_t>(fit));
        Out o;
        o.i32(static_cast<int32_t>(count));
        for (std::size_t i = 0; i < count; ++i) o.i32(static_cast<int32_t>(tokens[i].offset));
        if (marks)
            for (std::size_t i = 0; i < count; ++i)
                o.u8(static_cast<uint8_t>(tokens[i].length)).u8(static_cast<uint8_t>(tokens[i].length >> 8));
        return answer(o.take());
    }

    static std::string names_of(const std::map<std::string, ArDict>& m, bool loaded_only) {
        std::string s;
        for (const auto& d : m)
            if (!loaded_only || d.second.loaded) s += d.first + "\n";
        return s;
    }

    static std::string join_fields(const std::vector<std::string>& v) { return join(v); }

    // ---- engine 0: dictionaries and segmentation ------------------------

    // "name: word, word": the words join the dictionary (created when new).
    ModuleAnswer dict_import(Args& a, int32_t) {
        std::string text;
        if (!one_optional(a, &text)) return status(kErrFrame);
        const std::size_t colon = text.find(':');
        if (colon == std::string::npos) return status(kErrValue);
        const std::string name = trimmed(text.substr(0, colon));
        if (name.empty()) return status(kErrValue);
        Dict& d = dicts_[name];
        int32_t added = 0;
        for (const std::string& w : item_list(text.substr(colon + 1)))
            if (d.words.insert(w).second) ++added;
        return status(added);
    }

    ModuleAnswer dict_load(Args& a, int32_t) {
        std::string name;
        if (!one_optional(a, &name)) return status(kErrFrame);
        auto it = dicts_.find(name);
        if (it == dicts_.end()) return status(kErrNotFound);
        it->second.loaded = true;
        return status(static_cast<int32_t>(it->second.words.size()));
    }

    ModuleAnswer dict_unload(Args& a, int32_t) {
        int32_t h = 0;
        if (!a.i32(&h) || !a.at_end()) return status(kErrFrame);
        auto it = handles_.find(h);
        if (it == handles_.end()) return status(kErrNotFound);
        auto d = dicts_.find(it->second);
        if (d != dicts_.end()) d->second.loaded = false;
        return status(0);
    }

    // The number of loaded dictionaries that hold the word.
    ModuleAnswer dict_search(Args& a, int32_t) {
        std::string word;
        if (!one_optional(a, &word)) return status(kErrFrame);
        if (word.empty()) return status(kErrValue);
        const std::string w = lower_ascii(word);
        int32_t n = 0;
        for (const auto& d : dicts_)
            if (d.second.loaded && d.second.words.count(w)) ++n;
        return status(n);
    }

    ModuleAnswer get_handle(Args& a, int32_t) {
        std::string name;
        if (!one_optional(a, &name)) return status(kErrFrame);
        if (!dicts_.count(name)) return status(kErrNotFound);
        const int32_t h = next_handle_++;
        handles_[h] = name;
        return status(h);
    }

    ModuleAnswer delete_handle(Args& a, int32_t) {
        int32_t h = 0;
        if (!a.i32(&h) || !a.at_end()) return status(kErrFrame);
        return status(handles_.erase(h) ? 0 : kErrNotFound);
    }

    // text, capacity, optA, optB, optC, flagA, [flagB], marks wanted.
    ModuleAnswer word_sect(Args& a, int32_t offered, bool two_flags) {
        std::string text;
        int32_t cap = 0, opt = 0;
        uint8_t flag = 0, marks = 0;
        if (!a.str(&text) || !a.i32(&cap) || !a.i32(&opt) || !a.i32(&opt) || !a.i32(&opt) ||
            !a.u8(&flag) || (two_flags && !a.u8(&flag)) || !a.u8(&marks) || !a.at_end())
            return status(kErrFrame);
        return segmentation(text, cap, marks != 0, offered);
    }
    ModuleAnswer nlpe_word_sect(Args& a, int32_t offered) { return word_sect(a, offered, true); }
    ModuleAnswer aptitude_word_sect(Args& a, int32_t offered) {
        if (!aptitude_ready_) return status(kErrState);
        return word_sect(a, offered, false);
    }

    // ---- engine 1: association dictionaries -----------------------------

    // Starts the engine afresh: every association dictionary is dropped.
    ModuleAnswer ar_initial(Args& a, int32_t) {
        if (!a.at_end()) return status(kErrFrame);
        ar_.clear();
        return status(0);
    }

    // name, [category], [entries]: a null string is left out of the frame.
    ModuleAnswer ar_create(Args& a, int32_t) {
        std::vector<std::string> v;
        if (!a.strings_before(0, 3, &v)) return status(kErrFrame);
        if (v.empty() || v[0].empty()) return status(kErrValue);
        if (ar_.count(v[0])) return status(kErrExists);
        ArDict& d = ar_[v[0]];
        if (v.size() > 1) d.category = v[1];
        if (v.size() > 2) d.entries = parse_entries(v[2]);
        return status(static_cast<int32_t>(d.entries.size()));
    }

    ModuleAnswer ar_delete(Args& a, int32_t) {
        std::string name;
        if (!one_optional(a, &name)) return status(kErrFrame);
        return status(ar_.erase(name) ? 0 : kErrNotFound);
    }

    ModuleAnswer ar_exists(Args& a, int32_t) {
        std::string name;
        if (!one_optional(a, &name)) return status(kErrFrame);
        return status(ar_.count(name) ? 1 : 0);
    }

    ModuleAnswer ar_set_loaded(Args& a, bool loaded) {
        std::string name;
        if (!a.str(&name) || !a.at_end()) return status(kErrFrame);
        auto it = ar_.find(name);
        if (it == ar_.end()) return status(kErrNotFound);
        it->second.loaded = loaded;
        return status(0);
    }
    ModuleAnswer ar_load(Args& a, int32_t) { return ar_set_loaded(a, true); }
    ModuleAnswer ar_unload(Args& a, int32_t) { return ar_set_loaded(a, false); }

    // "name:entries": the entries join the dictionary.
    ModuleAnswer ar_import(Args& a, int32_t) {
        std::string text;
        if (!a.str(&text) || !a.at_end()) return status(kErrFrame);
        const std::size_t colon = text.find(':');
        if (colon == std::string::npos) return status(kErrValue);
        auto it = ar_.find(trimmed(text.substr(0, colon)));
        if (it == ar_.end()) return status(kErrNotFound);
        int32_t touched = 0;
        for (auto& e : parse_entries(text.substr(colon + 1))) {
            std::vector<std::string>& assoc = it->second.entries[e.first];
            for (const std::string& x : e.second)
                if (std::find(assoc.begin(), assoc.end(), x) == assoc.end()) assoc.push_back(x);
            ++touched;
        }
        return status(touched);
    }

    ModuleAnswer name_list(Args& a, int32_t offered, const std::string& text) {
        int32_t cap = 0;
        if (!a.i32(&cap) || !a.at_end()) return status(kErrFrame);
        Out o;
        put_counted(o, text, room(cap, offered - 4));
        return answer(o.take());
    }
    ModuleAnswer ar_all_names(Args& a, int32_t offered) { return name_list(a, offered, names_of(ar_, false)); }
    ModuleAnswer ar_loaded_names(Args& a, int32_t offered) {
        return name_list(a, offered, names_of(ar_, true));
    }
    ModuleAnswer ar_category_names(Args& a, int32_t offered) {
        std::set<std::string> cats;
        for (const auto& d : ar_)
            if (!d.second.category.empty()) cats.insert(d.second.category);
        std::string s;
        for (const std::string& c : cats) s += c + "\n";
        return name_list(a, offered, s);
    }

    // Result A: "term=assoc,assoc" for each distinct term of the text that is
    // a key of a loaded dictionary; result B: the categories of those
    // dictionaries, one per line.
    ModuleAnswer ar_search(Args& a, int32_t offered) {
        std::string text;
        int32_t capA = 0, capB = 0;
        if (!a.str(&text) || !a.i32(&capA) || !a.i32(&capB) || !a.at_end()) return status(kErrFrame);
        std::string ra, rb;
        std::set<std::string> cats;
        for (const std::string& t : distinct_terms(text)) {
            std::vector<std::string> assoc;
            bool hit = false;
            for (const auto& d : ar_) {
                if (!d.second.loaded) continue;
                auto e = d.second.entries.find(t);
                if (e == d.second.entries.end()) continue;
                hit = true;
                if (!d.second.category.empty() && cats.insert(d.second.category).second)
                    rb += d.second.category + "\n";
                for (const std::string& x : e->second)
                    if (std::find(assoc.begin(), assoc.end(), x) == assoc.end()) assoc.push_back(x);
            }
            if (!hit) continue;
            ra += t + "=";
            for (std::size_t i = 0; i < assoc.size(); ++i) ra += (i ? "," : "") + assoc[i];
            ra += "\n";
        }
        Out o;
        if (put_counted(o, ra, room(capA, offered - 4)) && capB > 0)
            put_counted(o, rb, room(capB, offered - static_cast<int32_t>(o.size()) - 4));
        return answer(o.take());
    }

    // ---- engines 2, 3 and 7: classification by category word lists ------

    static std::vector<Score> scores_of(const std::string& text) {
        return classify(count_terms(text, true), builtin_categories());
    }
    static std::string best_of(const std::vector<Score>& s) { return s.empty() ? "unclassified" : s[0].name; }

    ModuleAnswer eztc_set_path(Args& a, int32_t) {
        if (!a.at_end()) return status(kErrFrame);
        eztc_ready_ = true;
        return status(0);
    }
    ModuleAnswer eztc_free(Args& a, int32_t) {
        if (!a.at_end()) return status(kErrFrame);
        eztc_ready_ = false;
        return status(0);
    }

    // value1, value2, six texts, value3, capacity, flag: the best category.
    ModuleAnswer eztc_classify(Args& a, int32_t offered) {
        int32_t v = 0, cap = 0;
        uint8_t flag = 0;
        std::vector<std::string> f(6);
        if (!a.i32(&v) || !a.i32(&v)) return status(kErrFrame);
        for (std::string& s : f)
            if (!a.str(&s)) return status(kErrFrame);
        if (!a.i32(&v) || !a.i32(&cap) || !a.u8(&flag) || !a.at_end()) return status(kErrFrame);
        if (!eztc_ready_) return status(kErrState);
        Out o;
        put_counted(o, best_of(scores_of(join_fields(f))), room(cap, offered - 4));
        return answer(o.take());
    }

    ModuleAnswer cla_set_path(Args& a, int32_t) {
        std::string path;
        if (!one_optional(a, &path)) return status(kErrFrame);
        cla_ready_ = true;
        return status(0);
    }
    ModuleAnswer cla_free(Args& a, int32_t) {
        if (!a.at_end()) return status(kErrFrame);
        cla_ready_ = false;
        return status(0);
    }

    // mode, up to seven texts, capA, capB, extra, value A, B, C. Reply: text
    // A the best category, text B the scores; value A the best score, value
    // B the number of matching categories, value C the number of terms.
    // Each text is cut to its capacity - 1 and both together to the area
    // the client makes (capA + capB + 10 bytes).
    ModuleAnswer cla_classify(Args& a, int32_t offered) {
        int32_t mode = 0, capA = 0, capB = 0, extra = 0, va = 0, vc = 0;
        uint8_t vb = 0;
        std::vector<std::string> fields;
        if (!a.i32(&mode) || !a.strings_before(kClaTail, 7, &fields) || !a.i32(&capA) || !a.i32(&capB) ||
            !a.i32(&extra) || !a.i32(&va) || !a.u8(&vb) || !a.i32(&vc) || !a.at_end())
            return status(kErrFrame);
        if (!cla_ready_) return status(kErrState);
        if (capA < 1 || capB < 1) return status(kErrValue);
        const std::string text = join_fields(fields);
        const std::vector<Score> scores = scores_of(text);
        const std::string ta = best_of(scores), tb = score_list(scores);
        int64_t nA = std::min<int64_t>(static_cast<int64_t>(ta.size()), int64_t{capA} - 1);
        int64_t nB = std::min<int64_t>(static_cast<int64_t>(tb.size()), int64_t{capB} - 1);
        const int64_t texts = std::min<int64_t>(offered, int64_t{capA} + capB + 10) - 17;
        if (texts < 0) return status(kErrValue);
        if (nA > texts) nA = texts;
        if (nA + nB > texts) nB = texts - nA;
        Out o;
        o.i32(static_cast<int32_t>(nA)).i32(static_cast<int32_t>(nB));
        o.i32(scores.empty() ? 0 : static_cast<int32_t>(scores[0].score));
        o.u8(static_cast<uint8_t>(std::min<std::size_t>(scores.size(), 255)));
        o.i32(static_cast<int32_t>(terms(text).size()));
        o.text(ta.substr(0, static_cast<std::size_t>(nA))).text(tb.substr(0, static_cast<std::size_t>(nB)));
        return answer(o.take());
    }

    ModuleAnswer bsm_init(Args& a, int32_t) {
        if (!a.at_end()) return status(kErrFrame);
        bsm_ready_ = true;
        return status(0);
    }
    ModuleAnswer bsm_free(Args& a, int32_t) {
        if (!a.at_end()) return status(kErrFrame);
        bsm_ready_ = false;
        return status(0);
    }

    // Eight texts, value1, value2, cap1, cap2, flag. Reply: the number of
    // terms, the best category, the scores, then F = 1 when a category
    // matched.
    ModuleAnswer bsm_classify(Args& a, int32_t offered) {
        std::vector<std::string> f(8);
        for (std::string& s : f)
            if (!a.str(&s)) return status(kErrFrame);
        int32_t v = 0, cap1 = 0, cap2 = 0;
        uint8_t flag = 0;
        if (!a.i32(&v) || !a.i32(&v) || !a.i32(&cap1) || !a.i32(&cap2) || !a.u8(&flag) || !a.at_end())
            return status(kErrFrame);
        if (!bsm_ready_) return status(kErrState);
        const std::string text = join_fields(f);
        const std::vector<Score> scores = scores_of(text);
        Out o;
        o.i32(static_cast<int32_t>(terms(text).size()));
        // Room is kept for the fields that follow each text.
        if (put_counted(o, best_of(scores), room(cap1, offered - 16)) &&
            put_counted(o, score_list(scores), room(cap2, offered - static_cast<int32_t>(o.size()) - 8)))
            o.i32(scores.empty() ? 0 : 1);
        return answer(o.take());
    }

    // ---- engine 4: word extraction ---------------------------------------

    ModuleAnswer extract_initial(Args& a, int32_t) {
        int32_t mode = 0;
        if (!a.i32(&mode) || !a.at_end()) return status(kErrFrame);
        if (mode != 1 && mode != 2) return status(kErrValue);
        extract_ready_ = true;
        return status(0);
    }
    ModuleAnswer extract_free(Args& a, int32_t) {
        if (!a.at_end()) return status(kErrFrame);
        extract_ready_ = false;
        return status(0);
    }

    // Up to six texts, capacity, mode, flag. The distinct words of the texts
    // (as written for Direct, in lower case for DirectNormal; stop words left
    // out when flag is set), in order of appearance, or by count for mode 2.
    ModuleAnswer extract(Args& a, int32_t offered, bool normal) {
        std::vector<std::string> fields;
        int32_t cap = 0, mode = 0;
        uint8_t flag = 0;
        if (!a.strings_before(kExtractTail, 6, &fields) || !a.i32(&cap) || !a.i32(&mode) || !a.u8(&flag) ||
            !a.at_end())
            return status(kErrFrame);
        if (!extract_ready_) return status(kErrState);
        if (!normal && mode != 1 && mode != 2) return status(kErrValue);
        struct Found {
            std::string word;
            int32_t count, offset, field, length;
        };
        std::vector<Found> found;
        std::map<std::string, std::size_t> index;
        for (std::size_t fi = 0; fi < fields.size(); ++fi) {
            const std::string& text = fields[fi];
            for (const Token& t : segment(text)) {
                std::string w = text.substr(t.offset, t.length);
                if (flag && is_stop_word(lower_ascii(w))) continue;
                if (normal) w = lower_ascii(w);
                auto it = index.find(w);
                if (it != index.end()) {
                    ++found[it->second].count;
                    continue;
                }
                index[w] = found.size();
                found.push_back(Found{w, 1, static_cast<int32_t>(t.offset), static_cast<int32_t>(fi),
                                      static_cast<int32_t>(t.length)});
            }
        }
        if (mode == 2)
            std::stable_sort(found.begin(), found.end(),
                             [](const Found& x, const Found& y) { return x.count > y.count; });
        int64_t fit = cap > 0 ? cap : 0;
        const int64_t by_offer = offered >= 4 ? (int64_t{offered} - 4) / int64_t{kEntrySize} : 0;
        if (by_offer < fit) fit = by_offer;
        const std::size_t n = std::min<std::size_t>(found.size(), static_cast<std::size_t>(fit));
        Out o;
        o.i32(static_cast<int32_t>(found.size()));
        for (std::size_t i = 0; i < n; ++i) {
            const Found& e = found[i];
            const std::string w = e.word.substr(0, kEntryWord - 1);
            o.text(w).zeros(kEntryWord - w.size());
            o.i32(e.count).i32(e.offset).i32(e.field).i32(e.length);
        }
        return answer(o.take());
    }
    ModuleAnswer extract_direct(Args& a, int32_t offered) { return extract(a, offered, false); }
    ModuleAnswer extract_normal(Args& a, int32_t offered) { return extract(a, offered, true); }

    // ---- engine 5: aptitude search ---------------------------------------

    ModuleAnswer aptitude_init(Args& a, int32_t) {
        if (!a.at_end()) return status(kErrFrame);
        aptitude_ready_ = true;
        return status(0);
    }
    ModuleAnswer aptitude_uninit(Args& a, int32_t) {
        if (!a.at_end()) return status(kErrFrame);
        aptitude_ready_ = false;
        return status(0);
    }

    // The words of the loaded dictionaries that begin with the text, sorted,
    // one per line.
    ModuleAnswer aptitude_search(Args& a, int32_t offered) {
        std::string text;
        int32_t cap = 0;
        if (!a.str(&text) || !a.i32(&cap) || !a.at_end()) return status(kErrFrame);
        if (!aptitude_ready_) return status(kErrState);
        const std::string prefix = lower_ascii(text);
        std::string list;
        for (const std::string& w : lexicon())
            if (w.compare(0, prefix.size(), prefix) == 0) list += w + "\n";
        Out o;
        put_counted(o, list, room(cap, offered - 4));
        return answer(o.take());
    }

    // ---- engine 6: unlabelled clustering ---------------------------------

    ModuleAnswer class_init(Args& a, int32_t) {
        std::string unused;
        if (!one_optional(a, &unused)) return status(kErrFrame);
        clusters_.clear();
        classes_ready_ = true;
        return status(0);
    }
    ModuleAnswer class_free(Args& a, int32_t) {
        if (!a.at_end()) return status(kErrFrame);
        clusters_.clear();
        classes_ready_ = false;
        return status(0);
    }

    // A text joins the class labelled by its most frequent non-stop term
    // (the earliest on a tie); a new label opens a new class. Reply:
    // "<class id> <label>".
    ModuleAnswer class_get(Args& a, int32_t offered) {
        std::string text;
        if (!a.str(&text) || !a.at_end()) return status(kErrFrame);
        if (!classes_ready_) return status(kErrState);
        const Counts c = count_terms(text, true);
        std::string label;
        int64_t best = 0;
        for (const std::string& t : distinct_terms(text)) {
            auto it = c.find(t);
            if (it != c.end() && it->second > best) {
                best = it->second;
                label = t;
            }
        }
        if (label.empty()) return status(kErrValue);
        int32_t id = 0;
        for (const Cluster& cl : clusters_)
            if (cl.label == label) id = cl.id;
        if (id == 0) {
            id = static_cast<int32_t>(clusters_.size()) + 1;
            clusters_.push_back(Cluster{id, label});
        }
        std::string reply = decimal(id) + " " + label;
        if (offered >= 0 && reply.size() > static_cast<std::size_t>(offered)) reply.resize(static_cast<std::size_t>(offered));
        return answer(Bytes(reply.begin(), reply.end()));
    }

    // ---- engine 8: topic lists -------------------------------------------

    // Set-up and release of the topic engine: accepted, nothing to do.
    ModuleAnswer top_init(Args& a, int32_t) {
        std::string unused;
        if (!one_optional(a, &unused)) return status(kErrFrame);
        return status(0);
    }
    ModuleAnswer top_uninit(Args& a, int32_t) {
        std::string unused;
        if (!one_optional(a, &unused)) return status(kErrFrame);
        return status(0);
    }

    // "<topic>\t<words>\n" per topic (at most `value` when above 0), whole
    // lines, then a NUL: the client is not told the length.
    ModuleAnswer top_list(Args& a, int32_t offered) {
        int32_t cap = 0, value = 0;
        if (!a.i32(&cap) || !a.i32(&value) || !a.at_end()) return status(kErrFrame);
        const int64_t r = room(cap, offered);
        if (r <= 0) return answer(Bytes());
        std::string list;
        int32_t n = 0;
        for (const auto& t : topics_) {
            if (value > 0 && n == value) break;
            list += t.first + "\t" + decimal(static_cast<int64_t>(t.second.size())) + "\n";
            ++n;
        }
        std::string out = whole_lines(list, r - 1);
        out.push_back('\0');
        return answer(Bytes(out.begin(), out.end()));
    }

    // The distinct terms of text 2 that belong to topic text 1, one per line.
    ModuleAnswer top_get_item(Args& a, int32_t offered) {
        std::string topic, text;
        int32_t cap = 0;
        if (!a.str(&topic) || !a.str(&text) || !a.i32(&cap) || !a.at_end()) return status(kErrFrame);
        auto it = topics_.find(topic);
        if (it == topics_.end()) return status(kErrNotFound);
        std::string lines;
        for (const std::string& t : distinct_terms(text))
            if (it->second.count(t)) lines += t + "\n";
        const std::string out = whole_lines(lines, room(cap, offered));
        return answer(Bytes(out.begin(), out.end()));
    }

    // Statement, file name, value, separator: checked and accepted. The
    // simulated server holds no tables, so nothing is written to disk.
    ModuleAnswer export_sql(Args& a, int32_t) {
        std::string stmt, file, sep;
        int32_t value = 0;
        if (!a.str(&stmt) || !a.str(&file) || !a.i32(&value) || !a.str(&sep) || !a.at_end())
            return status(kErrFrame);
        if (file.empty() || stmt.empty()) return status(kErrValue);
        return status(0);
    }

    // Topic name and its words: the distinct non-stop terms of the text.
    ModuleAnswer make_top_dict(Args& a, int32_t) {
        std::string name, text;
        if (!a.str(&name) || !a.str(&text) || !a.at_end()) return status(kErrFrame);
        if (name.empty()) return status(kErrValue);
        std::set<std::string>& words = topics_[name];
        words.clear();
        for (const std::string& t : distinct_terms(text))
            if (!is_stop_word(t)) words.insert(t);
        return status(static_cast<int32_t>(words.size()));
    }
};

const Nlpe::Table& Nlpe::table() {
    static const Table t = {
        {{0, "NLPE_DictLoad"}, &Nlpe::dict_load},
        {{0, "NLPE_DictUnload"}, &Nlpe::dict_unload},
        {{0, "NLPE_DictImport"}, &Nlpe::dict_import},
        {{0, "NLPE_DictSearch"}, &Nlpe::dict_search},
        {{0, "NLPE_WordSect"}, &Nlpe::nlpe_word_sect},
        {{0, "NLPE_DictGetHandle"}, &Nlpe::get_handle},
        {{0, "NLPE_DictDeleteHandle"}, &Nlpe::delete_handle},
        {{1, "AR_Initial"}, &Nlpe::ar_initial},
        {{1, "AR_Dict_Create"}, &Nlpe::ar_create},
        {{1, "AR_Dict_Delete"}, &Nlpe::ar_delete},
        {{1, "AR_Get_AllDictName"}, &Nlpe::ar_all_names},
        {{1, "AR_Is_DictExist"}, &Nlpe::ar_exists},
        {{1, "AR_Search"}, &Nlpe::ar_search},
        {{1, "AR_Dict_Load"}, &Nlpe::ar_load},
        {{1, "AR_Dict_Unload"}, &Nlpe::ar_unload},
        {{1, "AR_Dict_Import"}, &Nlpe::ar_import},
        {{1, "AR_Get_AllDictNameLoaded"}, &Nlpe::ar_loaded_names},
        {{1, "AR_Get_InforName"}, &Nlpe::ar_category_names},
        {{2, "EZTC_SetPath"}, &Nlpe::eztc_set_path},
        {{2, "EZTC_GetTxtClassify"}, &Nlpe::eztc_classify},
        {{2, "EZTC_FreeDict"}, &Nlpe::eztc_free},
        {{3, "CLA_SetPath"}, &Nlpe::cla_set_path},
        {{3, "CLA_GetClassifyResult"}, &Nlpe::cla_classify},
        {{3, "CLA_FreeDict"}, &Nlpe::cla_free},
        {{4, "Extract_Word_Initial"}, &Nlpe::extract_initial},
        {{4, "Extract_Word_Direct"}, &Nlpe::extract_direct},
        {{4, "Extract_Word_DirectNormal"}, &Nlpe::extract_normal},
        {{4, "Extract_Word_FreeDict"}, &Nlpe::extract_free},
        {{5, "Aptitude_Search"}, &Nlpe::aptitude_search},
        {{5, "Aptitude_Init"}, &Nlpe::aptitude_init},
        {{5, "Aptitude_UnInit"}, &Nlpe::aptitude_uninit},
        {{5, "Aptitude_WordSect"}, &Nlpe::aptitude_word_sect},
        {{6, "ClassNoLabel_Init"}, &Nlpe::class_init},
        {{6, "ClassNoLabel_GetClass"}, &Nlpe::class_get},
        {{6, "ClassNoLabel_Free"}, &Nlpe::class_free},
        {{7, "BSM_Word_Init"}, &Nlpe::bsm_init},
        {{7, "BSM_GetTxtClassify"}, &Nlpe::bsm_classify},
        {{7, "BSM_FreeDict"}, &Nlpe::bsm_free},
        {{8, "TOP_List"}, &Nlpe::top_list},
        {{8, "TOP_Init"}, &Nlpe::top_init},
        {{8, "TOP_GetItem"}, &Nlpe::top_get_item},
        {{8, "TOP_UnInit"}, &Nlpe::top_uninit},
        {{8, "ExportSqlToFile"}, &Nlpe::export_sql},
        {{8, "MakeTopDict"}, &Nlpe::make_top_dict},
    };
    return t;
}

}  // namespace
}  // namespace xsrsim::svc

namespace xsrsim {

std::shared_ptr<Module> make_nlpe_module(const ModuleSettings&) { return std::make_shared<svc::Nlpe>(); }

}  // namespace xsrsim
