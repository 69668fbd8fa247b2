// The report that docmill prints for one document, and the exit status of the run.
#pragma once

#include "worker/worker.h"

#include <ostream>
#include <string>

namespace lumbrake {

struct docmill_report {
    const process_result* result = nullptr;
    const std::string* headers = nullptr;
    const std::string* content = nullptr;
    const outlink_list* outlinks = nullptr;
    // The FFF document in its XML form; null when the run gave no document.
    const std::string* fff_xml = nullptr;
    // Null when the FFF goes to the report stream itself, else the file it is written to.
    const std::string* fff_file_name = nullptr;
};

// Writes the report to out (and the FFF XML to fff_out, which may be out itself) and returns
// the exit status: 0 done, 1 not found or invalid redirect, 2 errors, 3 blocked, 4 out of docs.
int write_docmill_report(const docmill_report& report, std::ostream& out, std::ostream& fff_out);

} // namespace lumbrake
