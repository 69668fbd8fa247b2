#include "webservices/template.h"

#include "httpfront/httpio.h"
#include "util/escape.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace lumbrake {

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// One line of at most `limit` characters (without its line feed); false at the end of file.
bool read_piece(std::FILE* f, std::string& line, std::size_t limit) {
    line.clear();
    int c;
    while ((c = std::fgetc(f)) != EOF) {
        if (c == '\n') return true;
        line.push_back(static_cast<char>(c));
        if (line.size() >= limit) return true;
    }
    return !line.empty();
}

// The file's whole content; false when it cannot be read. Files too large to be a template
// are refused rather than read into memory.
bool read_whole_file(const std::string& path, std::string& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bool ok = false;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        long size = std::ftell(f);
        if (size >= 0 && size <= 64L * 1024 * 1024 && std::fseek(f, 0, SEEK_SET) == 0) {
            out.resize(static_cast<std::size_t>(size));
            ok = std::fread(out.data(), 1, out.size(), f) == out.size();
        }
    }
    std::fclose(f);
    return ok;
}

} // namespace

bool for_each_setting(std::FILE* f, std::size_t piece,
                      const std::function<bool(const std::string& text)>& use) {
    std::string line;
    // The first line names the page kind.
    if (!read_piece(f, line, piece)) return true;
    while (read_piece(f, line, piece)) {
        std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        while (!line.empty() && is_space(line.back()))
            line.pop_back();
        std::size_t start = 0;
        while (start < line.size() && is_space(line[start]))
            ++start;
        if (start == line.size()) continue;
        if (!use(line.substr(start))) return false;
    }
    return true;
}

bool load_template_set(const std::string& set_file, template_set& set) {
    std::size_t slash = set_file.rfind('/');
    std::string directory = slash == std::string::npos ? std::string() : set_file.substr(0, slash);
    std::FILE* f = std::fopen(set_file.c_str(), "r");
    if (!f) return false;
    // Long lines are read in pieces, as each piece is.
    const bool ok = for_each_setting(f, 1022, [&](const std::string& line) {
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) return false;
        std::string name = line.substr(0, colon);
        std::size_t value = colon + 1;
        while (value < line.size() && is_space(line[value]))
            ++value;
        if (value == line.size()) return true;
        std::string text = line.substr(value);
        set[name] = template_entry{text, directory + "/" + text};
        return true;
    });
    std::fclose(f);
    return ok;
}

std::string expand_template(const std::string& text, const template_vars& outer,
                            const template_vars& inner) {
    std::string out;
    std::vector<bool> stack{true};
    auto on = [&] { return !stack.empty() && stack.back(); };
    std::size_t copy = 0;
    std::size_t p;
    while ((p = text.find("{=", copy)) != std::string::npos) {
        if (on()) out.append(text, copy, p - copy);
        std::size_t end = text.find("=}", p + 2);
        if (end == std::string::npos) {
            // An unclosed mark stays in the rest, which is sent as it stands.
            copy = p;
            break;
        }
        std::string directive = text.substr(p + 2, end - p - 2);
        if (directive.rfind("ifdef ", 0) == 0) {
            stack.push_back(on() && inner.count(directive.substr(6)) != 0);
        } else if (directive == "endif") {
            // An unmatched endif pops the starting entry (output off); beyond that it is a no-op.
            if (!stack.empty()) stack.pop_back();
        } else if (on()) {
            auto i = inner.find(directive);
            if (i != inner.end()) {
                out += i->second;
            } else {
                // Outer values come from the request's query string: escaped, they cannot
                // add markup to the page (inner values are escaped by whoever fills them).
                auto o = outer.find(directive);
                if (o != outer.end()) out += html_escape(o->second);
            }
        }
        copy = end + 2;
    }
    if (on()) out.append(text, copy, std::string::npos);
    return out;
}

bool render_template(const template_set& set, int sock, const std::string& name,
                     const template_vars& outer, const template_vars& inner) {
    auto entry = set.find(name);
    if (entry == set.end()) return false;
    std::string text;
    if (!read_whole_file(entry->second.path, text)) return false;
    std::string out = expand_template(text, outer, inner);
    http_send(sock, out);
    return true;
}

void render_internal_error(int sock, const template_set& set, const template_vars& outer,
                           const api_result& result) {
    template_vars inner;
    if (!result.fault.empty()) inner[result.fault] = std::string(1, '\x01');
    render_template(set, sock, "internalerror", outer, inner);
}

} // namespace lumbrake
