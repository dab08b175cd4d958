// The lockstep of both inputs and their reading limits.
#include "read/lockstep.h"

namespace {

// The block's first byte, from the start offset.
std::uint64_t start_of(const block_read& r)
{
    return r.block.index * block_size;
}

void read_next(input_reader& reader, block_read& r)
{
    r.outcome = next_block(reader, r.block, r.error_number);
    r.ended_at = start_of(r) + r.block.length;
}

// Whether a read held at its limit must read on: its limit is the other
// input's length, and the other has not ended within the bytes held (it
// grew since it was opened) nor stopped the run.
bool reads_on(const block_read& held, const block_read& other)
{
    return held.outcome == read_outcome::limit && !stops_the_run(other.outcome) &&
           (other.outcome != read_outcome::end || other.block.length > held.block.length);
}

}  // namespace

std::optional<std::uint64_t> reading_limit(const input& self, const input& other)
{
    if (other.length && (!self.length || *other.length < *self.length))
        return other.length;
    return std::nullopt;
}

bool stops_the_run(read_outcome outcome)
{
    return outcome == read_outcome::error || outcome == read_outcome::interrupted;
}

lockstep_step next_step(const block_read& r1, const block_read& r2)
{
    if (reads_on(r1, r2))
        return lockstep_step::read_on_1;
    if (reads_on(r2, r1))
        return lockstep_step::read_on_2;
    return lockstep_step::settle;
}

void settle_at_limit(block_read& held, std::optional<std::uint64_t> length)
{
    if (held.outcome == read_outcome::limit && length && *length < start_of(held) + block_size) {
        held.outcome = read_outcome::end;
        held.ended_at = *length;
    }
}

void read_both(input_reader& reader1, input_reader& reader2, block_read& r1, block_read& r2)
{
    read_next(reader1, r1);
    if (stops_the_run(r1.outcome))
        r2 = block_read{};
    else
        read_next(reader2, r2);
    for (lockstep_step step; (step = next_step(r1, r2)) != lockstep_step::settle;) {
        if (step == lockstep_step::read_on_1) {
            lift_limit(reader1);
            read_next(reader1, r1);
        } else {
            lift_limit(reader2);
            read_next(reader2, r2);
        }
    }
    if (r2.outcome == read_outcome::end)
        settle_at_limit(r1, reader1.source->length);
    if (r1.outcome == read_outcome::end)
        settle_at_limit(r2, reader2.source->length);
}
