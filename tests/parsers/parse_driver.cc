// Runs one parse and prints the FFF XML form and the outlinks (a stand-in for docmill).
// Usage: tn_parse_driver FILE [URL [MIME [CHARSET]]]   ("-" as MIME: detect)
#include <fstream>
#include <iostream>
#include <sstream>

#include "util/config.h"
#include "fff/fff2xml.h"
#include "parsers/parser.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " FILE [URL [MIME [CHARSET]]]\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "cannot open " << argv[1] << "\n";
        return 2;
    }
    std::ostringstream data;
    data << in.rdbuf();
    std::string url = argc > 2 ? argv[2] : std::string("file://") + argv[1];
    std::string mime = argc > 3 ? argv[3] : "-";
    if (mime == "-") mime.clear();
    std::string cs = argc > 4 ? argv[4] : "";
    lumbrake::config cfg("/dev/null");
    lumbrake::parser p(cfg);
    lumbrake::parse_result r;
    p.parse_document(nullptr, 1000000, url, data.str(), mime, cs, "", r);
    std::cout << "status " << r.status << " mime '" << r.mime << "' charset '" << r.charset
              << "' error '" << r.error << "'\n";
    if (r.document) {
        std::string xml;
        lumbrake::fff_to_xml(xml, "0", url, 0, r.document.get());
        std::cout << xml;
    }
    for (const auto& l : r.outlinks)
        std::cout << "outlink " << l.second << " " << l.first << "\n";
    return r.status == 0 ? 0 : 1;
}
