#include "wvadapter/wv-reader.h"

#include <gsf/gsf-doc-meta-data.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-meta-names.h>
#include <gsf/gsf-msole-utils.h>
#include <gsf/gsf-utils.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "wvadapter/wv-event-writer.h"
#include "wvadapter/wv-events.h"
#include "wvadapter/wv-precheck.h"
#include "wvadapter/word97-reader.h"

namespace lumbrake::wvadapter {

namespace {

// Codes of the init record besides the library's own (which are small positive numbers).
enum : std::uint8_t { refused_by_check = 200 };

// UTF-8 (as libgsf hands out strings) to UTF-16; malformed bytes become U+FFFD.
std::u16string utf8_to_utf16(const char* s) {
    std::u16string out;
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    while (*p) {
        std::uint32_t c = *p++;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (c >= 0x80 && more == 0)
            c = 0xFFFD;
        else if (more)
            c &= 0x3F >> more;
        for (; more > 0; --more) {
            if ((*p & 0xC0) != 0x80) {
                c = 0xFFFD;
                break;
            }
            c = c << 6 | (*p++ & 0x3F);
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) c = 0xFFFD;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

void write_all(int fd, const char* p, std::size_t left) {
    while (left > 0) {
        const ssize_t n = ::send(fd, p, left, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) _exit(3); // the reading side has gone: nothing left to do
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

struct reader_state {
    event_writer* out = nullptr;
    wvParseStruct* ps = nullptr;
    bool word97 = false;
};

reader_state* state_of(wvParseStruct* ps) {
    return static_cast<reader_state*>(ps->userData);
}

int on_char(wvParseStruct* ps, U16 c, U8 chartype, U16 lid) {
    reader_state* st = state_of(ps);
    char16_t u = static_cast<char16_t>(c);
    if (chartype != 0 && c >= 0x80 && c <= 0xFF)
        u = st->word97 ? from_cp1252(static_cast<std::uint8_t>(c))
                       : static_cast<char16_t>(wvHandleCodePage(c, lid));
    st->out->character(ps->currentcp, u);
    return 0;
}

int on_special(wvParseStruct* ps, U16 c, CHP*) {
    state_of(ps)->out->special(ps->currentcp, c);
    return 0;
}

int on_element(wvParseStruct* ps, wvTag tag, void* props, int) {
    event_writer* out = state_of(ps)->out;
    switch (tag) {
    case PARABEGIN: {
        const PAP* pap = static_cast<const PAP*>(props);
        std::uint8_t flags = 0;
        if (pap && pap->fInTable) flags |= para_in_table;
        if (pap && pap->fTtp) flags |= para_row_end;
        out->para_begin(flags);
        break;
    }
    case PARAEND:
        out->para_end();
        break;
    case SECTIONBEGIN:
        out->section(EventType::section_begin);
        break;
    case SECTIONEND:
        out->section(EventType::section_end);
        break;
    default:
        break;
    }
    return 0;
}

int on_document(wvParseStruct*, wvTag) {
    return 0;
}

// Size of a named stream of the compound file, or no_stream.
std::size_t stream_size(GsfInfile* infile, const char* name) {
    GsfInput* in = gsf_infile_child_by_name(infile, name);
    if (!in) return no_stream;
    const gsf_off_t size = gsf_input_size(in);
    g_object_unref(in);
    return size < 0 ? no_stream : static_cast<std::size_t>(size);
}

// The compound file's Word stream head against its streams; false when the library should not
// see the document.
bool fib_is_plausible(GsfInfile* infile) {
    GsfInput* word = gsf_infile_child_by_name(infile, "WordDocument");
    if (!word) return false;
    const gsf_off_t size = gsf_input_size(word);
    unsigned char head[0x200] = {};
    const std::size_t want =
        size < 0 ? 0 : static_cast<std::size_t>(std::min<gsf_off_t>(size, sizeof head));
    const bool read = want > 0 && gsf_input_read(word, want, head) != nullptr;
    g_object_unref(word);
    if (!read) return false;
    std::string why;
    return plausible_fib(head, want, static_cast<std::size_t>(size), stream_size(infile, "0Table"),
                         stream_size(infile, "1Table"), why);
}

// The title of the summary information, in UTF-16; empty when there is none.
std::u16string summary_title(GsfInfile* infile) {
    std::u16string title;
    GsfInput* si = gsf_infile_child_by_name(infile, "\005SummaryInformation");
    if (!si) return title;
    GsfDocMetaData* meta = gsf_doc_meta_data_new();
    GError* err = gsf_doc_meta_data_read_from_msole(meta, si);
    if (err) {
        g_error_free(err);
    } else if (GsfDocProp* prop = gsf_doc_meta_data_lookup(meta, GSF_META_NAME_TITLE)) {
        const GValue* v = gsf_doc_prop_get_val(prop);
        if (v && G_VALUE_HOLDS_STRING(v) && g_value_get_string(v))
            title = utf8_to_utf16(g_value_get_string(v));
    }
    g_object_unref(meta);
    g_object_unref(si);
    return title;
}

std::u16string associated_title(const wvParseStruct& ps) {
    std::u16string title;
    const STTBF& s = ps.anSttbfAssoc;
    if (s.nostrings <= ibstAssocTitle) return title;
    if (s.extendedflag == 0xFFFF) {
        if (s.u16strings && s.u16strings[ibstAssocTitle])
            for (const U16* p = s.u16strings[ibstAssocTitle]; *p; ++p)
                title.push_back(*p);
    } else if (s.s8strings && s.s8strings[ibstAssocTitle]) {
        for (const S8* p = s.s8strings[ibstAssocTitle]; *p; ++p)
            title.push_back(from_cp1252(static_cast<std::uint8_t>(*p)));
    }
    return title;
}

// Turns one of the library's streams over a compound-file stream into one over a copy of its
// bytes in memory. The library reads a byte or two at a time; through libgsf each read was two
// GObject type checks and the compound file's block mapping over the memory input, most of the
// reading time. A memory stream is the library's own third kind: a read is a copy. One thing
// differs on a damaged document: a position past the end, which libgsf refused, is taken, and
// the next read there ends the process (a crash of the reader, as on other damage).
// A stream over the whole input (a file that is no compound file) is left alone: the library
// holds that input under another name as well.
void hold_in_memory(wvStream* s, const GsfInput* whole) {
    if (!s || s->kind != GSF_STREAM || !s->stream.gsf_stream || s->stream.gsf_stream == whole)
        return;
    GsfInput* in = s->stream.gsf_stream;
    const gsf_off_t size = gsf_input_size(in);
    const gsf_off_t at = gsf_input_tell(in);
    if (size < 0 || size > gsf_off_t(UINT32_MAX) - 1 || at < 0 || at > size) return;
    auto* bytes = static_cast<char*>(wvMalloc(static_cast<U32>(size) + 1));
    auto* ms = static_cast<MemoryStream*>(wvMalloc(sizeof(MemoryStream)));
    const bool read = bytes && ms && gsf_input_seek(in, 0, G_SEEK_SET) == FALSE &&
                      (size == 0 || gsf_input_read(in, static_cast<std::size_t>(size),
                                                   reinterpret_cast<guint8*>(bytes)) != nullptr);
    if (!read) {
        wvFree(bytes);
        wvFree(ms);
        gsf_input_seek(in, at, G_SEEK_SET);
        return;
    }
    ms->mem = bytes;
    ms->current = static_cast<unsigned long>(at);
    ms->size = static_cast<unsigned long>(size);
    // The stream list of the library keeps the wvStream itself: change it in place, so that
    // the library's aliases (the table stream is one of the two named ones) and its clean-up
    // see the new kind.
    s->kind = MEMORY_STREAM;
    s->stream.memory_stream = ms;
    g_object_unref(in);
}

// A whole stream of the compound file, or false.
bool read_stream(GsfInfile* infile, const char* name, std::vector<unsigned char>& out) {
    GsfInput* in = gsf_infile_child_by_name(infile, name);
    if (!in) return false;
    const gsf_off_t size = gsf_input_size(in);
    bool ok = size >= 0 && size < gsf_off_t(1) << 31;
    if (ok) {
        out.resize(static_cast<std::size_t>(size));
        ok = size == 0 || gsf_input_read(in, out.size(), out.data()) != nullptr;
    }
    g_object_unref(in);
    return ok;
}

// The Word 97 reader over the document's streams: true with its records in events, or false
// when it leaves the document to the library.
bool read_fast(GsfInfile* infile, std::string& events) {
    std::vector<unsigned char> word, table;
    if (!read_stream(infile, "WordDocument", word)) return false;
    const char* table_name = word97_uses_table1(word.data(), word.size()) ? "1Table" : "0Table";
    if (!read_stream(infile, table_name, table)) return false;
    std::vector<unsigned char> data;
    const bool have_data = read_stream(infile, "Data", data);
    word97_streams s;
    if (have_data) {
        s.data_size = data.size();
        data.push_back(0); // an empty stream is there all the same
        s.data = data.data();
    }
    s.word = word.data();
    s.word_size = word.size();
    s.table = table.data();
    s.table_size = table.size();
    return read_word97_text(s, events);
}

} // namespace

void write_chunk(int fd, const char* data, std::size_t n) {
    while (n > 0) {
        const std::size_t part = std::min<std::size_t>(n, UINT32_MAX);
        unsigned char head[4];
        for (int i = 0; i < 4; ++i)
            head[i] = static_cast<unsigned char>(part >> (8 * i));
        write_all(fd, reinterpret_cast<const char*>(head), sizeof head);
        write_all(fd, data, part);
        data += part;
        n -= part;
    }
}

void write_document_end(int fd, bool reusable) {
    const char end[5] = {0, 0, 0, 0, static_cast<char>(reusable ? 1 : 0)};
    write_all(fd, end, sizeof end);
}

bool read_document_events(const unsigned char* data, std::size_t length, int fd, std::string& out,
                          reader_choice choice) {
    emitter em(fd, out);
    wvInit();
    std::u16string title;
    if (has_compound_signature(data, length)) {
        GsfInput* mem = gsf_input_memory_new(data, static_cast<gsf_off_t>(length), FALSE);
        GError* err = nullptr;
        GsfInfile* infile = mem ? gsf_infile_msole_new(mem, &err) : nullptr;
        if (err) g_error_free(err);
        const bool ok = infile && fib_is_plausible(infile);
        if (ok) title = summary_title(infile);
        bool fast = false;
        if (ok && choice != reader_choice::library) {
            std::string events;
            fast = read_fast(infile, events);
            if (fast) {
                // What the library's reading gives: it reads no associated strings before
                // the text, so the title is the summary information's.
                append_status(em.buf(), EventType::init, 0);
                append_units(em.buf(), EventType::title, title);
                em.buf() += events;
                append_status(em.buf(), EventType::end, 0);
                em.flush();
            }
        }
        if (infile) g_object_unref(infile);
        if (mem) g_object_unref(mem);
        if (fast) return true;
        if (choice == reader_choice::fast) return false;
        if (!ok) {
            append_status(em.buf(), EventType::init, refused_by_check);
            em.flush();
            return true; // the library never saw the document
        }
    }
    if (choice == reader_choice::fast) return false;

    GsfInput* input = gsf_input_memory_new(data, static_cast<gsf_off_t>(length), FALSE);
    wvParseStruct ps;
    std::memset(&ps, 0, sizeof ps);
    const int init = input ? wvInitParser_gsf(&ps, input) : 1;
    if (init != 0 || ps.fib.fEncrypted) {
        append_status(em.buf(), EventType::init, static_cast<std::uint8_t>(init ? init : 1));
        em.flush();
        return false; // the library's half-built state goes with the process
    }
    // The same stream may stand under two names (the table stream): the second call sees the
    // changed kind and leaves it. The data stream (pictures, rarely read for text) stays where
    // it is. The library closes no stream of a Word 2 file: copies would be left behind.
    if (wvQuerySupported(&ps.fib, nullptr) != WORD2)
        for (wvStream* s : {ps.mainfd, ps.tablefd, ps.tablefd0, ps.tablefd1})
            hold_in_memory(s, input);
    append_status(em.buf(), EventType::init, 0);
    const std::u16string assoc = associated_title(ps);
    if (!assoc.empty()) title = assoc;
    append_units(em.buf(), EventType::title, title);
    em.flush();

    event_writer ev(em);
    reader_state st;
    st.out = &ev;
    st.ps = &ps;
    st.word97 = ps.fib.nFib >= 0xC1;
    // The library keeps the counts of the later stories signed: a negative one is empty.
    const auto count = [](S32 n) { return n > 0 ? static_cast<std::uint64_t>(n) : 0; };
    const std::uint64_t ccp[story_none] = {ps.fib.ccpText,        count(ps.fib.ccpFtn),
                                           count(ps.fib.ccpHdr),  count(ps.fib.ccpMcr),
                                           count(ps.fib.ccpAtn),  count(ps.fib.ccpEdn),
                                           count(ps.fib.ccpTxbx), count(ps.fib.ccpHdrTxbx)};
    std::uint64_t at = 0;
    for (int s = 0; s < story_none; ++s) {
        at += ccp[s];
        ev.story_end[s] = static_cast<std::uint32_t>(std::min<std::uint64_t>(at, UINT32_MAX));
    }
    ps.userData = &st;
    wvSetCharHandler(&ps, on_char);
    wvSetSpecialCharHandler(&ps, on_special);
    wvSetElementHandler(&ps, on_element);
    wvSetDocumentHandler(&ps, on_document);
    const int result = wvText(&ps);
    ev.finish();
    append_status(em.buf(), EventType::end, static_cast<std::uint8_t>(result == 0 ? 0 : 1));
    em.flush();
    wvOLEFree(&ps);
    return result == 0;
}

} // namespace lumbrake::wvadapter
