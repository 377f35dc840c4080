// How an answer reaches the client: whole, in parts of at most the part
// size, or cut at the capacity the client offered. Pure rules, kept apart
// from the server so that they can be tested alone.
#pragma once

#include <cstddef>
#include <cstdint>

namespace xsrsim {

enum class Step {
    Whole,     // the rest fits: deliver it with the module's result
    Part,      // deliver `len` bytes with -1108, keep the rest for the next poll
    Overflow,  // the next piece does not fit the capacity: deliver `len` leading
               // bytes with -1107 and the whole answer's length, and drop
               // the answer
};

struct Chunk {
    Step step;
    std::size_t len;
};

// remaining: answer bytes not yet delivered; part_size > 0; capacity >= 0.
Chunk next_chunk(std::size_t remaining, std::size_t part_size, std::size_t capacity);

}  // namespace xsrsim
