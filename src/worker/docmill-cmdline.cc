#include "worker/docmill-cmdline.h"

#include <cstdlib>
#include <string_view>

namespace lumbrake {

const char* const docmill_usage_text =
    "usage: worker [options] base_score docid url\n"
    "       worker [options] filename base_score docid url mimetype charset\n"
    " options (must be given in this order) are:\n"
    "    --output-words          writes a simple list of words contained in the document\n"
    "    --fff-file=<filename>   saves the FFF to the given file instead of printing it on stdout\n"
    "    --configdir=<path>      path to an exported configuration directory\n"
    "    --source=<sourceid>     source id to use to process the document [uses plugins]\n"
    "    --text-exclusion-begin=<marker>  text exclusion begin marker\n"
    "    --text-exclusion-end=<marker>    text exclusion end marker\n"
    " --source requires --configdir\n";

std::int32_t atoi32(const std::string& text) {
    // strtol saturates at the range of long; the narrowing then wraps as atoi's int result does.
    return static_cast<std::int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

namespace {

// When args[i] begins with the prefix: value = the rest, i moves on, true.
bool take_option(const std::vector<std::string>& args, std::size_t& i, std::string_view prefix,
                 std::string& value) {
    if (i >= args.size() || !std::string_view(args[i]).starts_with(prefix)) return false;
    value = args[i].substr(prefix.size());
    ++i;
    return true;
}

} // namespace

bool parse_docmill_args(const std::vector<std::string>& args, docmill_options& o) {
    o = docmill_options{};
    if (args.empty()) return false;
    std::size_t i = 1;
    if (i < args.size() && args[i] == "--output-words") {
        o.output_words = true;
        ++i;
    }
    o.has_fff_file = take_option(args, i, "--fff-file=", o.fff_file);
    take_option(args, i, "--configdir=", o.configdir);
    std::string source;
    if (take_option(args, i, "--source=", source)) {
        if (o.configdir.empty()) return false;
        o.source_id = atoi32(source);
    }
    take_option(args, i, "--text-exclusion-begin=", o.text_exclusion_begin);
    take_option(args, i, "--text-exclusion-end=", o.text_exclusion_end);

    const std::size_t left = args.size() - i;
    if (left == 3) {
        o.file_mode = 0;
        o.base_score = atoi32(args[i]);
        o.docid = args[i + 1];
        o.url = args[i + 2];
        return true;
    }
    if (left == 6) {
        o.file_mode = 1;
        o.file_name = args[i];
        o.base_score = atoi32(args[i + 1]);
        o.docid = args[i + 2];
        o.url = args[i + 3];
        o.mimetype = args[i + 4];
        o.charset = args[i + 5];
        return true;
    }
    return false;
}

} // namespace lumbrake
