// Portal templates: small HTML files with {=NAME=} insertions and nested {=ifdef NAME=} ...
// {=endif=} blocks, named by a template set file that lies beside them.
#pragma once

#include "apiops/api-common.h"

#include <map>
#include <string>

namespace lumbrake {

struct template_entry {
    std::string text; // as written in the set file
    std::string path; // the set file's directory, "/" and the text
};

using template_set = std::map<std::string, template_entry>;
using template_vars = std::map<std::string, std::string>;

// Reads a set file (its first line, the page kind, is skipped). False when the file cannot be
// opened or a line holds text without ':'.
bool load_template_set(const std::string& set_file, template_set& set);

// Expands a template's text. Values are inserted as stored: callers escape what they put in.
std::string expand_template(const std::string& text, const template_vars& outer,
                            const template_vars& inner);

// Renders the named template and sends it in one piece. False, with nothing sent, when the set
// has no such template or its file cannot be read.
bool render_template(const template_set& set, int sock, const std::string& name,
                     const template_vars& outer, const template_vars& inner);

// Renders "internalerror" with one flag named after the result's fault name.
void render_internal_error(int sock, const template_set& set, const template_vars& outer,
                           const api_result& result);

} // namespace lumbrake
