// The thread that hashes the image.
#include "read/hashing.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "interrupts.h"

namespace {

// Bytes of the image waiting to be hashed.
struct span {
    const unsigned char* data;
    std::size_t length;
};

}  // namespace

struct image_hash {
    digest_handle digest;  // the thread's alone while it hashes, else under `lock`
    std::thread thread;

    std::mutex lock;
    std::condition_variable changed;
    std::deque<span> queue;        // queued and not yet hashed
    std::uint64_t queued = 0;      // spans queued so far: the last ticket
    std::uint64_t hashed = 0;      // spans hashed so far
    bool busy = false;             // the thread is hashing a span it took
    bool stop = false;             // no more hashing
    std::uint64_t bytes = 0;       // hashed
    std::uint64_t unreadable = 0;  // could not be read

    ~image_hash() { stop_hashing(*this); }
};

namespace {

void hash_queued(image_hash& hash)
{
    std::unique_lock<std::mutex> hold(hash.lock);
    for (;;) {
        while (!hash.stop && hash.queue.empty())
            hash.changed.wait(hold);
        if (hash.stop)
            return;
        const span next = hash.queue.front();
        hash.queue.pop_front();
        hash.busy = true;
        hold.unlock();
        add_to_digest(*hash.digest, next.data, next.length);
        hold.lock();
        hash.busy = false;
        hash.bytes += next.length;
        ++hash.hashed;
        hash.changed.notify_all();
    }
}

// Waits, holding `hold`, until the thread has hashed every span queued.
void wait_for_queue(image_hash& hash, std::unique_lock<std::mutex>& hold)
{
    while (!hash.stop && (hash.busy || !hash.queue.empty()))
        hash.changed.wait(hold);
}

}  // namespace

std::shared_ptr<image_hash> start_image_hash(digest_algorithm algorithm)
{
    auto hash = std::make_shared<image_hash>();
    hash->digest = start_digest(algorithm);
    if (!hash->digest)
        return nullptr;
    image_hash* own = hash.get();
    hash->thread = start_signal_free_thread([own] { hash_queued(*own); });
    return hash;
}

std::uint64_t hash_later(image_hash& hash, const unsigned char* data, std::size_t length)
{
    std::lock_guard<std::mutex> hold(hash.lock);
    if (!hash.stop) {
        hash.queue.push_back(span{data, length});
        hash.changed.notify_all();
    }
    return ++hash.queued;
}

void hash_now(image_hash& hash, const unsigned char* data, std::size_t length)
{
    std::unique_lock<std::mutex> hold(hash.lock);
    wait_for_queue(hash, hold);
    if (hash.stop)
        return;
    // The thread waits for a span and so leaves the digest alone.
    add_to_digest(*hash.digest, data, length);
    hash.bytes += length;
}

void hash_gap(image_hash& hash, std::uint64_t length)
{
    std::lock_guard<std::mutex> hold(hash.lock);
    hash.unreadable += length;
}

bool wait_hashed(image_hash& hash, std::uint64_t ticket)
{
    std::unique_lock<std::mutex> hold(hash.lock);
    while (!hash.stop && hash.hashed < ticket)
        hash.changed.wait(hold);
    return hash.hashed >= ticket;
}

hash_result finish_hashing(image_hash& hash)
{
    std::unique_lock<std::mutex> hold(hash.lock);
    wait_for_queue(hash, hold);
    hash_result result;
    result.bytes = hash.bytes;
    result.unreadable = hash.unreadable;
    if (!hash.stop && hash.unreadable == 0) {
        result.digest = finish_digest(*hash.digest);
        hash.stop = true;  // the digest is spent
        hash.changed.notify_all();
    }
    return result;
}

void stop_hashing(image_hash& hash)
{
    {
        std::lock_guard<std::mutex> hold(hash.lock);
        hash.stop = true;
        hash.queue.clear();
        hash.changed.notify_all();
    }
    if (hash.thread.joinable() && hash.thread.get_id() != std::this_thread::get_id())
        hash.thread.join();
}
