// orqext text segment, similarity, domains.
#include <algorithm>
#include <string>
#include <vector>

#include "exports/orqext.h"
#include "tools/orqext/commands.h"

namespace orqext {
namespace {

constexpr int64_t kMaxEntries = 1 << 20;
constexpr int32_t kMaxListBytes = 64 << 20;

// The service module a command calls: named in the advice when the server
// has not got it registered or started.
void uses_service(Context& ctx, const char* module) {
    ctx.module = module;
    ctx.service_module = true;
}

int text_segment(Context& ctx) {
    const std::string text = ctx.in.arg(0);
    if (text.empty()) throw UsageError("TEXT must not be empty");
    // Room for one entry per byte of the text (and the one more the library
    // keeps): every word is at least one byte, so the list always fits.
    const int64_t whole = std::min<int64_t>(static_cast<int64_t>(text.size()) + 1, kMaxEntries);
    const int32_t cap = static_cast<int32_t>(ctx.in.integer("capacity", 2, kMaxEntries, whole));
    uses_service(ctx, "KExt_NLPE");
    Session s(ctx);
    std::vector<int32_t> items(static_cast<std::size_t>(cap));
    std::vector<int16_t> marks(static_cast<std::size_t>(cap));
    const int32_t rc = ORQExt_NLPE_WordSect(s.conn(), text.c_str(), items.data(), cap, 0, 0, marks.data(), 0, 0, 0);
    Value v = Value::object();
    v.set("text", Value::text(text));
    if (rc >= 0) {
        // Entries are offsets and lengths in the text; one that does not lie
        // inside the text is shown without its word.
        Value tokens = Value::list();
        for (int32_t i = 0; i < rc && i < cap; ++i) {
            const int64_t off = items[static_cast<std::size_t>(i)];
            const int64_t len = static_cast<uint16_t>(marks[static_cast<std::size_t>(i)]);
            Value t = Value::object();
            t.set("index", Value::integer(i));
            t.set("offset", Value::integer(off));
            t.set("length", Value::integer(len));
            const bool inside = off >= 0 && off + len <= static_cast<int64_t>(text.size());
            t.set("word", inside ? Value::text(text.substr(static_cast<std::size_t>(off), static_cast<std::size_t>(len)))
                                 : Value());
            tokens.push(t);
        }
        v.set("count", Value::integer(rc));
        v.set("tokens", tokens);
        // capacity - 1 entries fit: a full list shorter than the text may
        // have been cut.
        if (rc >= cap - 1 && static_cast<int64_t>(cap) - 1 < static_cast<int64_t>(text.size()))
            return ctx.finish_cut(v, "word segmentation", rc, "number of words",
                                  "the list filled its room of " + std::to_string(cap - 1) +
                                      " entries and may be cut; leave out --capacity (one entry per byte of the text)");
    }
    return ctx.finish(v, "word segmentation", rc, "number of words");
}

int text_similarity(Context& ctx) {
    const std::string a = ctx.in.arg(0), b = ctx.in.arg(1);
    if (a.empty() || b.empty()) throw UsageError("both texts must be non-empty");
    uses_service(ctx, "KExt_STM");
    Session s(ctx);
    const int32_t rc = ORQExt_STM_Similarity_Analyst(s.conn(), a.c_str(), b.c_str());
    Value v = Value::object();
    // The server's status word is the score (xsr-sim: cosine x 1000).
    if (rc >= 0) v.set("similarity", Value::integer(rc, "/1000"));
    return ctx.finish(v, "text similarity", rc, "similarity score");
}

// The module cuts the list to the whole lines that fit the capacity, without
// -1107: a list that grows when offered twice the room was cut. So the room
// is doubled until the list stops growing (at most kMaxListBytes).
int text_domains(Context& ctx) {
    int32_t cap = static_cast<int32_t>(ctx.in.integer("capacity", 1, kMaxListBytes, 65536));
    uses_service(ctx, "KExt_STM");
    Session s(ctx);
    std::string list;
    int32_t rc = 0;
    bool cut = false;
    for (bool first = true;; first = false) {
        std::string buf(static_cast<std::size_t>(cap), '\0');
        int32_t len = cap;
        rc = ORQExt_STM_GetDomainNameList(s.conn(), &buf[0], &len, ctx.in.has("open") ? 1 : 0);
        if (rc < 0) break;
        const int32_t kept = len < 0 ? 0 : (len < cap ? len : cap);
        // Less than half the room used, or no more than with half the room:
        // nothing was left out for want of room.
        const bool settled = first ? kept < cap / 2 : static_cast<std::size_t>(kept) <= list.size();
        list = buf.substr(0, static_cast<std::size_t>(kept));
        if (settled) break;
        if (cap >= kMaxListBytes) {
            cut = true;
            break;
        }
        cap = cap > kMaxListBytes / 2 ? kMaxListBytes : cap * 2;
    }
    Value v = Value::object();
    if (rc >= 0) {
        Value names = Value::list();
        for (const std::string& l : lines_of(list)) names.push(Value::text(l));
        v.set("domains", names);
        if (cut)
            return ctx.finish_cut(v, "knowledge domain list", rc, nullptr,
                                  "the list still grew at " + std::to_string(kMaxListBytes) + " bytes and may be cut");
    }
    return ctx.finish(v, "knowledge domain list", rc);
}

}  // namespace

void add_text_commands(std::vector<CommandSpec>& t) {
    t.push_back({"text segment", "TEXT", "split a text into words (module KExt_NLPE)",
                 "Calls ORQExt_NLPE_WordSect and shows each entry: offset and length in the\n"
                 "text, and the word they cover.",
                 {{"capacity", "N", "room for N entries (default: one per byte of the text, so the list always fits; N - 1 entries fit)"}}, 1, 1, true,
                 text_segment});
    t.push_back({"text similarity", "TEXT1 TEXT2", "similarity of two texts (module KExt_STM)",
                 "Calls ORQExt_STM_Similarity_Analyst; the server's status word is the score\n"
                 "(xsr-sim answers the cosine of the word counts times 1000, shown as N/1000;\n"
                 "--json gives the bare number).",
                 {}, 2, 2, true, text_similarity});
    t.push_back({"text domains", "", "list the knowledge domains (module KExt_STM)", "",
                 {{"open", "", "only the open domains"},
                  {"capacity", "BYTES", "first answer buffer size (default 65536; doubled while the list grows)"}},
                 0, 0, true, text_domains});
}

}  // namespace orqext
