#include "pdfparser/pdf-parser.h"

#include <map>
#include <new>
#include <stdexcept>
#include <unordered_set>
#include <vector>

#include "util/codecs.h"
#include "util/log.h"
#include "fff/FFFbuilder.h"
#include "pdfparser/pdf-content.h"
#include "pdfparser/pdf-fonts.h"
#include "pdfparser/pdf-lexer.h"
#include "pdfparser/pdf-pages.h"
#include "pdfparser/pdf-xref.h"

namespace PdfParser {

namespace {

// Bounds of one page's working data: decoded content bytes and grouped text items.
constexpr std::size_t max_page_content = 64u << 20;
constexpr std::size_t max_page_items = 1u << 20;

void add_utf8(lumbrake::FFFbuilder& builder, std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        bool valid = false;
        const lumbrake::code_point c = lumbrake::utf8_decode_at(text, i, valid);
        if (valid) builder.add_char(c);
    }
}

bool is_blank_text(const std::string& text) {
    return text.find_first_not_of(' ') == std::string::npos;
}

bool live_entry(std::uint64_t number) {
    const XrefEntry& e = XrefTable::instance().entry(number);
    return !e.free && e.generation >= 0;
}

void emit_info(const FileStructure& fs, lumbrake::FFFbuilder& builder) {
    const ObjectRef info = fs.info();
    try {
        if (info.number == 0 && info.generation == 0) throw BadObjectException("Info not found");
        const XrefEntry& e = fs.entry(info.number);
        const Dictionary dict(e.position, fs.data_end(), info.number, info.generation);
        static constexpr std::pair<std::string_view, int> keys[] = {
            {"/Title", FFF::titleDict},
            {"/Author", FFF::authorDict},
            {"/Subject", FFF::abstractDict},
            {"/Keywords", FFF::keywordDict},
        };
        for (const auto& [key, slice] : keys) {
            const std::string value = dict.get_string(key);
            if (value.empty()) continue;
            builder.push_dict(slice);
            add_utf8(builder, value);
            builder.pop_dict();
            builder.end_paragraph();
        }
    } catch (const BadObjectException&) {
        // A missing or broken information dictionary only loses its entries.
    } catch (const std::out_of_range&) {
    }
}

// One run of page text as the grouping keeps it; its font is interned in the page's usage map.
struct Item {
    double x = 0;
    double y = 0;
    double width = 0;
    double Tz = 100;
    const FontRecord* font = nullptr;
    std::string text;
};

class PageText {
public:
    void add(TextSnapshot&& s) {
        // Blank strings before the first text are not counted; later ones are.
        if (paragraphs_.empty() && is_blank_text(s.text)) return;
        const FontRecord* font = intern(s.font, s.text.size());
        if (is_blank_text(s.text)) return;
        if (paragraphs_.empty()) {
            open_paragraph(std::move(s), font);
            return;
        }
        Item& last = paragraphs_.back().back();
        const bool same_font = last.font == font;
        if (last.y <= s.y) {
            const double gap = s.x - (last.x + last.width);
            const double t = s.Tz * 0.01 * s.font.size * 0.1;
            if (-2 * t < gap && gap < t && same_font)
                merge(last, std::move(s), font);
            else
                append(std::move(s), font);
        } else if (last.text.back() == '.') {
            last.text.pop_back(); // the full stop ends the paragraph and goes no further
            open_paragraph(std::move(s), font);
        } else if (last.text.back() == '-' && same_font) {
            last.text.pop_back(); // a hyphenated word is joined
            merge(last, std::move(s), font);
        } else {
            append(std::move(s), font);
        }
    }

    bool full() const { return items_ >= max_page_items; }

    void emit(lumbrake::FFFbuilder& builder) const {
        if (paragraphs_.empty()) return;
        const SimpleFontCompare compare(usage_);
        const FontRecord default_record;
        for (const auto& paragraph : paragraphs_) {
            const FontRecord* current = &default_record;
            int slice = FFF::centralNormDict;
            for (const Item& item : paragraph) {
                if (!(*item.font == *current)) {
                    const int s = compare.classify(*item.font);
                    if (s != slice) {
                        builder.end_sentence();
                        slice = s;
                    }
                    current = item.font;
                }
                builder.push_dict(slice);
                add_utf8(builder, item.text);
                builder.add_char(0x20);
                builder.pop_dict();
            }
            builder.end_paragraph();
        }
    }

private:
    const FontRecord* intern(const FontRecord& font, std::size_t bytes) {
        auto it = usage_.try_emplace(font, 0).first;
        it->second += bytes;
        return &it->first;
    }

    static Item make_item(TextSnapshot&& s, const FontRecord* font) {
        return Item{s.x, s.y, s.width, s.Tz, font, std::move(s.text)};
    }

    void open_paragraph(TextSnapshot&& s, const FontRecord* font) {
        paragraphs_.emplace_back();
        paragraphs_.back().push_back(make_item(std::move(s), font));
        ++items_;
    }
    void append(TextSnapshot&& s, const FontRecord* font) {
        paragraphs_.back().push_back(make_item(std::move(s), font));
        ++items_;
    }
    // The last item takes the new snapshot's values, with both texts.
    static void merge(Item& last, TextSnapshot&& s, const FontRecord* font) {
        std::string text = std::move(last.text);
        text += s.text;
        last = make_item(std::move(s), font);
        last.text = std::move(text);
    }

    std::vector<std::vector<Item>> paragraphs_;
    std::map<FontRecord, std::uint64_t> usage_; // bytes of text per font
    std::size_t items_ = 0;
};

void walk_page(const PageNode& page, FontTable& fonts, lumbrake::FFFbuilder& builder) {
    std::string content;
    for (const ContentRef& ref : contents(page)) {
        StreamObject stream(ref.position, ref.number, ref.generation);
        ByteSink sink(1024, 0);
        stream.decode(sink);
        sink.for_each_segment([&](const std::uint8_t* data, std::size_t n) {
            const std::size_t room = max_page_content - std::min(max_page_content, content.size());
            content.append(reinterpret_cast<const char*>(data), std::min(n, room));
        });
        if (content.size() >= max_page_content) break;
    }
    if (content.empty()) return;

    PageText text;
    try {
        ContentInterpreter interpreter(content, fonts);
        for (;;) {
            TextSnapshot s = interpreter.step();
            const bool more = interpreter.found();
            text.add(std::move(s));
            if (!more || text.full()) break;
        }
    } catch (const PdfParserException& e) {
        // Broken content ends the page; the text read up to there is kept.
        TN_LOG(lumbrake::LF_WORKERPARSERS, lumbrake::LL_DEBUG,
               "PDF page " << page.number << ": " << e.message());
    }
    text.emit(builder);
}

struct Entry {
    ObjectRef ref;
    std::size_t depth;
};

void push_kids(std::vector<Entry>& stack, const std::vector<ObjectRef>& kids, std::size_t depth) {
    for (auto it = kids.rbegin(); it != kids.rend(); ++it)
        stack.push_back({*it, depth});
}

void load_fonts(const PageNode& node, FontTable& fonts) {
    const Pos end = XrefTable::instance().data_end;
    const Pos r = resources(node);
    if (r >= end) return;
    const Pos f = PdfParser::fonts(r);
    if (f >= end) return;
    font_entries(f, fonts);
}

} // namespace

bool walk_document(Span document, lumbrake::FFFbuilder& builder) {
    const FileStructure fs(document.start, document.end);
    emit_info(fs, builder);

    const Pos data_end = fs.data_end();
    const Span catalog = object(fs.entry(fs.root().number).position, data_end);
    check_catalog(catalog);
    const ObjectRef root_ref = pages(catalog);

    FontTable fonts;
    // Each node is visited once: a page tree whose kids lead back to an ancestor or repeat a
    // node would otherwise never end.
    std::unordered_set<std::uint32_t> visited{root_ref.number};
    fonts.set_depth(0);
    const PageNode root = page_node(object(fs.entry(root_ref.number).position, data_end),
                                    root_ref.number, root_ref.generation);
    // Resources of the root node are inherited by every page.
    load_fonts(root, fonts);
    std::vector<Entry> stack;
    push_kids(stack, kids(root), 1);

    while (!stack.empty()) {
        const Entry entry = stack.back();
        stack.pop_back();
        if (!visited.insert(entry.ref.number).second) continue;
        if (!live_entry(entry.ref.number)) continue;
        fonts.set_depth(entry.depth);
        const Span body = object(fs.entry(entry.ref.number).position, data_end);
        const PageNode node = page_node(body, entry.ref.number, entry.ref.generation);
        load_fonts(node, fonts);
        if (node.is_pages) {
            push_kids(stack, kids(node), entry.depth + 1);
            continue;
        }
        try {
            walk_page(node, fonts, builder);
        } catch (const PdfStreamFilter::FilterError& e) {
            TN_LOG(lumbrake::LF_WORKERPARSERS, lumbrake::LL_DEBUG,
                   "PDF page " << node.number << ": " << e.message());
        } catch (const PdfParserException& e) {
            TN_LOG(lumbrake::LF_WORKERPARSERS, lumbrake::LL_DEBUG,
                   "PDF page " << node.number << ": " << e.message());
        }
    }
    builder.end_paragraph();
    return true;
}

} // namespace PdfParser

namespace lumbrake {

bool PDFParser::detect(int mode, const std::string& data, const std::string& name,
                       std::string& mime, std::string& charset) {
    bool yes = false;
    if (mode == DETECT_NAME)
        yes = has_suffix(name, {".pdf", ".PDF"});
    else if (mode == DETECT_CONTENT)
        yes = data.find("%PDF-") != std::string::npos;
    if (!yes) return false;
    mime = "application/pdf";
    charset.clear();
    return true;
}

void PDFParser::parse(FFFbuilder& builder, const text_exclusion_matcher*, std::int32_t,
                      const std::string&, const std::string& data, const std::string&,
                      const std::string&, parse_result& result) {
    result.status = PARSE_NOT_PARSED;
    result.document.reset();

    // The byte source and the cross-reference state are process-wide: they are freed on
    // every way out.
    struct release_guard {
        ~release_guard() {
            PdfParser::XrefTable::release();
            PdfParser::ByteSource::close();
        }
    } guard;
    PdfParser::ByteSource::open(data);

    const auto fail = [&](const std::string& message) {
        result.status = PARSE_ERROR;
        result.error = "PDF parser error: " + message;
    };
    try {
        PdfParser::walk_document({0, data.size()}, builder);
        result.status = PARSE_OK;
        result.mime = "application/pdf";
        result.charset.clear();
    } catch (const PdfParser::PdfParserException& e) {
        fail(e.message());
    } catch (const PdfStreamFilter::FilterError& e) {
        fail(e.message());
    } catch (const std::out_of_range& e) {
        // An object number beyond the cross-reference table.
        fail(e.what());
    } catch (const std::bad_alloc&) {
        fail("out of memory");
    }
    TN_LOG(LF_WORKERPARSERS, LL_DEBUG, "PDF status " << result.status << " " << result.error);
}

} // namespace lumbrake
