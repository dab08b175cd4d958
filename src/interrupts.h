// The signals that end a run early: SIGINT, SIGTERM and SIGHUP.
#ifndef TANDEMCHECK_INTERRUPTS_H
#define TANDEMCHECK_INTERRUPTS_H

#include <functional>
#include <thread>

// Notes the first of these signals instead of dying at once, so that the
// run can write out what it found; a second one ends the process at once.
void catch_interrupts();

// The signal noted, or 0.
int caught_interrupt();

// Starts `work` on a thread that takes no signal: they are for the main
// thread, whose reads they must cut short. Throws as std::thread does.
std::thread start_signal_free_thread(std::function<void()> work);

#endif
