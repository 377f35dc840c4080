// orqext/text.hpp - the text analysis modules ("KExt_NLPE", "KExt_ARA",
// "KExt_KWFS").
//
// Most calls return the server's Result code or status word (some status
// words are the answer: a handle, a count, a flag). Texts are std::string_view
// and always sent (an empty one as an empty string).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "orqext/connection.hpp"

namespace orqext {
namespace text {

// --- Association-rule analysis ("KExt_ARA") --------------------------------
ORQEXT_CPP_STATUS(ara_freq_begin, (const connection& c, std::string_view run),
                  ORQExt_ARA_Stat_AssociatedFreq_Begin, (c.call_handle(), s(run, "run")))
ORQEXT_CPP_STATUS(ara_freq, (const connection& c, std::string_view a, std::string_view b, int32_t value, bool flag),
                  ORQExt_ARA_Stat_AssociatedFreq,
                  (c.call_handle(), s(a, "a"), s(b, "b"), value, static_cast<uint8_t>(flag ? 1 : 0)))
ORQEXT_CPP_STATUS(ara_freq_end, (const connection& c), ORQExt_ARA_Stat_AssociatedFreq_End, (c.call_handle()))
ORQEXT_CPP_STATUS(ara_mul_merge_file, (const connection& c, std::string_view a, std::string_view b),
                  ORQExt_ARA_MulMergeFile, (c.call_handle(), s(a, "a"), s(b, "b")))
ORQEXT_CPP_STATUS(ara_filtrate, (const connection& c, std::string_view a, std::string_view b, int32_t value),
                  ORQExt_ARA_Filtrate, (c.call_handle(), s(a, "a"), s(b, "b"), value))
ORQEXT_CPP_STATUS(ara_word_support, (const connection& c, std::string_view a, std::string_view b),
                  ORQExt_ARA_GetWordSupportRec, (c.call_handle(), s(a, "a"), s(b, "b")))

// --- Keyword frequency statistics ("KExt_KWFS") ----------------------------
struct kwfs_item {
    std::string_view text1;
    int32_t value = 0;
    std::string_view text2;
};
struct kwfs_options {
    int32_t value = 0;
    std::optional<std::string_view> text;  // nullopt: nothing sent in its place
};

namespace detail {
// The C records of an item list; the strings live in s.
inline std::vector<KwfsItem> kwfs_items(::orqext::detail::cstrings& s, const std::vector<kwfs_item>& items) {
    std::vector<KwfsItem> out;
    out.reserve(items.size());
    for (const auto& i : items) out.push_back(KwfsItem{s(i.text1), i.value, s(i.text2)});
    return out;
}
inline KwfsOptions kwfs_opts(::orqext::detail::cstrings& s, const kwfs_options& o) {
    return KwfsOptions{o.value, s(o.text)};
}
}  // namespace detail

ORQEXT_CPP_STATUS(kwfs_frequency, (const connection& c, const std::vector<kwfs_item>& items,
                                   const kwfs_options& options, int32_t number),
                  ORQExt_KWFS_Frequency,
                  (c.call_handle(), items.empty() ? nullptr : detail::kwfs_items(s, items).data(),
                   ::orqext::detail::size32(items.size()),
                   &static_cast<const KwfsOptions&>(detail::kwfs_opts(s, options)), number))
ORQEXT_CPP_STATUS(kwfs_associated, (const connection& c, const std::vector<kwfs_item>& items,
                                    const kwfs_options& options),
                  ORQExt_KWFS_Associated,
                  (c.call_handle(), items.empty() ? nullptr : detail::kwfs_items(s, items).data(),
                   ::orqext::detail::size32(items.size()),
                   &static_cast<const KwfsOptions&>(detail::kwfs_opts(s, options))))

// --- Dictionaries and segmentation (engine 0 of "KExt_NLPE") ---------------
ORQEXT_CPP_STATUS(nlpe_dict_load, (const connection& c, std::string_view name), ORQExt_NLPE_DictLoad,
                  (c.call_handle(), s(name, "name")))
ORQEXT_CPP_STATUS(nlpe_dict_unload, (const connection& c, int32_t handle), ORQExt_NLPE_DictUnload,
                  (c.call_handle(), handle))
ORQEXT_CPP_STATUS(nlpe_dict_import, (const connection& c, std::string_view text), ORQExt_NLPE_DictImport,
                  (c.call_handle(), s(text, "text")))
ORQEXT_CPP_STATUS(nlpe_dict_search, (const connection& c, std::string_view word), ORQExt_NLPE_DictSearch,
                  (c.call_handle(), s(word, "word")))
// The status word is the handle.
ORQEXT_CPP_STATUS(nlpe_get_handle, (const connection& c, std::string_view name), ORQExt_NLPE_GetHandle,
                  (c.call_handle(), s(name, "name")))
ORQEXT_CPP_STATUS(nlpe_delete_handle, (const connection& c, int32_t handle), ORQExt_NLPE_DeleteHandle,
                  (c.call_handle(), handle))

// One entry of a word segmentation: the item (a byte offset into the text)
// and its mark (a byte length).
struct segment {
    int32_t item = 0;
    int16_t mark = 0;
};
struct segmentation_options {
    int32_t opt_a = 0;
    int32_t opt_b = 0;
    int32_t opt_c = 0;
    bool flag_a = false;
    bool flag_b = false;  // sent by nlpe_word_sect only
};

namespace detail {
// Room for one entry per byte of the text (and one more): every entry stands
// for at least one byte, so the answer always fits and is never asked for
// twice. Bounded by the connection's maximum answer size (6 bytes an entry).
template <class Call>
std::vector<segment> segmentation(const connection& c, std::string_view text, std::error_code& ec,
                                  Call&& call) noexcept {
    ec.clear();
    std::vector<segment> out;
    ::orqext::detail::guard(ec, [&]() -> int {
        const int64_t most = c.limits().maximum / 6;
        int64_t cap = static_cast<int64_t>(text.size()) + 1;
        if (cap > most) cap = most;
        if (cap < 1) cap = 1;
        std::vector<int32_t> items(static_cast<std::size_t>(cap));
        std::vector<int16_t> marks(static_cast<std::size_t>(cap));
        ::orqext::detail::cstrings s;
        const int32_t n = call(s(text, "text"), items.data(), static_cast<int32_t>(cap), marks.data());
        if (n < 0) {
            ec = make_error_code(n);
            return 0;
        }
        for (int32_t i = 0; i < n && i < cap; ++i)
            out.push_back(segment{items[static_cast<std::size_t>(i)], marks[static_cast<std::size_t>(i)]});
        return 0;
    });
    if (ec) out.clear();
    return out;
}
}  // namespace detail

inline std::vector<segment> nlpe_word_sect(const connection& c, std::string_view text,
                                           const segmentation_options& o, std::error_code& ec) noexcept {
    return detail::segmentation(c, text, ec, [&](const char* t, int32_t* items, int32_t cap, int16_t* marks) {
        return ORQExt_NLPE_WordSect(c.call_handle(), t, items, cap, o.opt_a, o.opt_b, marks, o.opt_c,
                                    o.flag_a ? 1 : 0, o.flag_b ? 1 : 0);
    });
}
inline std::vector<segment> nlpe_word_sect(const connection& c, std::string_view text,
                                           const segmentation_options& o = {}) {
    std::error_code ec;
    auto r = nlpe_word_sect(c, text, o, ec);
    return ::orqext::detail::or_throw("ORQExt_NLPE_WordSect", ec, std::move(r));
}

// --- Unlabelled clustering (engine 6) and classifier (engine 3) -----------
ORQEXT_CPP_STATUS(class_no_label_init, (const connection& c, std::string_view text), ORQExt_ClassNoLabel_Init,
                  (c.call_handle(), s(text, "text")))
// The text's class ("<class> <label>" from the simulated module).
ORQEXT_CPP_SIZED(class_no_label_get_class, (const connection& c, std::string_view text),
                 ORQExt_ClassNoLabel_GetClass, (c.call_handle(), s(text, "text"), buf, len))
ORQEXT_CPP_STATUS(class_no_label_free, (const connection& c), ORQExt_ClassNoLabel_Free, (c.call_handle()))
ORQEXT_CPP_STATUS(cla_set_path, (const connection& c, std::string_view path), ORQExt_CLA_SetPath,
                  (c.call_handle(), s(path, "path")))
ORQEXT_CPP_STATUS(cla_free_dict, (const connection& c), ORQExt_CLA_FreeDict, (c.call_handle()))

// Inputs and outputs of the classifier: the three values go out as given and
// come back overwritten; the two texts are cut by the library to capacity - 1
// bytes (capacities of the request, 4096 each by default).
struct cla_request {
    int32_t mode = 0;
    std::array<std::string_view, 7> fields{};
    int32_t extra = 0;
    int32_t value_a = 0;
    uint8_t value_b = 0;
    int32_t value_c = 0;
    int32_t capacity_a = 4096;
    int32_t capacity_b = 4096;
};
struct cla_result {
    std::string text_a;
    std::string text_b;
    int32_t value_a = 0;
    uint8_t value_b = 0;
    int32_t value_c = 0;
};
inline cla_result cla_classify(const connection& c, const cla_request& r, std::error_code& ec) noexcept {
    ec.clear();
    cla_result out;
    ::orqext::detail::guard(ec, [&]() -> int {
        ::orqext::detail::cstrings s;
        std::array<const char*, 7> f{};
        for (std::size_t i = 0; i < f.size(); ++i) f[i] = s(r.fields[i]);
        const int32_t cap_a = r.capacity_a < 1 ? 1 : r.capacity_a;
        const int32_t cap_b = r.capacity_b < 1 ? 1 : r.capacity_b;
        std::string a(static_cast<std::size_t>(cap_a), '\0');
        std::string b(static_cast<std::size_t>(cap_b), '\0');
        int32_t len_a = cap_a, len_b = cap_b;
        out.value_a = r.value_a;
        out.value_b = r.value_b;
        out.value_c = r.value_c;
        const int32_t rc = ORQExt_CLA_GetClassifyResult(c.call_handle(), r.mode, f.data(), &a[0], &len_a, &b[0], &len_b,
                                                        &out.value_c, &out.value_b, &out.value_a, r.extra);
        if (rc < 0) {
            ec = make_error_code(rc);
            return 0;
        }
        a.resize(::orqext::detail::answer_length(len_a, cap_a - 1));
        b.resize(::orqext::detail::answer_length(len_b, cap_b - 1));
        out.text_a = std::move(a);
        out.text_b = std::move(b);
        return 0;
    });
    if (ec) out = cla_result{};
    return out;
}
inline cla_result cla_classify(const connection& c, const cla_request& r) {
    std::error_code ec;
    auto v = cla_classify(c, r, ec);
    return ::orqext::detail::or_throw("ORQExt_CLA_GetClassifyResult", ec, std::move(v));
}

// --- Text classification: EZTC (engine 2) and BSM (engine 7) ---------------
ORQEXT_CPP_STATUS(eztc_set_path, (const connection& c), ORQExt_EZTC_SetPath, (c.call_handle()))
ORQEXT_CPP_STATUS(eztc_free_dict, (const connection& c), ORQExt_EZTC_FreeDict, (c.call_handle()))
struct eztc_request {
    int32_t value1 = 0;
    int32_t value2 = 0;
    std::array<std::string_view, 6> fields{};
    int32_t value3 = 0;
    bool flag = false;
};
// The category text, cut by the library to the connection's initial answer
// size (the call reports no longer length).
inline std::string eztc_classify(const connection& c, const eztc_request& r, std::error_code& ec) noexcept {
    return ::orqext::detail::sized_answer(c.limits(), ec, [&](::orqext::detail::cstrings& s, void* buf, int32_t* len) {
        const EztcTextFields f{s(r.fields[0]), s(r.fields[1]), s(r.fields[2]),
                               s(r.fields[3]), s(r.fields[4]), s(r.fields[5])};
        return ORQExt_EZTC_GetTxtClassify(c.call_handle(), r.value1, r.value2, &f, r.value3,
                                          static_cast<char*>(buf), len, r.flag ? 1 : 0);
    });
}
inline std::string eztc_classify(const connection& c, const eztc_request& r) {
    std::error_code ec;
    auto v = eztc_classify(c, r, ec);
    return ::orqext::detail::or_throw("ORQExt_EZTC_GetTxtClassify", ec, std::move(v));
}

ORQEXT_CPP_STATUS(bsm_word_init, (const connection& c), ORQExt_BSM_Word_Init, (c.call_handle()))
ORQEXT_CPP_STATUS(bsm_free_dict, (const connection& c), ORQExt_BSM_FreeDict, (c.call_handle()))
struct bsm_request {
    int32_t value1 = 0;
    int32_t value2 = 0;
    std::array<std::string_view, 8> fields{};
};
struct bsm_result {
    std::string first;   // the best category
    std::string second;  // the scores
    bool flag = false;
};

namespace detail {
// Two answers that size themselves together: -1107 with a longer length for
// either one asks once more with exactly the lengths reported.
template <class Call>
bool two_answers(const answer_limits& limits, std::error_code& ec, std::string& a, std::string& b,
                 Call&& call) {
    const int32_t maximum = limits.maximum > 0 ? limits.maximum : 0;
    int32_t cap_a = limits.initial < 1 ? 1 : limits.initial;
    if (cap_a > maximum) cap_a = maximum;
    int32_t cap_b = cap_a;
    for (int attempt = 0; attempt < 2; ++attempt) {
        a.assign(static_cast<std::size_t>(cap_a), '\0');
        b.assign(static_cast<std::size_t>(cap_b), '\0');
        int32_t len_a = cap_a, len_b = cap_b;
        const int32_t rc = call(cap_a ? &a[0] : nullptr, &len_a, cap_b ? &b[0] : nullptr, &len_b);
        if (rc == ORQEXT_E_ANSWER_TOO_LONG && attempt == 0 && (len_a > cap_a || len_b > cap_b) &&
            len_a <= maximum && len_b <= maximum) {
            if (len_a > cap_a) cap_a = len_a;
            if (len_b > cap_b) cap_b = len_b;
            continue;
        }
        if (rc < 0) {
            if (rc == ORQEXT_E_ANSWER_TOO_LONG) ::orqext::detail::reported_length() = len_a > len_b ? len_a : len_b;
            ec = make_error_code(rc);
            return false;
        }
        a.resize(::orqext::detail::answer_length(len_a, cap_a));
        b.resize(::orqext::detail::answer_length(len_b, cap_b));
        return true;
    }
    return false;
}
}  // namespace detail

inline bsm_result bsm_classify(const connection& c, const bsm_request& r, std::error_code& ec) noexcept {
    ec.clear();
    bsm_result out;
    ::orqext::detail::guard(ec, [&]() -> int {
        ::orqext::detail::cstrings s;
        const BsmTextFields f{s(r.fields[0]), s(r.fields[1]), s(r.fields[2]), s(r.fields[3]),
                              s(r.fields[4]), s(r.fields[5]), s(r.fields[6]), s(r.fields[7])};
        uint8_t flag = 0;
        if (detail::two_answers(c.limits(), ec, out.first, out.second,
                                [&](char* a, int32_t* la, char* b, int32_t* lb) {
                                    return ORQExt_BSM_GetClassifyResult(c.call_handle(), r.value1, r.value2, &f, a,
                                                                        la, b, lb, &flag);
                                }))
            out.flag = flag != 0;
        return 0;
    });
    if (ec) out = bsm_result{};
    return out;
}
inline bsm_result bsm_classify(const connection& c, const bsm_request& r) {
    std::error_code ec;
    auto v = bsm_classify(c, r, ec);
    return ::orqext::detail::or_throw("ORQExt_BSM_GetClassifyResult", ec, std::move(v));
}

// --- Association dictionaries (engine 1 of "KExt_NLPE") --------------------
ORQEXT_CPP_STATUS(ar_initial, (const connection& c), ORQExt_AR_Initial, (c.call_handle()))
ORQEXT_CPP_STATUS(ar_dict_create, (const connection& c, std::string_view name, std::string_view category,
                                   std::string_view entries),
                  ORQExt_AR_Dict_Create, (c.call_handle(), s(name, "name"), s(category, "category"), s(entries, "entries")))
ORQEXT_CPP_STATUS(ar_dict_delete, (const connection& c, std::string_view name), ORQExt_AR_Dict_Delete,
                  (c.call_handle(), s(name, "name")))
// The status word is the answer (1: exists).
ORQEXT_CPP_STATUS(ar_dict_exists, (const connection& c, std::string_view name), ORQExt_AR_IsDictExist,
                  (c.call_handle(), s(name, "name")))
ORQEXT_CPP_STATUS(ar_dict_load, (const connection& c, std::string_view name), ORQExt_AR_Dict_Load,
                  (c.call_handle(), s(name, "name")))
ORQEXT_CPP_STATUS(ar_dict_unload, (const connection& c, std::string_view name), ORQExt_AR_Dict_Unload,
                  (c.call_handle(), s(name, "name")))
ORQEXT_CPP_STATUS(ar_dict_import, (const connection& c, std::string_view text), ORQExt_AR_Dict_Import,
                  (c.call_handle(), s(text, "text")))
// Every dictionary name; the library cuts the list to the connection's
// initial answer size without telling (use ar_loaded_dict_names where a
// whole list matters).
ORQEXT_CPP_SIZED(ar_all_dict_names, (const connection& c), ORQExt_AR_GetAllDictName,
                 (c.call_handle(), static_cast<char*>(buf), len))
ORQEXT_CPP_SIZED(ar_loaded_dict_names, (const connection& c), ORQExt_AR_GetAllDictNameLoaded,
                 (c.call_handle(), static_cast<char*>(buf), len))
ORQEXT_CPP_SIZED(ar_category_names, (const connection& c), ORQExt_AR_GetCategoryName,
                 (c.call_handle(), static_cast<char*>(buf), len))

// Association lists of a text: `associations` (result A) and, when asked
// for, the categories (result B).
struct ar_search_result {
    std::string associations;
    std::string categories;
};
inline ar_search_result ar_search(const connection& c, std::string_view text, bool with_categories,
                                  std::error_code& ec) noexcept {
    ec.clear();
    ar_search_result out;
    ::orqext::detail::guard(ec, [&]() -> int {
        ::orqext::detail::cstrings s;
        const char* t = s(text, "text");
        detail::two_answers(c.limits(), ec, out.associations, out.categories,
                            [&](char* a, int32_t* la, char* b, int32_t* lb) {
                                if (!with_categories) *lb = 0;
                                return ORQExt_AR_Search(c.call_handle(), t, a, la, with_categories ? b : nullptr, lb);
                            });
        if (!with_categories) out.categories.clear();
        return 0;
    });
    if (ec) out = ar_search_result{};
    return out;
}
inline ar_search_result ar_search(const connection& c, std::string_view text, bool with_categories = true) {
    std::error_code ec;
    auto v = ar_search(c, text, with_categories, ec);
    return ::orqext::detail::or_throw("ORQExt_AR_Search", ec, std::move(v));
}

// --- Aptitude search (engine 5) and word extraction (engine 4) -------------
ORQEXT_CPP_SIZED(aptitude_search, (const connection& c, std::string_view text), ORQExt_Aptitude_Search,
                 (c.call_handle(), s(text, "text"), static_cast<char*>(buf), len))
ORQEXT_CPP_STATUS(aptitude_init, (const connection& c), ORQExt_Aptitude_Init, (c.call_handle()))
ORQEXT_CPP_STATUS(aptitude_uninit, (const connection& c), ORQExt_Aptitude_UnInit, (c.call_handle()))
inline std::vector<segment> aptitude_word_sect(const connection& c, std::string_view text,
                                               const segmentation_options& o, std::error_code& ec) noexcept {
    return detail::segmentation(c, text, ec, [&](const char* t, int32_t* items, int32_t cap, int16_t* marks) {
        return ORQExt_Aptitude_WordSect(c.call_handle(), t, items, cap, o.opt_a, o.opt_b, marks, o.opt_c,
                                        o.flag_a ? 1 : 0);
    });
}
inline std::vector<segment> aptitude_word_sect(const connection& c, std::string_view text,
                                               const segmentation_options& o = {}) {
    std::error_code ec;
    auto r = aptitude_word_sect(c, text, o, ec);
    return ::orqext::detail::or_throw("ORQExt_Aptitude_WordSect", ec, std::move(r));
}

ORQEXT_CPP_STATUS(extract_word_initial, (const connection& c, int32_t mode), ORQExt_ExtractWord_Initial,
                  (c.call_handle(), mode))
ORQEXT_CPP_STATUS(extract_word_free_dict, (const connection& c), ORQExt_ExtractWord_FreeDict, (c.call_handle()))

// One extracted word: the entry of ORQEXT_EXTRACT_ENTRY_SIZE bytes, read as
// the word (up to its NUL within the first 512 bytes) and the four int32
// that follow (count, first offset, text index, byte length). `raw` keeps
// the entry as received.
struct extracted_word {
    std::string word;
    int32_t count = 0;
    int32_t first_offset = 0;
    int32_t text_index = 0;
    int32_t length = 0;
    std::string raw;
};

namespace detail {
inline int32_t le32_at(const unsigned char* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}
inline extracted_word entry_at(const unsigned char* p) {
    extracted_word w;
    w.raw.assign(reinterpret_cast<const char*>(p), ORQEXT_EXTRACT_ENTRY_SIZE);
    std::size_t n = 0;
    while (n < 512 && p[n] != 0) ++n;
    w.word.assign(reinterpret_cast<const char*>(p), n);
    w.count = le32_at(p + 512);
    w.first_offset = le32_at(p + 516);
    w.text_index = le32_at(p + 520);
    w.length = le32_at(p + 524);
    return w;
}
// Room for one entry per byte of the texts (and one more): every word is at
// least one byte, so the answer always fits. Bounded by the maximum answer.
template <class Call>
std::vector<extracted_word> extraction(const connection& c, const std::array<std::string_view, 6>& fields,
                                       std::error_code& ec, Call&& call) noexcept {
    ec.clear();
    std::vector<extracted_word> out;
    ::orqext::detail::guard(ec, [&]() -> int {
        ::orqext::detail::cstrings s;
        std::array<const char*, 6> f{};
        int64_t cap = 1;
        for (std::size_t i = 0; i < f.size(); ++i) {
            f[i] = s(fields[i]);
            cap += static_cast<int64_t>(fields[i].size());
        }
        const int64_t most = c.limits().maximum / ORQEXT_EXTRACT_ENTRY_SIZE;
        if (cap > most) cap = most;
        if (cap < 1) cap = 1;
        std::vector<unsigned char> entries(static_cast<std::size_t>(cap) * ORQEXT_EXTRACT_ENTRY_SIZE);
        int32_t count = static_cast<int32_t>(cap);
        const int32_t rc = call(f.data(), entries.data(), &count);
        if (rc < 0) {
            ec = make_error_code(rc);
            return 0;
        }
        for (int32_t i = 0; i < count && i < cap; ++i)
            out.push_back(entry_at(entries.data() + static_cast<std::size_t>(i) * ORQEXT_EXTRACT_ENTRY_SIZE));
        return 0;
    });
    if (ec) out.clear();
    return out;
}
}  // namespace detail

inline std::vector<extracted_word> extract_word_direct(const connection& c, const std::array<std::string_view, 6>& fields,
                                                       int32_t mode, bool flag, std::error_code& ec) noexcept {
    return detail::extraction(c, fields, ec, [&](const char* const* f, void* entries, int32_t* count) {
        return ORQExt_ExtractWord_Direct(c.call_handle(), f, entries, count, mode, flag ? 1 : 0);
    });
}
inline std::vector<extracted_word> extract_word_direct(const connection& c, const std::array<std::string_view, 6>& fields,
                                                       int32_t mode, bool flag) {
    std::error_code ec;
    auto r = extract_word_direct(c, fields, mode, flag, ec);
    return ::orqext::detail::or_throw("ORQExt_ExtractWord_Direct", ec, std::move(r));
}
inline std::vector<extracted_word> extract_word_direct_normal(const connection& c,
                                                              const std::array<std::string_view, 6>& fields,
                                                              int32_t mode, bool flag, std::error_code& ec) noexcept {
    return detail::extraction(c, fields, ec, [&](const char* const* f, void* entries, int32_t* count) {
        return ORQExt_ExtractWord_DirectNormal(c.call_handle(), f, entries, count, mode, flag ? 1 : 0);
    });
}
inline std::vector<extracted_word> extract_word_direct_normal(const connection& c,
                                                              const std::array<std::string_view, 6>& fields,
                                                              int32_t mode, bool flag) {
    std::error_code ec;
    auto r = extract_word_direct_normal(c, fields, mode, flag, ec);
    return ::orqext::detail::or_throw("ORQExt_ExtractWord_DirectNormal", ec, std::move(r));
}

// --- Topic lists and exports (engine 8 of "KExt_NLPE") ---------------------
ORQEXT_CPP_STATUS(top_init, (const connection& c, std::string_view text), ORQExt_TOP_Init, (c.call_handle(), s(text, "text")))
ORQEXT_CPP_STATUS(top_uninit, (const connection& c, std::string_view text), ORQExt_TOP_UnInit, (c.call_handle(), s(text, "text")))
// The topic list. The call reports no length: the answer is read up to its
// first NUL within the connection's initial answer size.
inline std::string top_list(const connection& c, int32_t value, std::error_code& ec) noexcept {
    ec.clear();
    std::string out;
    ::orqext::detail::guard(ec, [&]() -> int {
        const int32_t cap = c.limits().initial < 1 ? 1 : c.limits().initial;
        std::string buf(static_cast<std::size_t>(cap), '\0');
        const int32_t rc = ORQExt_TOP_List(c.call_handle(), &buf[0], cap, value);
        if (rc < 0) {
            ec = make_error_code(rc);
            return 0;
        }
        out.assign(buf.c_str());
        return 0;
    });
    if (ec) out.clear();
    return out;
}
inline std::string top_list(const connection& c, int32_t value) {
    std::error_code ec;
    auto r = top_list(c, value, ec);
    return ::orqext::detail::or_throw("ORQExt_TOP_List", ec, std::move(r));
}
ORQEXT_CPP_SIZED(top_get_item, (const connection& c, std::string_view topic, std::string_view text),
                 ORQExt_TOP_GetItem, (c.call_handle(), s(topic, "topic"), s(text, "text"), static_cast<char*>(buf), len))
ORQEXT_CPP_STATUS(export_sql_to_file, (const connection& c, std::string_view statement, std::string_view file,
                                       int32_t value, std::string_view separator),
                  ORQExt_ExportSqlToFile, (c.call_handle(), s(statement, "statement"), s(file, "file"), value, s(separator, "separator")))
ORQEXT_CPP_STATUS(make_top_dict, (const connection& c, std::string_view name, std::string_view text),
                  ORQExt_MakeTopDict, (c.call_handle(), s(name, "name"), s(text, "text")))

}  // namespace text
}  // namespace orqext
