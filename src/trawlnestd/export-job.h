// The export job: writes every configuration record into a new directory, one file per record
// named "<key>-<id, 10 digits zero-filled>.xml", all read in one transaction so the files are
// one consistent snapshot. The directory is what the import job and docmill --configdir read.
#pragma once

#include <string>

namespace lumbrake {
class config;
}

namespace lumbrake::cfgjobs {

// The file name of record `id` of the type with `key`: "<key>-%010d.xml".
std::string export_file_name(const char* key, int id);

// Creates `directory` (one level) and writes every record, printing "E <label> <id>" for each
// file written and "X <label> <id>: <error>" for each that was not, on standard output. True
// when the job ran to its end (also when single records failed); false with `error` set when
// the directory exists already or cannot be created. Opens its own connection to trawlnest.db
// in the current directory.
bool export_config(const config& cfg, const std::string& directory, std::string& error);

} // namespace lumbrake::cfgjobs
