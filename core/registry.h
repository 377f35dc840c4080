// The Connection registry: every handle the library opened, plus handles met
// by the cluster switch, in insertion order. Lookups take the first record
// with a handle; an index beside the sequence keeps them cheap, and the
// lookup of the message path reads a copy that needs no lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/inline.h"
#include "platform/platform.h"

namespace orq::registry {

// The read side of the registry (see registry.cpp): what the message path
// needs to know of a handle, readable without a lock. Only the registry
// writes it, under its lock.
namespace read_side {

// What the read side knows of a handle: nothing (never met), no record, or
// a first record with clustering off or on.
enum : uint8_t { kSlotEmpty = 0, kNoRecord = 1, kRecordOff = 2, kRecordOn = 3 };

struct Slot {
    std::atomic<int32_t> handle{0};
    std::atomic<uint8_t> state{kSlotEmpty};
};

// Open addressing, linear probing; never more than half full.
struct Table {
    explicit Table(unsigned b)
        : bits(b), shift(32 - b), mask((std::size_t{1} << b) - 1), slots(new Slot[mask + 1]) {}
    std::size_t home(int32_t handle) const {
        return (static_cast<uint32_t>(handle) * 0x9E3779B1u) >> shift;
    }
    // Writers only: the handle's slot, or the first free one on its path.
    void put(int32_t handle, uint8_t state) {
        std::size_t i = home(handle);
        for (;;) {
            const uint8_t s = slots[i].state.load(std::memory_order_relaxed);
            if (s == kSlotEmpty) {
                slots[i].handle.store(handle, std::memory_order_release);
                ++taken;
                break;
            }
            if (slots[i].handle.load(std::memory_order_relaxed) == handle) break;
            i = (i + 1) & mask;
        }
        slots[i].state.store(state, std::memory_order_release);
    }
    unsigned bits;
    unsigned shift;  // 32 - bits
    std::size_t mask;
    std::unique_ptr<Slot[]> slots;
    std::size_t taken = 0;  // slots in use, handles without a record included
};

// The sequence counter (odd while a writer changes the table) and the
// current table (null while there is no registry).
struct View {
    std::atomic<uint32_t> seq{0};
    std::atomic<const Table*> current{nullptr};
};
extern View g_view;

// kRecordOff, kRecordOn, kNoRecord, or kSlotEmpty when the handle is unknown,
// there is no registry, or a writer was busy (the caller takes the locked
// path then).
ORQ_ALWAYS_INLINE inline uint8_t lookup(int32_t handle) {
    const uint32_t before = g_view.seq.load(std::memory_order_acquire);
    if (before & 1u) return kSlotEmpty;
    const Table* t = g_view.current.load(std::memory_order_acquire);
    if (!t) return kSlotEmpty;
    // The table's fields are read once, before the slots' acquire loads.
    uint8_t state = kSlotEmpty;
    const Slot* const slots = t->slots.get();
    const std::size_t mask = t->mask;
    std::size_t i = t->home(handle);
    for (std::size_t probes = 0; probes <= mask; ++probes, i = (i + 1) & mask) {
        const uint8_t s = slots[i].state.load(std::memory_order_acquire);
        if (s == kSlotEmpty) break;
        if (slots[i].handle.load(std::memory_order_acquire) == handle) {
            state = s;
            break;
        }
    }
    if (g_view.seq.load(std::memory_order_relaxed) != before) return kSlotEmpty;
    return state;
}

}  // namespace read_side

// True when the handle has a record with clustering off: the message path's
// common case, answered without a lock and without a call.
ORQ_ALWAYS_INLINE inline bool known_unclustered(int32_t handle) {
    return read_side::lookup(handle) == read_side::kRecordOff;
}

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
// How often the registry lock was taken since the library was loaded the
// first time, lock() included (for tests: the message path on a handle
// with a record takes it never).
uint64_t lock_acquisitions();

}  // namespace orq::registry

namespace orq::settings {
// The ClusterEnable setting, read once at load.
bool cluster_enable();
void set_cluster_enable(bool on);
// The rule for a value read from the settings file.
bool parse_cluster_enable(const char* value);
void load();
}  // namespace orq::settings
