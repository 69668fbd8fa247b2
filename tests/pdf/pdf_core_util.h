// Helpers of the pdf_core tests: a document held by the byte source for one test, a writer of
// small PDF files with correct cross-reference offsets, and running the real PDF tools.
#pragma once

#include "../support/files.h"
#include "../support/command.h"
#include "pdf_writer.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pdfparser/pdf-lexer.h"
#include "pdfparser/pdf-xref.h"

namespace pdf_core_test {

// Holds the bytes for the byte source while it lives; frees the process-wide state after.
class Doc {
public:
    explicit Doc(std::string bytes) : bytes_(std::move(bytes)) {
        PdfParser::ByteSource::open(bytes_);
    }
    ~Doc() {
        PdfParser::XrefTable::release();
        PdfParser::ByteSource::close();
    }
    Doc(const Doc&) = delete;
    Doc& operator=(const Doc&) = delete;
    const std::string& bytes() const { return bytes_; }
    PdfParser::Pos length() const { return bytes_.size(); }
    // Offset of the first occurrence of text (npos when absent).
    PdfParser::Pos at(const std::string& text, PdfParser::Pos from = 0) const {
        return bytes_.find(text, from);
    }

private:
    std::string bytes_;
};

// "%PDF-1.4", objects 1..n with the given bodies, one classic cross-reference section, and a
// trailer holding /Size, /Root 1 0 R and the extra keys.
inline std::string build_pdf(const std::vector<std::string>& bodies,
                             const std::string& trailer_extra = "",
                             const std::string& prefix = "") {
    return pdf_writer::pdf_file(bodies, trailer_extra, 1, prefix);
}

using tn_test::read_file;

using tn_test::write_file;

inline std::string tmp_dir() {
    const char* t = std::getenv("TEST_TMPDIR");
    return t ? t : "/tmp/";
}

// Runs a shell command; its standard output, and the exit status in status.
inline std::string run(const std::string& command, int* status = nullptr) {
    int exit_code = -1;
    std::string out = tn_test::command_output_with_status(command, exit_code);
    if (status) *status = exit_code;
    return out;
}

constexpr auto& have_tool = tn_test::have_program;

} // namespace pdf_core_test
