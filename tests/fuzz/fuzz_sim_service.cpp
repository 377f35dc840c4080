// xsr-sim's service-frame parser: remote call frames from a client, handed
// to the simulated "KExt_NLPE", "KExt_ARA", "KExt_KWFS" and "KExt_STM"
// modules the way the server hands them a module message. One input is a
// short sequence of calls on fresh module instances, so that later calls
// meet the dictionaries, domains and tables earlier ones made. Checked: no
// answer is longer than the largest a module builds; the sanitizers watch
// the reads of every field.
#include <cstdint>
#include <memory>
#include <string>

#include "sim/modules.h"
#include "sim/modules/service_frame.h"
#include "sim/modules/service_modules.h"
#include "tests/fuzz/fuzz_support.h"

using fuzzsupport::Input;

namespace {

class View : public xsrsim::ServerView {
public:
    std::string server_name() const override { return "fuzz"; }
    std::string statement_log() const override { return std::string(); }
    void clear_statement_log() override {}
    std::string stats() const override { return std::string(); }
    bool hold_gate(const std::string&, const xsrsim::CancelToken&, uint32_t) override { return false; }
    void release_gate(const std::string&) override {}
};

struct Family {
    const char* name;
    std::shared_ptr<xsrsim::Module> (*make)(const xsrsim::ModuleSettings&);
};
const Family kFamilies[] = {
    {"KExt_NLPE", xsrsim::make_nlpe_module},
    {"KExt_ARA", xsrsim::make_ara_module},
    {"KExt_KWFS", xsrsim::make_kwfs_module},
    {"KExt_STM", xsrsim::make_stm_module},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Input in(data, size);
    View view;
    xsrsim::CancelToken cancel;
    std::shared_ptr<xsrsim::Module> modules[4];
    const unsigned calls = 1 + in.u8() % 6;
    for (unsigned i = 0; i < calls && in.left() > 0; ++i) {
        const std::size_t which = in.u8() % 4;
        const Family& f = kFamilies[which];
        if (!modules[which]) {
            xsrsim::ModuleSettings s;
            s.name = f.name;
            s.version = "1.0.0.0";
            modules[which] = f.make(s);
        }
        xsrsim::ModuleCall call;
        call.module = f.name;
        call.user = "admin";
        const uint16_t cap = in.u16();
        call.capacity = cap & 0x8000 ? static_cast<int32_t>(cap & 0x7FFF) << 8 : cap;
        const std::string frame = in.block(1 << 16);
        call.payload.assign(frame.begin(), frame.end());

        const xsrsim::ModuleAnswer a = modules[which]->call(call, cancel, view);
        FUZZ_CHECK(a.bytes.size() <= static_cast<std::size_t>(xsrsim::svc::kMaxAnswer),
                   "%s answered %zu bytes", f.name, a.bytes.size());
    }
    return 0;
}
