// Exit statuses of tandemcheck, named once for the whole program.
#ifndef TANDEMCHECK_EXIT_STATUS_H
#define TANDEMCHECK_EXIT_STATUS_H

// Every compared byte was equal and the run read both inputs to an end.
constexpr int exit_identical = 0;
// A byte differed, a read failed, or the run could not start (help, a
// faulty command line, an input that cannot be opened or positioned).
constexpr int exit_trouble = 1;

#endif
