// The library's state for the targets that call its exports.
#pragma once

#include "core/lifecycle.h"
#include "core/registry.h"

namespace fuzzsupport {

// The library loaded itself with the process: start again from a fresh
// state, with clustering off unless a target switches it on.
inline void fresh_library() {
    orq::lifecycle::unload();
    orq::lifecycle::load();
    orq::settings::set_cluster_enable(false);
}

}  // namespace fuzzsupport
