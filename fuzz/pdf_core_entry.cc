#include "pdf_core_entry.h"

#include <algorithm>
#include <stdexcept>

#include "pdfparser/pdf-bytesink.h"
#include "pdfparser/pdf-filters.h"
#include "pdfparser/pdf-lexer.h"
#include "pdfparser/pdf-objects.h"
#include "pdfparser/pdf-xref.h"

namespace {

using namespace PdfParser;

// Runs f; the errors that the parser reports to its caller are expected here.
template <class F> bool guarded(F&& f) {
    try {
        f();
        return true;
    } catch (const PdfParserException&) {
    } catch (const PdfStreamFilter::FilterError&) {
    } catch (const std::out_of_range&) { // an object number beyond the table
    }
    return false;
}

void walk(pdf_core_fuzz_stats& stats) {
    const Pos end = ByteSource::length();
    FileStructure fs(0, end);
    stats.opened = true;
    const XrefTable& table = XrefTable::instance();
    guarded([&] {
        const ObjectRef info = fs.info();
        if (info.number == 0) return;
        const Span body = object(fs.entry(info.number).position, end);
        Dictionary d(body.start, end, info.number, info.generation);
        for (const char* key : {"/Title", "/Author", "/Subject", "/Keywords"})
            d.get_string(key);
    });
    const std::size_t limit = std::min<std::size_t>(table.size(), 1u << 16);
    for (std::uint32_t n = 1; n < limit; ++n) {
        const XrefEntry e = table.entry(n);
        if (e.free) continue;
        Span body{};
        if (!guarded([&] { body = object(e.position, end); })) continue;
        ++stats.objects;
        guarded([&] {
            Dictionary d(body.start, body.end, n, e.generation);
            d.get_string("/Type");
        });
        guarded([&] {
            StreamObject s(e.position, n, e.generation);
            ByteSink out;
            s.decode(out);
            ++stats.streams;
        });
    }
}

} // namespace

int pdf_core_fuzz_one(const std::uint8_t* data, std::size_t size, pdf_core_fuzz_stats* stats_out) {
    pdf_core_fuzz_stats stats;
    ByteSource::open(data, data + size);
    guarded([&] { walk(stats); });

    // The filters and readers over the raw bytes, in both forms.
    const Pos end = ByteSource::length();
    PdfStreamFilter::InflateFilter inflate;
    PdfStreamFilter::LZWDecodeFilter lzw;
    PdfStreamFilter::ASCII85Filter a85;
    PdfStreamFilter::RC4Filter rc4("0123456789abcdef", 128, 1, 0);
    for (PdfStreamFilter::GenericFilter* f :
         std::initializer_list<PdfStreamFilter::GenericFilter*>{&inflate, &lzw, &a85, &rc4}) {
        guarded([&] {
            ByteSink out;
            f->decode(0, end, out);
            ByteSink again;
            f->decode(out, again);
        });
    }
    guarded([&] { PdfStreamFilter::make_filter_array(0, std::min<Pos>(end, 64)); });
    guarded([&] {
        Pos p = 0;
        while (p < end && find_tag(p, end, "(")) {
            --p;
            read_literal_string(p);
        }
        p = 0;
        while (p < end && find_tag(p, end, "<")) {
            --p;
            read_hex_string(p);
        }
        Array a(0, end);
        Dictionary d(0, end);
        d.get_string("/A");
    });

    XrefTable::release();
    ByteSource::close();
    if (stats_out) *stats_out = stats;
    return 0;
}
