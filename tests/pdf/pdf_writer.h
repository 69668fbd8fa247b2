// Small PDF files written for tests: "%PDF-1.4", objects numbered from 1, one classic
// cross-reference section with correct offsets, and the trailer.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace pdf_writer {

// The objects with the given bodies; the trailer holds /Size, /Root `root` 0 R and the extra
// keys (e.g. "/Info 5 0 R"). Bytes in `prefix` come before the header; offsets count from it.
inline std::string pdf_file(const std::vector<std::string>& bodies,
                            const std::string& trailer_extra = "", int root = 1,
                            const std::string& prefix = "") {
    std::string out = prefix + "%PDF-1.4\n";
    const std::size_t base = prefix.size();
    std::vector<std::size_t> offsets;
    for (std::size_t k = 0; k < bodies.size(); ++k) {
        offsets.push_back(out.size() - base);
        out += std::to_string(k + 1) + " 0 obj\n" + bodies[k] + "\nendobj\n";
    }
    const std::size_t xref = out.size() - base;
    out += "xref\n0 " + std::to_string(bodies.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t off : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(bodies.size() + 1) + " /Root " +
           std::to_string(root) + " 0 R " + trailer_extra + " >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return out;
}

} // namespace pdf_writer
