// A fresh SQLite database per test in the program's scratch folder, and small helpers for
// reading back what the storages wrote.
#pragma once

#include "../support/command.h"
#include "../support/sqlite_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace robots_test {

using tn_test::scratch_db;

// Standard output of a shell command (the tests pass only fixed, quoted arguments).
inline std::string run(const std::string& command) {
    return tn_test::command_output(command);
}

using tn_test::have_program;

} // namespace robots_test
