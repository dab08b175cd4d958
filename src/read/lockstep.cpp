// The lockstep of both inputs and their reading limits.
#include "read/lockstep.h"

namespace {

block_read read_next(input_reader& reader, std::uint64_t count)
{
    block_read r;
    r.outcome = next_block(reader, r.block, r.length, r.error_number);
    r.ended_at = count + r.length;
    if (!reader.holes.empty())
        r.holes = &reader.holes;
    r.retries = reader.retries;
    return r;
}

// Whether a read held at its limit must read on: its limit is the other
// input's length, and the other has not ended within the bytes held (it
// grew since it was opened) nor stopped the run.
bool reads_on(const block_read& held, const block_read& other)
{
    return held.outcome == read_outcome::limit && !stops_the_run(other.outcome) &&
           (other.outcome != read_outcome::end || other.length > held.length);
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

void settle_at_limit(block_read& held, std::optional<std::uint64_t> length, std::uint64_t count)
{
    if (held.outcome == read_outcome::limit && length && *length < count + block_size) {
        held.outcome = read_outcome::end;
        held.ended_at = *length;
    }
}

void read_both(input_reader& reader1, input_reader& reader2, std::uint64_t count, block_read& r1,
               block_read& r2)
{
    r1 = read_next(reader1, count);
    r2 = stops_the_run(r1.outcome) ? block_read{} : read_next(reader2, count);
    for (lockstep_step step; (step = next_step(r1, r2)) != lockstep_step::settle;) {
        if (step == lockstep_step::read_on_1) {
            lift_limit(reader1);
            r1 = read_next(reader1, count);
        } else {
            lift_limit(reader2);
            r2 = read_next(reader2, count);
        }
    }
    if (r2.outcome == read_outcome::end)
        settle_at_limit(r1, reader1.source->length, count);
    if (r1.outcome == read_outcome::end)
        settle_at_limit(r2, reader2.source->length, count);
}
