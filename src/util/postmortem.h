// Post-mortem reports of programs that die of a fatal signal or an uncaught exception.
#pragma once

#include <string>

namespace lumbrake {

// Called once at start-up with the program path as started (argv[0]). Reports are enabled when
// the registry environment value LUMBRAKE_POSTMORTEM_DEBUG exists and the program's base name
// does not occur in LUMBRAKE_POSTMORTEM_DEBUG_BLACK. An enabled program then writes
// "<program path>-<pid>.dmp" when it crashes, and its core-file limit is raised to the most
// allowed so that the kernel's core file is the full dump.
void postmortem_init(const char* program_path);

// Whether postmortem_init enabled the reports.
bool postmortem_enabled();

// Threads started after postmortem_init call this so that their stack overflows are reported.
void postmortem_thread_init();

} // namespace lumbrake
