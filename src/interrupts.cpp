// Noting interrupts; the comparison loop looks at the note between passes.
#include "interrupts.h"

#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void note_interrupt(int signal_number)
{
    if (caught != 0) {
        // Asked twice: whoever sends it will not wait for the report.
        std::signal(signal_number, SIG_DFL);
        std::raise(signal_number);
        return;
    }
    caught = signal_number;
}

}  // namespace

void catch_interrupts()
{
    struct sigaction action {};
    action.sa_handler = note_interrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read that waits on a stalled pipe or drive must return
    // so that the run can end.
    action.sa_flags = 0;
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // A signal ignored by whoever started us stays ignored.
        if (sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        sigaction(signal_number, &action, nullptr);
    }
}

int caught_interrupt()
{
    return caught;
}

std::thread start_signal_free_thread(std::function<void()> work)
{
    // A thread starts with its creator's mask: all blocked, for the moment.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    std::thread thread;
    try {
        thread = std::thread(std::move(work));
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return thread;
}
