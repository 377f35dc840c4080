// orqext.hpp - the C++17 layer over ORQExtClient's C API (orqext.h).
//
// Header-only, written over the exported ORQExt_ functions alone, so it works
// with any build of the library. Conventions (docs/cpp.md):
//   - every call throws orqext::error (a std::system_error) on failure and has
//     an overload taking std::error_code& that never throws;
//   - orqext::connection is a move-only RAII handle;
//   - texts go in as std::string_view, answers come out as std::string,
//     std::vector and small structs; answers size themselves;
//   - orqext::async_requester gives each asynchronous request its own callback.
#pragma once

#include "orqext/result_text.hpp"
#include "orqext/error.hpp"
#include "orqext/connection.hpp"
#include "orqext/messages.hpp"
#include "orqext/async.hpp"
#include "orqext/cluster.hpp"
#include "orqext/text.hpp"
#include "orqext/stm.hpp"
