// Portal templates: small HTML files with {=NAME=} insertions and nested {=ifdef NAME=} ...
// {=endif=} blocks, named by a template set file that lies beside them.
#pragma once

#include "apiops/api-common.h"

#include <cstdio>
#include <functional>
#include <map>
#include <string>

namespace lumbrake {

struct template_entry {
    std::string text; // as written in the set file
    std::string path; // the set file's directory, "/" and the text
};

using template_set = std::map<std::string, template_entry>;
using template_vars = std::map<std::string, std::string>;

// The lines after the first of a settings file (a template set, a language page), each without
// its comment ('#' on) and the blanks around it, lines with nothing else left out. A line longer
// than `piece` bytes is read as several of up to that many. Stops when `use` returns false and
// returns what it returned last (true when it was never called).
bool for_each_setting(std::FILE* f, std::size_t piece,
                      const std::function<bool(const std::string& text)>& use);

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
