#include "sim/delivery.h"

namespace xsrsim {

Chunk next_chunk(std::size_t remaining, std::size_t part_size, std::size_t capacity) {
    const std::size_t piece = remaining < part_size ? remaining : part_size;
    if (piece > capacity) return {Step::Overflow, capacity};
    if (piece == remaining) return {Step::Whole, piece};
    return {Step::Part, piece};
}

}  // namespace xsrsim
