#include "sim/admin.h"

#include "xsr/proto/wire.h"

namespace xsrsim {

using namespace xsrproto;

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Cursor over a text command: words separated by blanks, and key=value
// pairs whose value may be quoted with single quotes.
struct Cursor {
    const std::string& s;
    std::size_t i = 0;

    void skip() {
        while (i < s.size() && blank(s[i])) ++i;
    }
    bool end() {
        skip();
        return i >= s.size();
    }
    std::string word() {
        skip();
        const std::size_t b = i;
        while (i < s.size() && !blank(s[i])) ++i;
        return s.substr(b, i - b);
    }
    // key=value or key='value'; false on a malformed pair.
    bool pair(std::string* key, std::string* value) {
        skip();
        const std::size_t b = i;
        while (i < s.size() && !blank(s[i]) && s[i] != '=') ++i;
        if (i >= s.size() || s[i] != '=' || i == b) return false;
        *key = s.substr(b, i - b);
        ++i;
        if (i < s.size() && s[i] == '\'') {
            const std::size_t close = s.find('\'', i + 1);
            if (close == std::string::npos) return false;
            *value = s.substr(i + 1, close - i - 1);
            i = close + 1;
            return i >= s.size() || blank(s[i]);
        }
        const std::size_t v = i;
        while (i < s.size() && !blank(s[i])) ++i;
        *value = s.substr(v, i - v);
        return true;
    }
};

}  // namespace

bool parse_text_command(const std::string& text, TextCommand* out) {
    *out = TextCommand();
    Cursor c{text};
    if (c.end()) return false;
    const std::size_t save = c.i;
    if (!iequals(c.word(), "use") || !iequals(c.word(), "ext")) {
        c.i = save;
        out->kind = TextKind::Statement;
        return true;
    }
    out->module = c.word();
    if (out->module.empty()) return false;
    out->reg.module = out->module;
    const std::size_t after_module = c.i;
    if (!iequals(c.word(), "cmd")) {
        c.i = after_module;
        out->kind = TextKind::ModuleStatement;
        return true;
    }
    const std::string verb = c.word();
    if (iequals(verb, "reg")) {
        out->kind = TextKind::Register;
    } else if (iequals(verb, "unreg")) {
        out->kind = TextKind::Unregister;
    } else {
        out->kind = TextKind::ModuleStatement;
        return true;
    }
    Registration& r = out->reg;
    std::string key, value;
    while (!c.end()) {
        if (!c.pair(&key, &value)) return false;
        if (iequals(key, "version")) {
            r.has_version = true;
            r.version = value;
        } else if (out->kind == TextKind::Unregister) {
            return false;
        } else if (iequals(key, "ModType")) {
            if (!iequals(value, "autostart")) return false;
            r.autostart = true;
        } else if (iequals(key, "FileRef")) {
            r.file_ref = value;
        } else if (iequals(key, "CmdParam")) {
            r.cmd_param = value;
        } else if (iequals(key, "Desc")) {
            r.desc = value;
        } else if (iequals(key, "DependFiles")) {
            r.depend_files = value;
        } else {
            return false;
        }
    }
    return true;
}

bool parse_action_document(const std::string& text, ActionDocument* out) {
    *out = ActionDocument();
    std::size_t i = 0;
    auto element = [&](const char* name, std::string* value) {
        const std::string open = std::string("<") + name + ">";
        const std::string close = std::string("</") + name + ">";
        if (text.compare(i, open.size(), open) != 0) return false;
        const std::size_t b = i + open.size();
        const std::size_t e = text.find(close, b);
        if (e == std::string::npos) return false;
        *value = text.substr(b, e - b);
        if (value->find('<') != std::string::npos) return false;
        i = e + close.size();
        return true;
    };
    std::string action;
    if (!element("Module", &out->module) || out->module.empty()) return false;
    if (!element("Action", &action)) return false;
    if (iequals(action, "Start")) {
        out->start = true;
    } else if (iequals(action, "Stop")) {
        out->start = false;
    } else {
        return false;
    }
    if (i < text.size()) {
        if (!element("Version", &out->version)) return false;
        out->has_version = true;
    }
    return i == text.size();
}

ModuleTable::Entry* ModuleTable::find_locked(const std::string& name) {
    for (auto& e : entries_)
        if (iequals(e.reg.module, name)) return &e;
    return nullptr;
}

const ModuleTable::Entry* ModuleTable::find_locked(const std::string& name) const {
    for (const auto& e : entries_)
        if (iequals(e.reg.module, name)) return &e;
    return nullptr;
}

int32_t ModuleTable::start_locked(Entry& e) {
    if (e.instance) return 0;
    const ModuleFactory* f = types_.find(e.type);
    if (!f) return kErrNoImplementation;
    ModuleSettings s{e.reg.module, e.reg.version, e.reg.cmd_param};
    e.instance = (*f)(s);
    return e.instance ? 0 : kErrNoImplementation;
}

int32_t ModuleTable::configure(const ModuleEntry& m) {
    std::lock_guard<std::mutex> g(mu_);
    Entry e;
    e.reg.module = m.name;
    e.reg.has_version = true;
    e.reg.version = m.version;
    e.reg.cmd_param = m.param;
    e.reg.file_ref = m.type;
    e.type = m.type;
    if (!types_.find(m.type)) return kErrNoImplementation;
    Entry* slot = find_locked(m.name);
    if (!slot) {
        entries_.push_back(Entry());
        slot = &entries_.back();
    }
    *slot = e;
    return m.started ? start_locked(*slot) : 0;
}

int32_t ModuleTable::register_module(const Registration& r) {
    std::lock_guard<std::mutex> g(mu_);
    if (find_locked(r.module)) return kErrRegistered;
    Entry e;
    e.reg = r;
    if (!e.reg.has_version || e.reg.version.empty()) e.reg.version = "1.0.0.0";
    // The file reference names the hosted type; without one the module's
    // own name does.
    e.type = r.file_ref.empty() ? r.module : r.file_ref;
    entries_.push_back(e);
    if (r.autostart) {
        // A module that cannot start is not left registered either.
        const int32_t rc = start_locked(entries_.back());
        if (rc != 0) entries_.pop_back();
        return rc;
    }
    return 0;
}

namespace {
bool version_matches(bool has_version, const std::string& given, const std::string& registered) {
    return !has_version || given.empty() || given == registered;
}
}  // namespace

int32_t ModuleTable::unregister(const std::string& name, bool has_version, const std::string& version) {
    std::lock_guard<std::mutex> g(mu_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (!iequals(it->reg.module, name)) continue;
        if (!version_matches(has_version, version, it->reg.version)) return kErrVersion;
        entries_.erase(it);  // calls running on the instance keep it alive until they end
        return 0;
    }
    return kErrUnknownModule;
}

int32_t ModuleTable::start(const std::string& name, bool has_version, const std::string& version) {
    std::lock_guard<std::mutex> g(mu_);
    Entry* e = find_locked(name);
    if (!e) return kErrUnknownModule;
    if (!version_matches(has_version, version, e->reg.version)) return kErrVersion;
    return start_locked(*e);
}

int32_t ModuleTable::stop(const std::string& name, bool has_version, const std::string& version) {
    std::lock_guard<std::mutex> g(mu_);
    Entry* e = find_locked(name);
    if (!e) return kErrUnknownModule;
    if (!version_matches(has_version, version, e->reg.version)) return kErrVersion;
    e->instance.reset();
    return 0;
}

int32_t ModuleTable::resolve(const std::string& name, std::shared_ptr<Module>* out,
                             std::string* canonical) const {
    std::lock_guard<std::mutex> g(mu_);
    const Entry* e = find_locked(name);
    if (!e) return kErrUnknownModule;
    if (!e->instance) return kErrNotStarted;
    *out = e->instance;
    if (canonical) *canonical = e->reg.module;
    return 0;
}

std::string ModuleTable::list_text() const {
    std::lock_guard<std::mutex> g(mu_);
    std::string s;
    for (const auto& e : entries_)
        s += e.reg.module + "\t" + e.reg.version + "\t" + (e.instance ? "started" : "registered") +
             "\t" + e.type + "\n";
    return s;
}

int32_t ModuleTable::info_text(const std::string& name, const std::string& second,
                               std::string* out) const {
    std::lock_guard<std::mutex> g(mu_);
    const Entry* e = find_locked(name);
    if (!e) return kErrUnknownModule;
    const Registration& r = e->reg;
    *out = "name=" + r.module + "\nversion=" + r.version + "\nstate=" +
           (e->instance ? "started" : "registered") + "\ntype=" + e->type +
           "\nautostart=" + (r.autostart ? "1" : "0") + "\nfile=" + r.file_ref +
           "\nparam=" + r.cmd_param + "\ndesc=" + r.desc + "\ndepend=" + r.depend_files + "\n";
    if (!second.empty()) *out += "item=" + second + "\n";
    return 0;
}

}  // namespace xsrsim
