// A Word document reader for the DOC parser: a parser factory, a parser and three handler
// interfaces (text, sub-documents, tables). Word 97-2003 files are read by our own reader
// (word97-reader.h); the wvWare library (libwv, over libgsf) reads what it declines.
//
// libwv is old C that crashes, loops or calls exit() on corrupt documents, and both readers
// read hostile input, so neither runs in the caller's process: the parser factory checks the
// compound-file header cheaply, then a forked reader process reads the document under CPU,
// memory and wall-clock limits and sends its structure back as an event stream (wv-events.h).
// The handlers replay that stream.
// The reader is kept for the next documents (forking one per document cost more than reading
// most documents) until a document fails, dies, runs out of time or output, leaves the library
// half-way, or a batch is full; then it is killed and the next document gets a fresh one.
//
// The text arrives in the order the file stores it: the main body, then the footnotes, the
// headers and footers, the endnotes and the text boxes, each bracketed by the sub-document
// handler. Comments and macro text are left out. Field instructions (the part of a field
// before its separator) are not text and are left out too; field results are kept.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wvadapter/wv-events.h"

namespace lumbrake::wvadapter {

using UString = std::u16string;

// Properties handed to the handlers; shared, so a handler that keeps none releases them.
struct SectionProperties {};
struct ParagraphProperties {
    bool in_table = false;
};
struct CharacterProperties {};
struct TableRowProperties {
    int cells = 0; // cells in the row
};

// Special characters that stand for an object rather than text.
enum class SpecialChar : std::uint16_t {
    picture = 0x01,
    footnote_reference = 0x02,
    annotation_reference = 0x05,
    drawn_object = 0x08,
    other = 0xffff,
};

using Functor = std::function<void()>;

class TextHandler {
public:
    virtual ~TextHandler();
    virtual void sectionStart(std::shared_ptr<const SectionProperties> sep);
    virtual void sectionEnd();
    virtual void pageBreak();
    // At each section start of the body. The headers are delivered after the body, so the
    // functor does nothing; it is there for handlers written against the usual interface.
    virtual void headersFound(const Functor& parseHeaders);
    virtual void paragraphStart(std::shared_ptr<const ParagraphProperties> pap);
    virtual void paragraphEnd();
    virtual void runOfText(const UString& text, std::shared_ptr<const CharacterProperties> chp);
    virtual void specialCharacter(SpecialChar c, std::shared_ptr<const CharacterProperties> chp);
    // At a footnote or endnote reference in the body; the note's text follows the body.
    virtual void footnoteFound(const Functor& parseFootnote);
    virtual void footnoteAutoNumber(std::shared_ptr<const CharacterProperties> chp);
    virtual void fieldStart(std::shared_ptr<const CharacterProperties> chp);
    virtual void fieldSeparator(std::shared_ptr<const CharacterProperties> chp);
    virtual void fieldEnd(std::shared_ptr<const CharacterProperties> chp);
    // At the first paragraph of each table row; the default runs parseRow, which delivers the
    // row through the table handler (row start, cells with their paragraphs, row end).
    virtual void tableRowFound(const Functor& parseRow,
                               std::shared_ptr<const TableRowProperties> tap);
};

class SubDocumentHandler {
public:
    virtual ~SubDocumentHandler();
    virtual void bodyStart();
    virtual void bodyEnd();
    virtual void footnoteStart();
    virtual void footnoteEnd();
    virtual void headersStart();
    virtual void headersEnd();
    virtual void headerStart();
    virtual void headerEnd();
};

class TableHandler {
public:
    virtual ~TableHandler();
    virtual void tableRowStart(std::shared_ptr<const TableRowProperties> tap);
    virtual void tableRowEnd();
    virtual void tableCellStart();
    virtual void tableCellEnd();
};

// The document's associated strings; the title falls back to the summary information's.
class AssociatedStrings {
public:
    AssociatedStrings() = default;
    explicit AssociatedStrings(UString title) : title_(std::move(title)) {}
    const UString& title() const { return title_; }

private:
    UString title_;
};

// Bounds of one document's extraction.
struct Limits {
    std::chrono::milliseconds wall_time{30000};
    unsigned cpu_seconds = 30;
    // Address space of the child (not applied in sanitizer builds, whose shadow memory needs
    // far more).
    std::size_t memory_bytes = std::size_t(1) << 31;
    // Event-stream bytes accepted from the child: this many plus 16 per input byte.
    std::size_t output_base = std::size_t(16) << 20;
    // Documents one reader process reads before it is replaced (what libwv leaks stays there).
    std::size_t documents_per_process = 256;
};

class Parser {
public:
    ~Parser() = default;
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    void setTextHandler(TextHandler* handler) { text_ = handler; }
    void setSubDocumentHandler(SubDocumentHandler* handler) { subdoc_ = handler; }
    void setTableHandler(TableHandler* handler) { table_ = handler; }

    const AssociatedStrings& associatedStrings() const { return strings_; }

    // Delivers the document to the handlers (those not set are skipped). False when the
    // document could not be read to its end; what was read has been delivered.
    bool parse();

    // Builds a parser over an event stream already at hand (the replay of wv-events.h).
    static std::shared_ptr<Parser> fromEvents(const std::string& stream);

private:
    Parser() = default;
    void dispatch(std::size_t begin, std::size_t end);
    std::size_t row_end(std::size_t begin, std::size_t end, int& cells) const;
    void run_row(std::size_t begin, std::size_t end, std::shared_ptr<const TableRowProperties> tap);
    void text_event(const Event& e);
    void special_event(const Event& e);
    void enter_story(int story);
    void leave_story();
    friend class ParserFactory;

    std::vector<Event> events_;
    AssociatedStrings strings_;
    bool complete_ = false;
    TextHandler* text_ = nullptr;
    SubDocumentHandler* subdoc_ = nullptr;
    TableHandler* table_ = nullptr;
    // Dispatch state.
    std::vector<bool> field_in_instructions_; // per open field, innermost last
    int instruction_fields_ = 0;              // open fields still in their instructions
    int story_ = 0;
    bool in_section_ = false;
    bool para_open_ = false;
    bool in_row_ = false;
    bool cell_open_ = false;
    bool cell_mark_ = false;
};

// Reader processes started by this process so far.
std::uint64_t reader_processes_started();

class ParserFactory {
public:
    // A parser for a Word document of length bytes, or none when the data is not one that
    // the library can open (not a compound file, no Word stream, encrypted, refused by
    // libwv, or the reader died before it had opened the document).
    static std::shared_ptr<Parser> createParser(const unsigned char* data, std::size_t length,
                                                const Limits& limits = Limits());
};

} // namespace lumbrake::wvadapter
