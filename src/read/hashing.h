// Hashing the image as it is read for the comparison (-s), on a thread of
// its own over the reading's own buffers: the image is never read twice,
// and the comparison waits for the hash only where the hash is slower than
// both media.
#ifndef TANDEMCHECK_HASHING_H
#define TANDEMCHECK_HASHING_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform.h"

// The thread and its queue of spans (defined in hashing.cpp).
struct image_hash;

// What hashing the image came to.
struct hash_result {
    std::string digest;            // raw bytes; empty where it could not be computed
    std::uint64_t bytes = 0;       // hashed
    std::uint64_t unreadable = 0;  // bytes of the image that could not be read (-k)
};

// Starts hashing with `algorithm`; nothing where the digest or the thread
// cannot be had. Shared: a reading thread left to finish a slow request
// may still hand it spans, which are then dropped.
std::shared_ptr<image_hash> start_image_hash(digest_algorithm algorithm);

// Queues the next `length` bytes of the image at `data`, which stay put
// until wait_hashed(ticket) returns. Returns the ticket.
std::uint64_t hash_later(image_hash& hash, const unsigned char* data, std::size_t length);

// Hashes the next `length` bytes of the image at `data` on the calling
// thread, after everything queued.
void hash_now(image_hash& hash, const unsigned char* data, std::size_t length);

// The next `length` bytes of the image could not be read: the digest will
// not be computed.
void hash_gap(image_hash& hash, std::uint64_t length);

// Waits until the span of `ticket` (and every one before it) is hashed.
// False where the hashing was stopped first.
bool wait_hashed(image_hash& hash, std::uint64_t ticket);

// Waits for everything queued and returns what the hashing came to.
hash_result finish_hashing(image_hash& hash);

// Ends the thread at once: spans still queued are dropped, and nothing
// waits for them any longer.
void stop_hashing(image_hash& hash);

#endif
