// The simulated text analysis and semantic text mining modules of xsr-sim:
// module types "KExt_NLPE" (engines 0 to 8), "KExt_ARA", "KExt_KWFS" and
// "KExt_STM". Each answers the remote calls of its family with small,
// deterministic computations on the texts it is given and keeps its
// dictionaries, domains and tables in memory while it is started.
// docs/sim-modules.md describes every remote function and its reply.
#pragma once

#include <memory>
#include <mutex>

#include "sim/modules.h"
#include "sim/modules/service_frame.h"

namespace xsrsim {

// Adds the four module types.
void register_service_types(ModuleTypes& types);

std::shared_ptr<Module> make_nlpe_module(const ModuleSettings&);
std::shared_ptr<Module> make_ara_module(const ModuleSettings&);
std::shared_ptr<Module> make_kwfs_module(const ModuleSettings&);
std::shared_ptr<Module> make_stm_module(const ModuleSettings&);

namespace svc {

// Common frame of the four modules: opens the remote call frame, then runs
// the family's handler under the module's lock (calls are short; a module
// instance is one engine state shared by every connection).
class ServiceModule : public Module {
public:
    explicit ServiceModule(bool with_selector) : with_selector_(with_selector) {}
    ModuleAnswer call(const ModuleCall& call, const CancelToken& cancel, ServerView& server) override;

protected:
    // `offered`: the answer capacity the client offered.
    virtual ModuleAnswer dispatch(ServiceCall& rc, int32_t offered) = 0;

private:
    const bool with_selector_;
    std::mutex mu_;
};

}  // namespace svc
}  // namespace xsrsim
