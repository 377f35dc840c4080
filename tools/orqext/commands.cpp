#include "tools/orqext/commands.h"

namespace orqext {

const std::vector<CommandSpec>& commands() {
    static const std::vector<CommandSpec> t = [] {
        std::vector<CommandSpec> v;
        add_admin_commands(v);
        add_message_commands(v);
        add_cluster_commands(v);
        add_text_commands(v);
        add_demo_command(v);
        add_trace_commands(v);
        add_session_commands(v);
        return v;
    }();
    return t;
}

}  // namespace orqext
