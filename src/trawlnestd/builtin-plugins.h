// The plug-ins delivered with the system: a new installation gets their records and two
// document filters (language recognition and URL splitting) so that it filters documents
// without any configuration work.
#pragma once

#include <sqlite3.h>

#include <string>

namespace lumbrake {

// When the configuration store holds neither a Plugin nor a DocFilter record, adds the five
// built-in plug-ins ("SLR", "URL", "Static", "RegEx", "MetaExchange") and the document filters
// "SLR" and "URL" that use the first two; otherwise does nothing. Runs inside the caller's
// transaction. False with "Cannot create plugin <name>" or "Cannot create docfilter <name>"
// (also logged) when a record cannot be stored; records added before stay in the caller's
// uncommitted transaction.
bool register_builtin_plugins(sqlite3* db, std::string& error);

// The training text of the language plug-in: a comment header explaining the format, then one
// section per language ("###BEGIN###", "<number> <ISO 639-1 code>", sample text, "###END###"),
// UTF-8 with CR LF line ends.
const std::string& language_training_text();

} // namespace lumbrake
