// docmill: runs the worker once over one document and prints its report.
#pragma once

#include "api/api-types.h"
#include "util/config.h"
#include "worker/docmill-cmdline.h"
#include "worker/worker.h"

#include <wx/app.h>

#include <fstream>
#include <memory>
#include <ostream>

namespace lumbrake {

class docmill : public wxAppConsole {
public:
    docmill();
    ~docmill() override;

    bool OnInit() override;
    int OnRun() override;
    int OnExit() override;

    // Writes the usage text to standard error.
    void print_usage();
    // Registers the directory's plug-ins and docfilters, reads the root pipeline and the source.
    // False when the run cannot go on (no source, or a source that does not read).
    bool load_configuration_directory();

private:
    config cfg_;
    std::unique_ptr<worker> worker_;
    std::ostream* output_ = nullptr;
    std::unique_ptr<std::ofstream> fff_file_;
    docmill_options options_;
    SourceConfiguration source_;
    std::vector<std::int32_t> root_pipeline_;
};

} // namespace lumbrake
