// orqext/stm.hpp - semantic text mining (module "KExt_STM").
//
// Calls with an answer send their capacity inside the request; the answer
// sizes itself by the connection's answer_limits (on -1107 with the whole
// length, the request is sent once more with exactly that capacity).
// Handles of domains and analysers are the server's plain numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "orqext/connection.hpp"

namespace orqext {
namespace stm {

// One input text (bytes; NULs allowed) with its id.
struct text_item {
    int32_t id = 0;
    std::string_view text;
};
struct option_pair {
    int32_t value = 0;
    bool flag = false;
};
struct classifier_options {
    int32_t value1 = 0;
    int32_t value2 = 0;
    bool flag = false;
};
struct vsm_options {
    bool flag = false;
    int32_t value1 = 0;
    int32_t value2 = 0;
};
struct cluster_shutdown_args {
    int32_t value1 = 0, value2 = 0, value3 = 0, value4 = 0;
    std::string_view name;  // not empty, at most 255 bytes
};

namespace detail {
// The C records of an item list. A text is sent with its exact length; an
// empty one as an empty string.
inline std::vector<StmTextItem> items(const std::vector<text_item>& in) {
    std::vector<StmTextItem> out;
    out.reserve(in.size());
    for (const auto& i : in) {
        if (i.text.empty()) out.push_back(StmTextItem{i.id, 0, ""});
        else out.push_back(StmTextItem{i.id, ::orqext::detail::size32(i.text.size()), i.text.data()});
    }
    return out;
}
// Never null: the library refuses a null list even with a count of 0.
inline const StmTextItem* item_ptr(const std::vector<StmTextItem>& v) {
    static const StmTextItem none{0, 0, ""};
    return v.empty() ? &none : v.data();
}
inline StmOptionPair c_opts(const option_pair& o) { return StmOptionPair{o.value, static_cast<uint8_t>(o.flag)}; }
inline StmClassifierOptions c_opts(const classifier_options& o) {
    return StmClassifierOptions{o.value1, o.value2, static_cast<uint8_t>(o.flag)};
}
inline StmVsmOptions c_opts(const vsm_options& o) { return StmVsmOptions{static_cast<uint8_t>(o.flag), o.value1, o.value2}; }
inline StmClusterShutdownArgs c_args(const cluster_shutdown_args& a) {
    StmClusterShutdownArgs r{};
    r.value1 = a.value1;
    r.value2 = a.value2;
    r.value3 = a.value3;
    r.value4 = a.value4;
    if (a.name.size() >= sizeof r.name || a.name.find('\0') != std::string_view::npos)
        throw ::orqext::detail::refused_argument{};
    a.name.copy(r.name, a.name.size());
    return r;
}
// An lvalue of a temporary record for the length of one call.
template <class T>
const T* ref(const T& v) {
    return &v;
}
}  // namespace detail

// --- Engine and knowledge domains -------------------------------------------
ORQEXT_CPP_STATUS(initialize, (const connection& c), ORQExt_STM_Initialize, (c.call_handle()))
ORQEXT_CPP_STATUS(shutdown, (const connection& c), ORQExt_STM_ShutDown, (c.call_handle()))
// The server's status word (1: initialised).
ORQEXT_CPP_STATUS(is_initialized, (const connection& c), ORQExt_STM_IsInitialized, (c.call_handle()))
ORQEXT_CPP_STATUS(create_domain, (const connection& c, std::string_view name, std::string_view description,
                                  std::string_view keywords, std::string_view note, int32_t value),
                  ORQExt_STM_CreateDomain, (c.call_handle(), s(name, "name"), s(description, "description"), s(keywords, "keywords"), s(note, "note"), value))
ORQEXT_CPP_STATUS(delete_domain, (const connection& c, std::string_view name), ORQExt_STM_DeleteDomain,
                  (c.call_handle(), s(name, "name")))
// Domain names (mode 1: the open ones), as the server lists them.
ORQEXT_CPP_SIZED(domain_names, (const connection& c, int32_t mode), ORQExt_STM_GetDomainNameList,
                 (c.call_handle(), buf, len, mode))
// Returns the domain handle.
ORQEXT_CPP_STATUS(open_domain, (const connection& c, std::string_view name), ORQExt_STM_OpenDomain,
                  (c.call_handle(), s(name, "name")))
ORQEXT_CPP_STATUS(close_domain, (const connection& c, std::string_view name), ORQExt_STM_CloseDomain,
                  (c.call_handle(), s(name, "name")))
ORQEXT_CPP_SIZED(domain_name, (const connection& c, int32_t handle), ORQExt_STM_GetDomainName,
                 (c.call_handle(), handle, buf, len))
// The status word is the domain handle.
ORQEXT_CPP_STATUS(domain_handle, (const connection& c, std::string_view name), ORQExt_STM_GetDomainHandle,
                  (c.call_handle(), s(name, "name")))

// --- Text classifier ----------------------------------------------------------
ORQEXT_CPP_STATUS(classifier_init, (const connection& c, int32_t handle, int32_t value),
                  ORQExt_STM_TextClassifier_Init, (c.call_handle(), handle, value))
ORQEXT_CPP_STATUS(classifier_shutdown, (const connection& c, int32_t handle), ORQExt_STM_TextClassifier_ShutDown,
                  (c.call_handle(), handle))
ORQEXT_CPP_SIZED(classify, (const connection& c, int32_t handle, const std::vector<text_item>& items,
                            const classifier_options& options),
                 ORQExt_STM_TextClassifier_Do,
                 (c.call_handle(), handle, buf, len, detail::item_ptr(detail::items(items)),
                  ::orqext::detail::size32(items.size()), detail::ref(detail::c_opts(options))))

// --- Information filter -------------------------------------------------------
ORQEXT_CPP_STATUS(info_filter_init, (const connection& c, int32_t handle, std::string_view words),
                  ORQExt_STM_InfoFilter_Init, (c.call_handle(), handle, s(words, "words")))
ORQEXT_CPP_STATUS(info_filter_shutdown, (const connection& c, int32_t handle), ORQExt_STM_InfoFilter_ShutDown,
                  (c.call_handle(), handle))
// The number of items the server counts.
ORQEXT_CPP_STATUS(info_filter, (const connection& c, int32_t handle, const std::vector<text_item>& items),
                  ORQExt_STM_InfoFilter_Do,
                  (c.call_handle(), handle, detail::item_ptr(detail::items(items)),
                   ::orqext::detail::size32(items.size())))

// --- Text clusterer -------------------------------------------------------------
ORQEXT_CPP_STATUS(cluster_init, (const connection& c, int32_t handle), ORQExt_STM_TextCluster_Init,
                  (c.call_handle(), handle))
ORQEXT_CPP_STATUS(cluster_shutdown, (const connection& c, int32_t handle, const cluster_shutdown_args& args),
                  ORQExt_STM_TextCluster_ShutDown, (c.call_handle(), handle, detail::ref(detail::c_args(args))))
ORQEXT_CPP_STATUS(cluster_texts, (const connection& c, int32_t handle, const std::vector<text_item>& items,
                                  std::string_view leave_out),
                  ORQExt_STM_TextCluster_Do,
                  (c.call_handle(), handle, detail::item_ptr(detail::items(items)), ::orqext::detail::size32(items.size()),
                   s(leave_out, "leave_out")))

// --- Keyword extractor ----------------------------------------------------------
ORQEXT_CPP_STATUS(keywords_init, (const connection& c, int32_t handle, int32_t value),
                  ORQExt_STM_KeyWordExtractor_Init, (c.call_handle(), handle, value))
ORQEXT_CPP_STATUS(keywords_shutdown, (const connection& c, int32_t handle), ORQExt_STM_KeyWordExtractor_ShutDown,
                  (c.call_handle(), handle))
ORQEXT_CPP_SIZED(keywords, (const connection& c, int32_t handle, const std::vector<text_item>& items,
                            const option_pair& options),
                 ORQExt_STM_KeyWordExtractor_Do,
                 (c.call_handle(), handle, buf, len, detail::item_ptr(detail::items(items)),
                  ::orqext::detail::size32(items.size()), detail::ref(detail::c_opts(options))))

// --- Abstract extractor (with a handle) and abstractor (without) --------------
ORQEXT_CPP_STATUS(abstract_init, (const connection& c, int32_t handle), ORQExt_STM_AbstractExtractor_Initialize,
                  (c.call_handle(), handle))
ORQEXT_CPP_STATUS(abstract_shutdown, (const connection& c, int32_t handle), ORQExt_STM_AbstractExtractor_ShutDown,
                  (c.call_handle(), handle))
ORQEXT_CPP_SIZED(abstract, (const connection& c, int32_t handle, std::string_view text, const option_pair& options,
                            const std::vector<text_item>& context),
                 ORQExt_STM_AbstractExtractor_Do,
                 (c.call_handle(), handle, s(text, "text"), buf, len, detail::ref(detail::c_opts(options)),
                  detail::item_ptr(detail::items(context)), ::orqext::detail::size32(context.size())))
ORQEXT_CPP_STATUS(abstractor_init, (const connection& c), ORQExt_STM_Abstractor_Init, (c.call_handle()))
ORQEXT_CPP_STATUS(abstractor_shutdown, (const connection& c), ORQExt_STM_Abstractor_ShutDown, (c.call_handle()))
ORQEXT_CPP_SIZED(abstractor, (const connection& c, std::string_view text, const option_pair& options,
                              const std::vector<text_item>& context),
                 ORQExt_STM_Abstractor_Do,
                 (c.call_handle(), s(text, "text"), buf, len, detail::ref(detail::c_opts(options)),
                  detail::item_ptr(detail::items(context)), ::orqext::detail::size32(context.size())))

// --- VSM model generator ----------------------------------------------------------
ORQEXT_CPP_STATUS(vsm_init, (const connection& c, int32_t handle), ORQExt_STM_VSMGenerator_Init, (c.call_handle(), handle))
ORQEXT_CPP_STATUS(vsm_shutdown, (const connection& c, int32_t handle), ORQExt_STM_VSMGenerator_ShutDown,
                  (c.call_handle(), handle))
ORQEXT_CPP_SIZED(vsm_generate, (const connection& c, int32_t handle, const std::vector<text_item>& items,
                                const vsm_options& options),
                 ORQExt_STM_VSMGenerator_Do,
                 (c.call_handle(), handle, buf, len, detail::item_ptr(detail::items(items)),
                  ::orqext::detail::size32(items.size()), detail::ref(detail::c_opts(options))))
ORQEXT_CPP_SIZED(vsm_result, (const connection& c, int32_t handle, std::string_view text, const vsm_options& options),
                 ORQExt_STM_VSMGenerator_GetResult,
                 (c.call_handle(), handle, buf, len, s(text, "text"), detail::ref(detail::c_opts(options))))

// --- Similarity --------------------------------------------------------------------
ORQEXT_CPP_STATUS(similarity_init, (const connection& c), ORQExt_STM_Similarity_Initialize, (c.call_handle()))
ORQEXT_CPP_STATUS(similarity_shutdown, (const connection& c), ORQExt_STM_Similarity_ShutDown, (c.call_handle()))
// The server's status word (the simulated module: cosine x 1000).
ORQEXT_CPP_STATUS(similarity, (const connection& c, std::string_view text1, std::string_view text2),
                  ORQExt_STM_Similarity_Analyst, (c.call_handle(), s(text1, "text1"), s(text2, "text2")))

}  // namespace stm
}  // namespace orqext
