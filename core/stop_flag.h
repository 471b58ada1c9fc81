/*
 * The daemon's only global: cleared by the stop handler, read wherever
 * long work must give way to a stop (the loop, a fill).
 */
#ifndef MORVEND_CORE_STOP_FLAG_H
#define MORVEND_CORE_STOP_FLAG_H

#include <csignal>

inline volatile std::sig_atomic_t running = 1;

#endif
