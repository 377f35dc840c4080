// Simulated "KExt_STM": the engine switch, knowledge domains kept in memory
// (created, listed, opened by handle, looked up by name), and the analysers
// and extractors, whose state (filter words, clusters, models) is kept per
// handle between their Initialize and ShutDown calls.
#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "sim/modules/service_modules.h"
#include "sim/modules/text_tools.h"

namespace xsrsim::svc {
namespace {

struct Item {
    int32_t id = 0;
    std::string text;
};

// count, then per item id, byte count n, n bytes and a NUL. A count of 0 or
// less carries no items. Bounded by the frame: each item takes 9 bytes at
// least.
bool read_items(Args& a, std::vector<Item>* out) {
    int32_t count = 0;
    if (!a.i32(&count)) return false;
    if (count <= 0) return true;
    if (static_cast<std::size_t>(count) > a.left() / 9) return false;
    for (int32_t i = 0; i < count; ++i) {
        Item it;
        int32_t n = 0;
        uint8_t nul = 1;
        if (!a.i32(&it.id) || !a.i32(&n) || n < 0 || !a.block(static_cast<std::size_t>(n), &it.text) ||
            !a.u8(&nul) || nul != 0)
            return false;
        out->push_back(std::move(it));
    }
    return true;
}

Counts counts_of(const std::vector<Item>& items) {
    Counts c;
    for (const Item& it : items) add_counts(c, count_terms(it.text, true));
    return c;
}

// The most frequent non-stop term of a text, the earliest on a tie.
std::string label_of(const std::string& text, const std::vector<std::string>& skip) {
    const Counts c = count_terms(text, true);
    std::string label;
    int64_t best = 0;
    for (const std::string& t : distinct_terms(text)) {
        if (std::find(skip.begin(), skip.end(), t) != skip.end()) continue;
        auto it = c.find(t);
        if (it != c.end() && it->second > best) {
            best = it->second;
            label = t;
        }
    }
    return label;
}

ModuleAnswer text_answer(const std::string& s) { return answer(Bytes(s.begin(), s.end())); }

std::string cut(const std::string& s, int64_t r) {
    return static_cast<uint64_t>(s.size()) <= static_cast<uint64_t>(r) ? s : s.substr(0, static_cast<std::size_t>(r));
}

class Stm : public ServiceModule {
public:
    Stm() : ServiceModule(false) {}

protected:
    ModuleAnswer dispatch(ServiceCall& rc, int32_t offered) override {
        auto it = table().find(rc.name);
        if (it == table().end()) return status(kErrFunction);
        return (this->*(it->second))(rc.args, offered);
    }

private:
    using Handler = ModuleAnswer (Stm::*)(Args&, int32_t);
    using Table = std::map<std::string, Handler>;
    static const Table& table();

    struct Domain {
        int32_t handle = 0;
        std::string name, description, note;
        std::vector<std::string> keywords;
        int32_t value = 0;
        bool open = false;
    };
    struct Model {
        std::vector<std::pair<int32_t, Counts>> docs;
        bool built = false;
    };

    bool started_ = false;
    std::vector<Domain> domains_;  // creation order
    int32_t next_handle_ = 1;
    std::map<int32_t, int32_t> classifiers_;  // handle -> minimum score
    std::map<int32_t, std::vector<std::string>> filters_;
    std::map<int32_t, std::vector<std::string>> clusters_;  // handle -> labels
    std::map<int32_t, int32_t> keyword_counts_;
    std::set<int32_t> abstract_extractors_;
    std::map<int32_t, Model> models_;

    Domain* by_name(const std::string& name) {
        for (Domain& d : domains_)
            if (d.name == name) return &d;
        return nullptr;
    }
    Domain* by_handle(int32_t h) {
        for (Domain& d : domains_)
            if (d.handle == h) return &d;
        return nullptr;
    }

    static bool none(Args& a) { return a.at_end(); }
    static bool one_handle(Args& a, int32_t* h) { return a.i32(h) && a.at_end(); }

    // ---- engine ----------------------------------------------------------

    ModuleAnswer initialize(Args& a, int32_t) {
        if (!none(a)) return status(kErrFrame);
        started_ = true;
        return status(0);
    }
    // Stops the engine: every open domain is closed.
    ModuleAnswer shut_down(Args& a, int32_t) {
        if (!none(a)) return status(kErrFrame);
        started_ = false;
        for (Domain& d : domains_) d.open = false;
        return status(0);
    }
    ModuleAnswer is_initialized(Args& a, int32_t) {
        if (!none(a)) return status(kErrFrame);
        return status(started_ ? 1 : 0);
    }

    // ---- knowledge domains -----------------------------------------------

    // name, description, keywords (blank- or comma-separated), note, value.
    ModuleAnswer create(Args& a, int32_t) {
        std::vector<std::string> s;
        int32_t value = 0;
        if (!a.strings_before(4, 4, &s) || !a.i32(&value) || !a.at_end()) return status(kErrFrame);
        s.resize(4);
        if (s[0].empty()) return status(kErrValue);
        if (by_name(s[0])) return status(kErrExists);
        Domain d;
        d.handle = next_handle_++;
        d.name = s[0];
        d.description = s[1];
        d.keywords = word_list(s[2]);
        d.note = s[3];
        d.value = value;
        domains_.push_back(std::move(d));
        return status(0);
    }

    ModuleAnswer remove(Args& a, int32_t) {
        std::string name;
        if (!a.str(&name) || !a.at_end()) return status(kErrFrame);
        for (auto it = domains_.begin(); it != domains_.end(); ++it)
            if (it->name == name) {
                domains_.erase(it);
                return status(0);
            }
        return status(kErrNotFound);
    }

    // capacity, mode: the domain names (mode 1: the open ones), one per line.
    ModuleAnswer list(Args& a, int32_t offered) {
        int32_t cap = 0, mode = 0;
        if (!a.i32(&cap) || !a.i32(&mode) || !a.at_end()) return status(kErrFrame);
        std::string lines;
        for (const Domain& d : domains_)
            if (mode != 1 || d.open) lines += d.name + "\n";
        return text_answer(whole_lines(lines, room(cap, offered)));
    }

    // Reply: the domain's handle, 4 bytes.
    ModuleAnswer open(Args& a, int32_t) {
        std::string name;
        if (!a.str(&name) || !a.at_end()) return status(kErrFrame);
        if (name.empty()) return status(kErrValue);
        Domain* d = by_name(name);
        if (!d) return status(kErrNotFound);
        d->open = true;
        Out o;
        o.i32(d->handle);
        return answer(o.take());
    }

    ModuleAnswer close(Args& a, int32_t) {
        std::string name;
        if (!a.str(&name) || !a.at_end()) return status(kErrFrame);
        Domain* d = by_name(name);
        if (!d) return status(kErrNotFound);
        if (!d->open) return status(kErrState);
        d->open = false;
        return status(0);
    }

    // handle, capacity: the domain's name (no terminator).
    ModuleAnswer name_of(Args& a, int32_t offered) {
        int32_t h = 0, cap = 0;
        if (!a.i32(&h) || !a.i32(&cap) || !a.at_end()) return status(kErrFrame);
        Domain* d = by_handle(h);
        if (!d) return status(kErrNotFound);
        return text_answer(cut(d->name, room(cap, offered)));
    }

    ModuleAnswer handle_of(Args& a, int32_t) {
        std::string name;
        if (!a.str(&name) || !a.at_end()) return status(kErrFrame);
        if (name.empty()) return status(kErrValue);
        Domain* d = by_name(name);
        return status(d ? d->handle : kErrNotFound);
    }

    // ---- text classifier -------------------------------------------------

    ModuleAnswer classifier_init(Args& a, int32_t) {
        int32_t h = 0, value = 0;
        if (!a.i32(&h) || !a.i32(&value) || !a.at_end()) return status(kErrFrame);
        classifiers_[h] = value > 0 ? value : 1;
        return status(0);
    }
    ModuleAnswer classifier_shut(Args& a, int32_t) {
        int32_t h = 0;
        if (!one_handle(a, &h)) return status(kErrFrame);
        return status(classifiers_.erase(h) ? 0 : kErrState);
    }

    // handle, value1, value2, flag, capacity, items. The categories are the
    // built-in word lists plus the keywords of the domain with that handle.
    // Reply: "<id>\t<category>\t<score>\n" per item; a best score below the
    // minimum given at Initialize gives "unclassified" and 0.
    ModuleAnswer classifier_do(Args& a, int32_t offered) {
        int32_t h = 0, v = 0, cap = 0;
        uint8_t flag = 0;
        std::vector<Item> items;
        if (!a.i32(&h) || !a.i32(&v) || !a.i32(&v) || !a.u8(&flag) || !a.i32(&cap) || !read_items(a, &items) ||
            !a.at_end())
            return status(kErrFrame);
        auto c = classifiers_.find(h);
        if (c == classifiers_.end()) return status(kErrState);
        std::vector<Category> cats = builtin_categories();
        if (Domain* d = by_handle(h))
            if (!d->keywords.empty()) cats.push_back(Category{d->name, std::set<std::string>(d->keywords.begin(), d->keywords.end())});
        std::string lines;
        for (const Item& it : items) {
            const std::vector<Score> s = classify(count_terms(it.text, true), cats);
            const bool hit = !s.empty() && s[0].score >= c->second;
            lines += decimal(it.id) + "\t" + (hit ? s[0].name : "unclassified") + "\t" +
                     decimal(hit ? s[0].score : 0) + "\n";
        }
        return text_answer(whole_lines(lines, room(cap, offered)));
    }

    // ---- information filter ----------------------------------------------

    ModuleAnswer filter_init(Args& a, int32_t) {
        int32_t h = 0;
        std::string words;
        if (!a.i32(&h) || !a.str(&words) || !a.at_end()) return status(kErrFrame);
        std::vector<std::string> w = word_list(words);
        if (w.empty()) return status(kErrValue);
        filters_[h] = std::move(w);
        return status(0);
    }
    ModuleAnswer filter_shut(Args& a, int32_t) {
        int32_t h = 0;
        if (!one_handle(a, &h)) return status(kErrFrame);
        return status(filters_.erase(h) ? 0 : kErrState);
    }

    // handle, items. Reply: the number of items holding a filter word, as
    // decimal text.
    ModuleAnswer filter_do(Args& a, int32_t) {
        int32_t h = 0;
        std::vector<Item> items;
        if (!a.i32(&h) || !read_items(a, &items) || !a.at_end()) return status(kErrFrame);
        auto f = filters_.find(h);
        if (f == filters_.end()) return status(kErrState);
        int64_t n = 0;
        for (const Item& it : items) {
            const std::vector<std::string> t = terms(it.text);
            for (const std::string& w : f->second)
                if (std::find(t.begin(), t.end(), w) != t.end()) {
                    ++n;
                    break;
                }
        }
        return text_answer(decimal(n));
    }

    // ---- text clusterer --------------------------------------------------

    ModuleAnswer cluster_init(Args& a, int32_t) {
        int32_t h = 0;
        if (!one_handle(a, &h)) return status(kErrFrame);
        clusters_[h].clear();
        return status(0);
    }
    // handle, four values, name.
    ModuleAnswer cluster_shut(Args& a, int32_t) {
        int32_t h = 0, v = 0;
        std::string name;
        if (!a.i32(&h) || !a.i32(&v) || !a.i32(&v) || !a.i32(&v) || !a.i32(&v) || !a.str(&name) || !a.at_end())
            return status(kErrFrame);
        return status(clusters_.erase(h) ? 0 : kErrState);
    }

    // handle, text (words to leave out of the labels), items. Each item
    // joins the cluster labelled by its most frequent term; answers the
    // number of clusters the handle holds.
    ModuleAnswer cluster_do(Args& a, int32_t) {
        int32_t h = 0;
        std::string skip;
        std::vector<Item> items;
        if (!a.i32(&h) || !a.str(&skip) || !read_items(a, &items) || !a.at_end()) return status(kErrFrame);
        auto c = clusters_.find(h);
        if (c == clusters_.end()) return status(kErrState);
        const std::vector<std::string> leave = word_list(skip);
        for (const Item& it : items) {
            const std::string label = label_of(it.text, leave);
            if (!label.empty() && std::find(c->second.begin(), c->second.end(), label) == c->second.end())
                c->second.push_back(label);
        }
        return status(static_cast<int32_t>(c->second.size()));
    }

    // ---- keyword extractor -----------------------------------------------

    ModuleAnswer keyword_init(Args& a, int32_t) {
        int32_t h = 0, value = 0;
        if (!a.i32(&h) || !a.i32(&value) || !a.at_end()) return status(kErrFrame);
        keyword_counts_[h] = value > 0 ? value : 5;
        return status(0);
    }
    ModuleAnswer keyword_shut(Args& a, int32_t) {
        int32_t h = 0;
        if (!one_handle(a, &h)) return status(kErrFrame);
        return status(keyword_counts_.erase(h) ? 0 : kErrState);
    }

    // handle, value, flag, capacity, items. Reply: the most frequent non-stop
    // terms of all items, "<term>\t<count>\n"; as many as the value says
    // (when above 0) or as Initialize said.
    ModuleAnswer keyword_do(Args& a, int32_t offered) {
        int32_t h = 0, value = 0, cap = 0;
        uint8_t flag = 0;
        std::vector<Item> items;
        if (!a.i32(&h) || !a.i32(&value) || !a.u8(&flag) || !a.i32(&cap) || !read_items(a, &items) || !a.at_end())
            return status(kErrFrame);
        auto k = keyword_counts_.find(h);
        if (k == keyword_counts_.end()) return status(kErrState);
        const std::size_t n = static_cast<std::size_t>(value > 0 ? value : k->second);
        std::string lines;
        for (const auto& t : top_terms(counts_of(items), n)) lines += t.first + "\t" + decimal(t.second) + "\n";
        return text_answer(whole_lines(lines, room(cap, offered)));
    }

    // ---- abstracts -------------------------------------------------------

    ModuleAnswer abstract_init(Args& a, int32_t) {
        int32_t h = 0;
        if (!one_handle(a, &h)) return status(kErrFrame);
        abstract_extractors_.insert(h);
        return status(0);
    }
    ModuleAnswer abstract_shut(Args& a, int32_t) {
        int32_t h = 0;
        if (!one_handle(a, &h)) return status(kErrFrame);
        return status(abstract_extractors_.erase(h) ? 0 : kErrState);
    }

    // [handle], text, value, flag, capacity, items. Reply: the `value`
    // highest-scoring sentences of the text (1 when not above 0), the items'
    // terms adding to the scores.
    ModuleAnswer abstract(Args& a, int32_t offered, bool with_handle) {
        int32_t h = 0, value = 0, cap = 0;
        uint8_t flag = 0;
        std::string text;
        std::vector<Item> items;
        if ((with_handle && !a.i32(&h)) || !a.str(&text) || !a.i32(&value) || !a.u8(&flag) || !a.i32(&cap) ||
            !read_items(a, &items) || !a.at_end())
            return status(kErrFrame);
        if (with_handle && !abstract_extractors_.count(h)) return status(kErrState);
        return text_answer(cut(abstract_of(text, counts_of(items), value), room(cap, offered)));
    }
    ModuleAnswer abstract_do(Args& a, int32_t offered) { return abstract(a, offered, true); }
    ModuleAnswer kabstract_do(Args& a, int32_t offered) { return abstract(a, offered, false); }
    ModuleAnswer accepted(Args& a, int32_t) { return status(none(a) ? 0 : kErrFrame); }

    // ---- vector space model ----------------------------------------------

    ModuleAnswer vsm_init(Args& a, int32_t) {
        int32_t h = 0;
        if (!one_handle(a, &h)) return status(kErrFrame);
        models_[h] = Model();
        return status(0);
    }
    ModuleAnswer vsm_shut(Args& a, int32_t) {
        int32_t h = 0;
        if (!one_handle(a, &h)) return status(kErrFrame);
        return status(models_.erase(h) ? 0 : kErrState);
    }

    // handle, flag, value1, value2, capacity, items. Builds the model of the
    // items. Reply: "terms\t<n>\n", "documents\t<m>\n", then per term
    // "<term>\t<documents holding it>\n", by term.
    ModuleAnswer vsm_do(Args& a, int32_t offered) {
        int32_t h = 0, v = 0, cap = 0;
        uint8_t flag = 0;
        std::vector<Item> items;
        if (!a.i32(&h) || !a.u8(&flag) || !a.i32(&v) || !a.i32(&v) || !a.i32(&cap) || !read_items(a, &items) ||
            !a.at_end())
            return status(kErrFrame);
        auto m = models_.find(h);
        if (m == models_.end()) return status(kErrState);
        Model& model = m->second;
        model.docs.clear();
        Counts df;
        for (const Item& it : items) {
            Counts c = count_terms(it.text, true);
            for (const auto& kv : c) ++df[kv.first];
            model.docs.push_back({it.id, std::move(c)});
        }
        model.built = true;
        std::string lines = "terms\t" + decimal(static_cast<int64_t>(df.size())) + "\ndocuments\t" +
                            decimal(static_cast<int64_t>(model.docs.size())) + "\n";
        for (const auto& kv : df) lines += kv.first + "\t" + decimal(kv.second) + "\n";
        return text_answer(whole_lines(lines, room(cap, offered)));
    }

    // handle, flag, value1, value2, capacity, text. Reply: per document of
    // the model "<id>\t<cosine x 1000>\n", most similar first.
    ModuleAnswer vsm_result(Args& a, int32_t offered) {
        int32_t h = 0, v = 0, cap = 0;
        uint8_t flag = 0;
        std::string text;
        if (!a.i32(&h) || !a.u8(&flag) || !a.i32(&v) || !a.i32(&v) || !a.i32(&cap) || !a.str(&text) || !a.at_end())
            return status(kErrFrame);
        auto m = models_.find(h);
        if (m == models_.end() || !m->second.built) return status(kErrState);
        const Counts q = count_terms(text, true);
        std::vector<std::pair<int32_t, int32_t>> sims;  // id, permille
        for (const auto& d : m->second.docs) sims.push_back({d.first, permille(cosine(q, d.second))});
        std::stable_sort(sims.begin(), sims.end(), [](const auto& x, const auto& y) { return x.second > y.second; });
        std::string lines;
        for (const auto& s : sims) lines += decimal(s.first) + "\t" + decimal(s.second) + "\n";
        return text_answer(whole_lines(lines, room(cap, offered)));
    }

    // ---- similarity ------------------------------------------------------

    // Answers the cosine of the two texts' term counts (stop words included)
    // times 1000, rounded: 1000 for the same words in the same proportions.
    ModuleAnswer similarity(Args& a, int32_t) {
        std::string x, y;
        if (!a.str(&x) || !a.str(&y) || !a.at_end()) return status(kErrFrame);
        return status(permille(cosine(count_terms(x, false), count_terms(y, false))));
    }
};

const Stm::Table& Stm::table() {
    static const Table t = {
        {"STM_Initialize", &Stm::initialize},
        {"STM_ShutDown", &Stm::shut_down},
        {"STM_Is_Initialized", &Stm::is_initialized},
        {"STM_Create_Knowledge_Domain", &Stm::create},
        {"STM_Delete_Knowledge_Domain", &Stm::remove},
        {"STM_List_Knowledge_Domain", &Stm::list},
        {"STM_Open_Knowledge_Domain", &Stm::open},
        {"STM_Close_Knowledge_Domain", &Stm::close},
        {"STM_Get_Knowledge_Domain_Name", &Stm::name_of},
        {"STM_Get_Knowledge_Domain_Handle", &Stm::handle_of},
        {"STM_TextClassifier_Initialize", &Stm::classifier_init},
        {"STM_TextClassifier_ShutDown", &Stm::classifier_shut},
        {"STM_TextClassifier_Do", &Stm::classifier_do},
        {"STM_InfoFilter_Initialize", &Stm::filter_init},
        {"STM_InfoFilter_ShutDown", &Stm::filter_shut},
        {"STM_InfoFilter_Do", &Stm::filter_do},
        {"STM_TextCluster_Initialize", &Stm::cluster_init},
        {"STM_TextCluster_ShutDown", &Stm::cluster_shut},
        {"STM_TextCluster_Do", &Stm::cluster_do},
        {"STM_KeyWordExtractor_Initialize", &Stm::keyword_init},
        {"STM_KeyWordExtractor_ShutDown", &Stm::keyword_shut},
        {"STM_KeyWordExtractor_Do", &Stm::keyword_do},
        {"STM_AbstractExtractor_Initialize", &Stm::abstract_init},
        {"STM_AbstractExtractor_ShutDown", &Stm::abstract_shut},
        {"STM_AbstractExtractor_Do", &Stm::abstract_do},
        {"STM_VSMModel_Generator_Initialize", &Stm::vsm_init},
        {"STM_VSMModel_Generator_ShutDown", &Stm::vsm_shut},
        {"STM_VSMModel_Generator_Do", &Stm::vsm_do},
        {"STM_VSMModel_GetResult", &Stm::vsm_result},
        {"KAbstractor_Initialize", &Stm::accepted},
        {"KAbstractor_ShutDown", &Stm::accepted},
        {"KAbstractor_Do", &Stm::kabstract_do},
        {"Similarity_Initialize", &Stm::accepted},
        {"Similarity_ShutDown", &Stm::accepted},
        {"Similarity_Analyst", &Stm::similarity},
    };
    return t;
}

}  // namespace
}  // namespace xsrsim::svc

namespace xsrsim {

std::shared_ptr<Module> make_stm_module(const ModuleSettings&) { return std::make_shared<svc::Stm>(); }

}  // namespace xsrsim
