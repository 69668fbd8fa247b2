// The Word reader's replay of event streams (stories, tables, fields) and its cheap checks of
// compound files and file information blocks.
#include "wvadapter/wvadapter.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "wvadapter/wv-precheck.h"
#include "../support/processes.h"

namespace lumbrake::wvadapter {
namespace {

std::string utf8(const UString& s) {
    std::string out;
    for (char16_t u : s)
        out += u < 0x80 ? static_cast<char>(u) : '?';
    return out;
}

// Writes every callback as a token, text in quotes.
class trace : public TextHandler, public SubDocumentHandler, public TableHandler {
public:
    std::string log;
    void add(const std::string& s) { log += (log.empty() ? "" : " ") + s; }

    void sectionStart(std::shared_ptr<const SectionProperties>) override { add("sect"); }
    void sectionEnd() override { add("/sect"); }
    void pageBreak() override { add("pb"); }
    void paragraphStart(std::shared_ptr<const ParagraphProperties> p) override {
        add(p->in_table ? "p(t)" : "p");
    }
    void paragraphEnd() override { add("/p"); }
    void runOfText(const UString& t, std::shared_ptr<const CharacterProperties>) override {
        add("'" + utf8(t) + "'");
    }
    void specialCharacter(SpecialChar c, std::shared_ptr<const CharacterProperties>) override {
        add("sp" + std::to_string(static_cast<int>(c)));
    }
    void footnoteFound(const Functor& f) override {
        add("fn-ref");
        f();
    }
    void footnoteAutoNumber(std::shared_ptr<const CharacterProperties>) override { add("fn#"); }
    void fieldStart(std::shared_ptr<const CharacterProperties>) override { add("{"); }
    void fieldSeparator(std::shared_ptr<const CharacterProperties>) override { add("|"); }
    void fieldEnd(std::shared_ptr<const CharacterProperties>) override { add("}"); }
    void tableRowFound(const Functor& row, std::shared_ptr<const TableRowProperties> tap) override {
        add("row-found" + std::to_string(tap->cells));
        TextHandler::tableRowFound(row, tap);
    }
    void bodyStart() override { add("BODY"); }
    void bodyEnd() override { add("/BODY"); }
    void footnoteStart() override { add("NOTE"); }
    void footnoteEnd() override { add("/NOTE"); }
    void headersStart() override { add("HDRS"); }
    void headersEnd() override { add("/HDRS"); }
    void headerStart() override { add("HDR"); }
    void headerEnd() override { add("/HDR"); }
    void tableRowStart(std::shared_ptr<const TableRowProperties>) override { add("tr"); }
    void tableRowEnd() override { add("/tr"); }
    void tableCellStart() override { add("td"); }
    void tableCellEnd() override { add("/td"); }
};

// A little language for streams: one record per token.
//   I0 / E0 / E1   init or end status     Dn   story n
//   S s            section begin / end    P Pt Pr   paragraph (in table, row-end mark)
//   p              paragraph end          Xhh  special character (hex)
//   "text"         text ('^' stands for a cell mark, '|' for a paragraph mark, '~' page break)
std::string stream(const std::string& script) {
    std::string out;
    std::istringstream in(script);
    std::string t;
    while (in >> t) {
        if (t[0] == '"') {
            UString u;
            for (char c : t.substr(1, t.size() - 2))
                u.push_back(c == '^' ? 7 : c == '|' ? 13 : c == '~' ? 12 : c == '_' ? ' ' : c);
            append_units(out, EventType::text, u);
        } else if (t[0] == 'I' || t[0] == 'E' || t[0] == 'D') {
            append_status(out, static_cast<EventType>(t[0]),
                          static_cast<std::uint8_t>(std::stoi(t.substr(1))));
        } else if (t == "S" || t == "s" || t == "p") {
            append_mark(out, static_cast<EventType>(t[0]));
        } else if (t[0] == 'P') {
            std::uint8_t f = 0;
            if (t.find('t') != std::string::npos) f |= para_in_table;
            if (t.find('r') != std::string::npos) f |= para_row_end;
            append_status(out, EventType::para_begin, f);
        } else if (t[0] == 'X') {
            append_special(out, static_cast<std::uint16_t>(std::stoi(t.substr(1), nullptr, 16)));
        } else {
            ADD_FAILURE() << "bad token " << t;
        }
    }
    return out;
}

std::string replay(const std::string& script, bool* complete = nullptr) {
    auto p = Parser::fromEvents(stream(script));
    if (!p) return "<no parser>";
    trace t;
    p->setTextHandler(&t);
    p->setSubDocumentHandler(&t);
    p->setTableHandler(&t);
    const bool ok = p->parse();
    if (complete) *complete = ok;
    return t.log;
}

TEST(WvReplay, StoriesAreBracketedAndCommentsLeftOut) {
    EXPECT_EQ(replay("I0 D0 S P \"body|\" p D1 P X2 \"_note|\" p D4 P \"comment|\" p "
                     "D2 P \"head|\" p D8 P \"|\" p s E0"),
              "BODY sect p 'body' /p /sect /BODY NOTE p fn# ' note' /p /NOTE HDRS HDR p 'head' "
              "/p /HDR /HDRS");
}

TEST(WvReplay, FieldInstructionsAreDroppedAndResultsKept) {
    const struct {
        const char* script;
        const char* expected;
    } cases[] = {
        {"I0 P \"a\" X13 \"PAGE\" X14 \"7\" X15 \"b\" p E0", "BODY p 'a' { | '7' } 'b' /p /BODY"},
        // Without a separator the whole field is instructions.
        {"I0 P \"a\" X13 \"TOC\" X1 X15 \"b\" p E0", "BODY p 'a' { } 'b' /p /BODY"},
        // A field inside another's instructions stays hidden, result and all.
        {"I0 P X13 \"IF\" X13 \"X\" X14 \"inner\" X15 X14 \"outer\" X15 p E0",
         "BODY p { { | } | 'outer' } /p /BODY"},
        // A field inside another's result shows its own result.
        {"I0 P X13 \"A\" X14 \"r1\" X13 \"B\" X14 \"r2\" X15 X15 p E0",
         "BODY p { | 'r1' { | 'r2' } } /p /BODY"},
        // Stray separators and ends do not unbalance anything.
        {"I0 P X14 X15 X15 \"text\" p E0", "BODY p | } } 'text' /p /BODY"},
        // A field left open ends with its story: the next story's text is shown.
        {"I0 P X13 \"HYPERLINK\" p D1 P \"note\" p E0", "BODY p { /p /BODY NOTE p 'note' /p /NOTE"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(replay(c.script), c.expected) << c.script;
}

TEST(WvReplay, TableRowsGoThroughTheTableHandler) {
    EXPECT_EQ(replay("I0 P \"before|\" p Pt \"a^\" p Pt \"b1|\" p Pt \"b2^\" p Pr \"^\" p "
                     "Pt \"c^\" p Pr \"^\" p P \"after|\" p E0"),
              "BODY p 'before' /p row-found2 tr td p(t) 'a' /p /td td p(t) 'b1' /p p(t) 'b2' "
              "/p /td /tr row-found1 tr td p(t) 'c' /p /td /tr p 'after' /p /BODY");
    // A row cut short by the end of the stream still closes.
    EXPECT_EQ(replay("I0 Pt \"a\" E1"), "BODY row-found0 tr td p(t) 'a' /p /td /tr /BODY");
}

TEST(WvReplay, ControlCharactersOfTheText) {
    EXPECT_EQ(replay("I0 P \"one~two\" p E0"), "BODY p 'one' pb 'two' /p /BODY");
    UString hyphens = u"co\x1fop e\x1email";
    std::string s = stream("I0 P");
    append_units(s, EventType::text, hyphens);
    s += stream("p E0");
    auto p = Parser::fromEvents(s);
    ASSERT_TRUE(p);
    trace t;
    p->setTextHandler(&t);
    p->parse();
    EXPECT_EQ(t.log, "p 'coop e-mail' /p");
}

TEST(WvReplay, IncompleteOrRefusedStreams) {
    bool complete = true;
    EXPECT_EQ(replay("I0 P \"partial\"", &complete), "BODY p 'partial' /p /BODY");
    EXPECT_FALSE(complete);
    replay("I0 P \"x\" p E1", &complete);
    EXPECT_FALSE(complete);
    replay("I0 P \"x\" p E0", &complete);
    EXPECT_TRUE(complete);
    EXPECT_EQ(replay("I4"), "<no parser>");
    EXPECT_EQ(replay(""), "<no parser>");
    // A record cut short: what came before it is kept, the parse is incomplete.
    std::string cut = stream("I0 P \"kept\" p");
    cut += "R\x05";
    auto p = Parser::fromEvents(cut + std::string(3, '\0'));
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->parse());
    // A text count larger than the stream allocates nothing and stops the decoding.
    std::vector<Event> events;
    EXPECT_FALSE(decode_events(std::string("R\xff\xff\xff\xff", 5), events));
    EXPECT_TRUE(events.empty());
}

TEST(WvReplay, TitleComesFromTheStream) {
    std::string s = stream("I0");
    append_units(s, EventType::title, u"Report");
    s += stream("E0");
    auto p = Parser::fromEvents(s);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->associatedStrings().title(), u"Report");
}

std::string fixture(const std::string& name);

std::string fixture(const std::string& name) {
    std::ifstream in(std::string(TN_TEST_DATA) + "/" + name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void put32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>(v >> (8 * i));
}
void put16(std::string& s, std::size_t at, std::uint16_t v) {
    s[at] = static_cast<char>(v);
    s[at + 1] = static_cast<char>(v >> 8);
}

// A header field written over with a value that makes the header implausible.
struct field_patch {
    const char* what;
    std::size_t at;
    int width; // bytes, little-endian: 2 or 4
    std::uint32_t value;
};

std::string patched(std::string s, const field_patch& p) {
    if (p.width == 2)
        put16(s, p.at, static_cast<std::uint16_t>(p.value));
    else
        put32(s, p.at, p.value);
    return s;
}

TEST(WvPrecheck, CompoundFileHeader) {
    const std::string doc = fixture("text.doc");
    const auto ok = [](const std::string& d) {
        return plausible_compound_file(reinterpret_cast<const unsigned char*>(d.data()), d.size());
    };
    ASSERT_TRUE(ok(doc));
    const field_patch cases[] = {
        {"byte order", 0x1C, 2, 0xFEFF},
        {"version 3 with 4096-byte sectors", 0x1E, 2, 12},
        {"sector shift", 0x1E, 2, 30},
        {"mini sector shift", 0x20, 2, 9},
        {"mini stream cutoff", 0x38, 4, 1},
        {"no FAT sectors", 0x2C, 4, 0},
        {"more FAT sectors than the file holds", 0x2C, 4, 100000},
        {"directory beyond the file", 0x30, 4, 5000},
        {"mini FAT beyond the file", 0x3C, 4, 5000},
        {"DIFAT beyond the file", 0x48, 4, 1},
        {"FAT sector beyond the file", 0x4C, 4, 0x7FFFFFFF},
    };
    for (const auto& c : cases) {
        std::string bad = patched(doc, c);
        if (std::string(c.what) == "DIFAT beyond the file") put32(bad, 0x44, 99999);
        EXPECT_FALSE(ok(bad)) << c.what;
    }
    EXPECT_FALSE(ok(doc.substr(0, 511)));
    EXPECT_FALSE(ok(doc.substr(0, 600))); // the header alone
    EXPECT_FALSE(ok(std::string(4096, '\0')));
}

// A Word 97 FIB: 0x200 bytes, text in a stream of 4096 bytes, a 1Table stream of 2048 bytes.
std::string fib97() {
    std::string f(0x200, '\0');
    put16(f, 0, 0xA5EC);
    put16(f, 2, 0xC1);
    put16(f, 0x0A, 0x0200); // the 1Table stream
    put32(f, 0x18, 0x400);
    put32(f, 0x1C, 0x500);
    put32(f, 0x4C, 100); // ccpText
    put32(f, 0xFA, 0x100);
    put32(f, 0xFE, 0x10);
    put32(f, 0x102, 0x200);
    put32(f, 0x106, 0x10);
    put32(f, 0x1A2, 0x300);
    put32(f, 0x1A6, 0x20);
    return f;
}

TEST(WvPrecheck, FileInformationBlock) {
    const auto check = [](const std::string& f, std::size_t word, std::size_t t0, std::size_t t1) {
        std::string why;
        return plausible_fib(reinterpret_cast<const unsigned char*>(f.data()), f.size(), word, t0,
                             t1, why);
    };
    ASSERT_TRUE(check(fib97(), 4096, no_stream, 2048));
    const field_patch cases[] = {
        {"unknown signature", 0, 2, 0x1234},
        {"encrypted", 0x0A, 2, 0x0300},
        {"text bounds reversed", 0x18, 4, 0x600},
        {"text beyond the stream", 0x1C, 4, 5000},
        {"more characters than bytes", 0x4C, 4, 5000},
        {"a story count that overflows", 0x68, 4, 0xFFFFFFFF},
        {"piece table beyond the table stream", 0x1A2, 4, 0xFFFFFFF0},
        {"character runs beyond the table stream", 0xFE, 4, 4000},
        {"paragraph runs beyond the table stream", 0x102, 4, 2047},
        {"no piece table", 0x1A6, 4, 0},
        {"the other table stream", 0x0A, 2, 0},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(check(patched(fib97(), c), 4096, no_stream, 2048)) << c.what;
    }
    EXPECT_FALSE(check(fib97().substr(0, 0x100), 4096, no_stream, 2048)); // FIB cut short
    EXPECT_FALSE(check(fib97(), 0x1F, no_stream, 2048));                  // stream too short
    // Word 6 files keep their tables in the Word stream: only the text bounds are checked.
    std::string word6 = fib97();
    put16(word6, 2, 0x65);
    EXPECT_TRUE(check(word6.substr(0, 0x40), 4096, no_stream, no_stream));
}

// Documents on which libwv spins for seconds and then crashes: the reader's limits end the
// child, and the caller gets no parser or an incomplete one, never a crash.
TEST(WvReader, ChildLimitsEndASpinningOrCrashingLibrary) {
    Limits limits;
    limits.wall_time = std::chrono::milliseconds(1500);
    limits.cpu_seconds = 1;
    for (const char* name : {"nasty/libwv-segv-1.doc", "nasty/libwv-segv-4.doc"}) {
        const std::string doc = fixture(name);
        auto p = ParserFactory::createParser(reinterpret_cast<const unsigned char*>(doc.data()),
                                             doc.size(), limits);
        if (p) {
            trace t;
            p->setTextHandler(&t);
            EXPECT_FALSE(p->parse()) << name;
        }
    }
    // The same limits read a sound document to its end.
    const std::string doc = fixture("notes.doc");
    auto p = ParserFactory::createParser(reinterpret_cast<const unsigned char*>(doc.data()),
                                         doc.size(), limits);
    ASSERT_TRUE(p);
    trace t;
    p->setTextHandler(&t);
    EXPECT_TRUE(p->parse());
    EXPECT_NE(t.log.find("Footnote remark here.'"), std::string::npos) << t.log;
}

TEST(WvReader, NotACompoundFileMakesNoParser) {
    for (const std::string data :
         {std::string(), std::string("plain text, no document"), std::string(2048, '\xD0')}) {
        EXPECT_FALSE(ParserFactory::createParser(
            reinterpret_cast<const unsigned char*>(data.data()), data.size()));
    }
    EXPECT_FALSE(ParserFactory::createParser(nullptr, 0));
}

// The whole trace of a document read through the reader process, "<no parser>" when none was
// made; complete tells whether it was read to its end.
std::string read_traced(const std::string& doc, const Limits& limits, bool& complete) {
    complete = false;
    auto p = ParserFactory::createParser(reinterpret_cast<const unsigned char*>(doc.data()),
                                         doc.size(), limits);
    if (!p) return "<no parser>";
    trace t;
    p->setTextHandler(&t);
    p->setSubDocumentHandler(&t);
    p->setTableHandler(&t);
    complete = p->parse();
    return t.log + " title:" + utf8(p->associatedStrings().title());
}

const char* const sound_documents[] = {"text.doc",   "tables.doc",     "notes.doc",
                                       "cyrillic.doc", "emptyparas.doc", "empty.doc",
                                       "handbook.doc"};

// One reader process kept for many documents gives each the trace a fresh process gives it:
// nothing of one document's library state reaches the next. Every document twice, in
// different neighbourhoods.
TEST(WvReader, OneReaderForManyDocumentsReadsEachAsAFreshOne) {
    std::vector<std::string> docs;
    for (int round = 0; round < 2; ++round)
        for (std::size_t i = 0; i < std::size(sound_documents); ++i)
            docs.push_back(fixture(
                sound_documents[round == 0 ? i : std::size(sound_documents) - 1 - i]));

    Limits fresh;
    fresh.documents_per_process = 1;
    std::vector<std::string> expected;
    std::uint64_t before = reader_processes_started();
    for (const std::string& d : docs) {
        bool complete = false;
        expected.push_back(read_traced(d, fresh, complete));
        EXPECT_TRUE(complete) << expected.back();
    }
    EXPECT_GE(reader_processes_started() - before, docs.size() - 1);
    EXPECT_NE(expected[0].find("'The apple harvest grew by twelve percent this season.'"),
              std::string::npos)
        << expected[0];

    before = reader_processes_started();
    for (std::size_t i = 0; i < docs.size(); ++i) {
        bool complete = false;
        EXPECT_EQ(read_traced(docs[i], Limits(), complete), expected[i]) << "document " << i;
        EXPECT_TRUE(complete);
    }
    EXPECT_EQ(reader_processes_started() - before, 1u);

    // A full batch hands over to a new process.
    Limits batch_of_three;
    batch_of_three.documents_per_process = 3;
    bool complete = false;
    read_traced(docs[0], fresh, complete); // no process left over
    before = reader_processes_started();
    for (std::size_t i = 0; i < 7; ++i)
        EXPECT_EQ(read_traced(docs[i], batch_of_three, complete), expected[i]);
    EXPECT_EQ(reader_processes_started() - before, 3u);
}

// A document that crashes the library, or spins until its time is up, in the middle of a batch
// fails alone: the documents around it read as they would alone, and the process that failed
// is replaced, not asked again.
TEST(WvReader, ACrashingOrSpinningDocumentInABatchFailsOnlyItself) {
    Limits limits;
    limits.wall_time = std::chrono::milliseconds(1500);
    limits.cpu_seconds = 1;
    const struct {
        const char* name;
        bool sound;
    } batch[] = {
        {"text.doc", true},  {"notes.doc", true},    {"nasty/libwv-segv-2.doc", false},
        {"tables.doc", true}, {"nasty/libwv-segv-1.doc", false}, {"nasty/libwv-segv-3.doc", false},
        {"handbook.doc", true}, {"cyrillic.doc", true},
    };
    Limits alone = limits;
    alone.documents_per_process = 1;
    std::vector<std::string> docs, expected;
    for (const auto& b : batch) {
        docs.push_back(fixture(b.name));
        bool complete = false;
        expected.push_back(b.sound ? read_traced(docs.back(), alone, complete) : "");
    }
    for (std::size_t i = 0; i < docs.size(); ++i) {
        const std::uint64_t before = reader_processes_started();
        bool complete = false;
        const std::string got = read_traced(docs[i], limits, complete);
        // A new process for the first document and after every failure, none otherwise.
        const bool fresh = i == 0 || !batch[i - 1].sound;
        EXPECT_EQ(reader_processes_started() - before, fresh ? 1u : 0u) << batch[i].name;
        EXPECT_EQ(complete, batch[i].sound) << batch[i].name;
        if (batch[i].sound) EXPECT_EQ(got, expected[i]) << batch[i].name;
    }
}
// The reader process outlives its document, so it must not keep the worker's descriptors: a
// connection the worker closes (or loses by dying) has to read as closed on the other side.
TEST(WvReader, TheReaderHoldsNoneOfTheWorkersDescriptors) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0); // inherited by a fork (not close-on-exec), like a plain socket
    Limits limits;
    limits.memory_bytes += 4096; // a different memory limit makes a new reader process
    const std::uint64_t before = reader_processes_started();
    bool complete = false;
    read_traced(fixture("text.doc"), limits, complete);
    ASSERT_TRUE(complete);
    ASSERT_EQ(reader_processes_started() - before, 1u);
    close(fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    char c;
    EXPECT_EQ(read(fds[0], &c, 1), 0) << "the reader keeps the write end open";
    close(fds[0]);
}

// A reader killed from outside while it waits for work costs the next document nothing: the
// document goes to a new reader and reads to its end.
TEST(WvReader, AReaderThatDiedWhileWaitingIsReplacedBeforeTheNextDocument) {
    bool complete = false;
    const std::string expected = read_traced(fixture("notes.doc"), Limits(), complete);
    ASSERT_TRUE(complete);
    const std::vector<pid_t> children = tn_test::children_of(getpid());
    ASSERT_EQ(children.size(), 1u);
    ASSERT_EQ(kill(children[0], SIGKILL), 0);
    for (int i = 0; i < 200 && tn_test::process_state(children[0]) != 'Z'; ++i)
        usleep(10000);
    ASSERT_EQ(tn_test::process_state(children[0]), 'Z');

    const std::uint64_t before = reader_processes_started();
    EXPECT_EQ(read_traced(fixture("notes.doc"), Limits(), complete), expected);
    EXPECT_TRUE(complete);
    EXPECT_EQ(reader_processes_started() - before, 1u);
    EXPECT_EQ(tn_test::process_state(children[0]), '?') << "the dead reader was not reaped";
}

} // namespace
} // namespace lumbrake::wvadapter
