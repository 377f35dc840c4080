// Placeholder until cluster routing lands: no lists, no nodes.
#include "cluster/cluster.h"

namespace orq::cluster {

void create() {}
void destroy() {}
int32_t refresh(int32_t) { return 0; }
int32_t select_node(int32_t, const char*) { return 0; }
bool cleanup(int32_t) { return false; }

}  // namespace orq::cluster
