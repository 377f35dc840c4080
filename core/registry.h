// The Connection registry: every handle the library opened, plus handles met
// by the cluster switch, in insertion order. Lookups take the first record
// with a handle; an index beside the sequence keeps them cheap, and the
// lookup of the message path reads a copy that needs no lock.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace orq::registry {

struct Record {
    int32_t handle;
    bool cluster_enabled;
    bool foreign;
};

// Created and destroyed by the library's load and unload.
void create();
void destroy();
platform::Lock& lock();

// The open operation: checks, login record, XSR_OpenConn, registration and,
// when the ClusterEnable setting is on, the cluster refresh.
int32_t open(const char* server, int32_t port, const char* user, const char* password,
             int32_t* handle_slot);
// The close operation: removes the first record of the handle and closes it
// under the registry lock; -4100 when there is no record.
int32_t close(int32_t handle);

// The following need the registry lock held by the caller.
Record* find_locked(int32_t handle);            // first record, or nullptr
Record* append_locked(int32_t handle, bool cluster_enabled, bool foreign);
void remove_first_locked(int32_t handle);
// Changes a record's cluster_enabled (r from find_locked). Records are
// changed only through these three, so the lock-free lookup stays true.
void set_cluster_enabled_locked(Record* r, bool on);

// Looks up the handle's record, appending a foreign one from the setting when
// there is none, and returns its cluster_enabled. A handle that has a record
// is looked up without taking the registry lock.
bool cluster_enabled_or_create(int32_t handle);

// Unload: closes every non-foreign handle once and empties the registry.
// Called with the registry lock held.
void close_all_locked();

// Number of records (for tests and diagnostics).
int count();

}  // namespace orq::registry

namespace orq::settings {
// The ClusterEnable setting, read once at load.
bool cluster_enable();
void set_cluster_enable(bool on);
// The rule for a value read from the settings file.
bool parse_cluster_enable(const char* value);
void load();
}  // namespace orq::settings
