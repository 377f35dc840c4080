// Cluster routing as seen by the core: the refresh run by the open operation,
// node selection for module messages, and the clean-up of ORQExt_DisConnect.
#pragma once

#include <cstdint>

namespace orq::cluster {

void create();
void destroy();

// Fetches the server's cluster description for conn and replaces conn's list.
// A description that runs past the received bytes or whose strings do not fit
// their fields is refused with -1107 and conn's list stays as it was.
int32_t refresh(int32_t conn);
// The live node connection that serves module_name for conn, or 0.
int32_t select_node(int32_t conn, const char* module_name);
// Closes the node connections opened for conn and drops its list; true when
// conn had a list.
bool cleanup(int32_t conn);

// True when the table holds a list (possibly empty) for conn (for tests and
// diagnostics).
bool has_list(int32_t conn);

}  // namespace orq::cluster
