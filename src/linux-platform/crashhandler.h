// Post-mortem reports: fatal signals (handled on an alternate stack) and std::terminate write a
// text report "<program>-<pid>.dmp" (signal, fault address, backtrace, memory map) and the
// process then ends by the signal's default action, so the kernel's core file (when the
// core-file limit allows one) is the full dump.
#pragma once

namespace lumbrake::platform {

// Installs the handlers once; program_path is the program as started (argv[0]), used for the
// report's name. Also raises the soft core-file limit to the hard one.
void crash_handler_install(const char* program_path);

// Gives the calling thread its own alternate signal stack, so that a stack overflow there is
// reported too. The installing thread has one already; threads started later call this.
void crash_handler_thread_init();

} // namespace lumbrake::platform
