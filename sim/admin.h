// Module administration of xsr-sim: the text commands "use ext M cmd reg ..."
// and "unreg", the start/stop action document, and the table of registered
// modules with their state.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/modules.h"

namespace xsrsim {

struct Registration {
    std::string module;
    bool has_version = false;
    std::string version;
    bool autostart = false;
    std::string file_ref, cmd_param, desc, depend_files;
};

enum class TextKind {
    Register,         // use ext M cmd reg ...
    Unregister,       // use ext M cmd unreg [version=V]
    ModuleStatement,  // any other "use ext M ..." statement
    Statement,        // anything else
};

struct TextCommand {
    TextKind kind = TextKind::Statement;
    Registration reg;  // Register and Unregister (module, version)
    std::string module;
};

// False when the text starts with "use ext" but the command is malformed
// (no module, an unknown key, an unclosed quote, an empty statement).
bool parse_text_command(const std::string& text, TextCommand* out);

struct ActionDocument {
    std::string module;
    bool start = true;  // Start or Stop
    bool has_version = false;
    std::string version;
};
// <Module>M</Module><Action>Start|Stop</Action>[<Version>V</Version>]
bool parse_action_document(const std::string& text, ActionDocument* out);

class ModuleTable {
public:
    explicit ModuleTable(const ModuleTypes& types) : types_(types) {}

    // Registers (and, when started, starts) a module of the config file; a
    // module of the same name is replaced.
    int32_t configure(const ModuleEntry& m);
    int32_t register_module(const Registration& r);
    int32_t unregister(const std::string& name, bool has_version, const std::string& version);
    int32_t start(const std::string& name, bool has_version, const std::string& version);
    int32_t stop(const std::string& name, bool has_version, const std::string& version);

    // The started module of that name: 0, or the unknown / not started code.
    int32_t resolve(const std::string& name, std::shared_ptr<Module>* out, std::string* canonical) const;

    // Answers of the queries, NUL-terminated text.
    std::string list_text() const;
    int32_t info_text(const std::string& name, const std::string& second, std::string* out) const;

private:
    struct Entry {
        Registration reg;
        std::string type;
        std::shared_ptr<Module> instance;  // non-null while started
    };
    Entry* find_locked(const std::string& name);
    const Entry* find_locked(const std::string& name) const;
    int32_t start_locked(Entry& e);

    const ModuleTypes& types_;
    mutable std::mutex mu_;
    std::vector<Entry> entries_;  // registration order
};

}  // namespace xsrsim
