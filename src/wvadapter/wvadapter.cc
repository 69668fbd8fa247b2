#include "wvadapter/wvadapter.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "wvadapter/wv-precheck.h"
#include "wvadapter/wv-reader.h"

#if defined(__SANITIZE_ADDRESS__)
#define TN_WV_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TN_WV_SANITIZED 1
#endif
#endif

namespace lumbrake::wvadapter {

// ---- handler defaults ---------------------------------------------------------------------

TextHandler::~TextHandler() = default;
void TextHandler::sectionStart(std::shared_ptr<const SectionProperties>) {}
void TextHandler::sectionEnd() {}
void TextHandler::pageBreak() {}
void TextHandler::headersFound(const Functor& parseHeaders) {
    parseHeaders();
}
void TextHandler::paragraphStart(std::shared_ptr<const ParagraphProperties>) {}
void TextHandler::paragraphEnd() {}
void TextHandler::runOfText(const UString&, std::shared_ptr<const CharacterProperties>) {}
void TextHandler::specialCharacter(SpecialChar, std::shared_ptr<const CharacterProperties>) {}
void TextHandler::footnoteFound(const Functor& parseFootnote) {
    parseFootnote();
}
void TextHandler::footnoteAutoNumber(std::shared_ptr<const CharacterProperties>) {}
void TextHandler::fieldStart(std::shared_ptr<const CharacterProperties>) {}
void TextHandler::fieldSeparator(std::shared_ptr<const CharacterProperties>) {}
void TextHandler::fieldEnd(std::shared_ptr<const CharacterProperties>) {}
void TextHandler::tableRowFound(const Functor& parseRow,
                                std::shared_ptr<const TableRowProperties>) {
    parseRow();
}

SubDocumentHandler::~SubDocumentHandler() = default;
void SubDocumentHandler::bodyStart() {}
void SubDocumentHandler::bodyEnd() {}
void SubDocumentHandler::footnoteStart() {}
void SubDocumentHandler::footnoteEnd() {}
void SubDocumentHandler::headersStart() {}
void SubDocumentHandler::headersEnd() {}
void SubDocumentHandler::headerStart() {}
void SubDocumentHandler::headerEnd() {}

TableHandler::~TableHandler() = default;
void TableHandler::tableRowStart(std::shared_ptr<const TableRowProperties>) {}
void TableHandler::tableRowEnd() {}
void TableHandler::tableCellStart() {}
void TableHandler::tableCellEnd() {}

// ---- replay -------------------------------------------------------------------------------

namespace {

const Functor nothing = [] {};

bool delivered(int story) {
    return story == story_main || story == story_footnotes || story == story_headers ||
           story == story_endnotes || story == story_textboxes || story == story_header_textboxes;
}

bool is_note(int story) {
    return story == story_footnotes || story == story_endnotes;
}

constexpr char16_t paragraph_mark = 0x0D;
constexpr char16_t cell_mark = 0x07;
constexpr char16_t page_break = 0x0C;
constexpr char16_t optional_hyphen = 0x1F;
constexpr char16_t nonbreaking_hyphen = 0x1E;

} // namespace

std::shared_ptr<Parser> Parser::fromEvents(const std::string& stream) {
    std::shared_ptr<Parser> p(new Parser());
    const bool well_formed = decode_events(stream, p->events_);
    if (p->events_.empty() || p->events_.front().type != EventType::init ||
        p->events_.front().value != 0)
        return nullptr;
    bool ended = false;
    for (const Event& e : p->events_) {
        if (e.type == EventType::title && p->strings_.title().empty())
            p->strings_ = AssociatedStrings(e.text);
        if (e.type == EventType::end) {
            ended = e.value == 0;
            break;
        }
    }
    p->complete_ = well_formed && ended;
    return p;
}

bool Parser::parse() {
    field_in_instructions_.clear();
    instruction_fields_ = 0;
    story_ = story_main;
    in_section_ = para_open_ = in_row_ = cell_open_ = cell_mark_ = false;
    if (subdoc_) subdoc_->bodyStart();
    dispatch(0, events_.size());
    leave_story();
    return complete_;
}

void Parser::enter_story(int story) {
    story_ = story;
    field_in_instructions_.clear();
    instruction_fields_ = 0;
    if (!subdoc_) return;
    if (story == story_main) {
        subdoc_->bodyStart();
    } else if (is_note(story)) {
        subdoc_->footnoteStart();
    } else if (story == story_headers) {
        subdoc_->headersStart();
        subdoc_->headerStart();
    }
}

void Parser::leave_story() {
    if (para_open_) {
        para_open_ = false;
        if (text_ && delivered(story_)) text_->paragraphEnd();
    }
    if (story_ == story_main && in_section_) {
        in_section_ = false;
        if (text_) text_->sectionEnd();
    }
    if (!subdoc_) return;
    if (story_ == story_main) {
        subdoc_->bodyEnd();
    } else if (is_note(story_)) {
        subdoc_->footnoteEnd();
    } else if (story_ == story_headers) {
        subdoc_->headerEnd();
        subdoc_->headersEnd();
    }
}

// The end (exclusive) of the table row that starts at begin: past the paragraph that carries
// the row-end mark, or at the first event that leaves the table.
std::size_t Parser::row_end(std::size_t begin, std::size_t end, int& cells) const {
    cells = 0;
    bool in_mark_para = false, saw_cell_mark = false;
    for (std::size_t k = begin; k < end; ++k) {
        const Event& e = events_[k];
        switch (e.type) {
        case EventType::story:
            if (e.value != story_) return k;
            break;
        case EventType::para_begin:
            if (!(e.value & para_in_table)) return k;
            in_mark_para = (e.value & para_row_end) != 0;
            saw_cell_mark = false;
            break;
        case EventType::text:
            if (!in_mark_para && e.text.find(cell_mark) != std::u16string::npos)
                saw_cell_mark = true;
            break;
        case EventType::para_end:
            if (in_mark_para) return k + 1;
            if (saw_cell_mark) ++cells;
            break;
        default:
            break;
        }
    }
    return end;
}

void Parser::run_row(std::size_t begin, std::size_t end,
                     std::shared_ptr<const TableRowProperties> tap) {
    in_row_ = true;
    cell_open_ = cell_mark_ = false;
    if (table_) table_->tableRowStart(std::move(tap));
    dispatch(begin, end);
    if (para_open_) {
        para_open_ = false;
        if (text_) text_->paragraphEnd();
    }
    if (cell_open_ && table_) table_->tableCellEnd();
    cell_open_ = false;
    if (table_) table_->tableRowEnd();
    in_row_ = false;
}

void Parser::dispatch(std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
        const Event& e = events_[i];
        if (e.type == EventType::story) {
            if (e.value != story_ && !in_row_) {
                leave_story();
                enter_story(e.value);
            }
            continue;
        }
        if (!delivered(story_)) continue;
        switch (e.type) {
        case EventType::section_begin:
            if (story_ == story_main && !in_section_) {
                in_section_ = true;
                if (text_) {
                    text_->sectionStart(std::make_shared<SectionProperties>());
                    text_->headersFound(nothing);
                }
            }
            break;
        case EventType::section_end:
            if (story_ == story_main && in_section_) {
                in_section_ = false;
                if (text_) text_->sectionEnd();
            }
            break;
        case EventType::para_begin: {
            if ((e.value & para_in_table) && !in_row_) {
                int cells = 0;
                const std::size_t j = row_end(i, end, cells);
                auto tap = std::make_shared<TableRowProperties>();
                tap->cells = cells;
                const Functor row = [this, i, j, tap] { run_row(i, j, tap); };
                if (text_)
                    text_->tableRowFound(row, tap);
                else
                    row();
                i = j - 1;
                break;
            }
            if (para_open_) { // a paragraph that never ended
                para_open_ = false;
                if (text_) text_->paragraphEnd();
            }
            if (e.value & para_row_end) {
                // The row-end mark is not text: skip its paragraph.
                while (i + 1 < end && events_[i + 1].type != EventType::para_end &&
                       events_[i + 1].type != EventType::para_begin &&
                       events_[i + 1].type != EventType::story)
                    ++i;
                if (i + 1 < end && events_[i + 1].type == EventType::para_end) ++i;
                break;
            }
            if (in_row_ && !cell_open_) {
                cell_open_ = true;
                if (table_) table_->tableCellStart();
            }
            para_open_ = true;
            cell_mark_ = false;
            if (text_) {
                auto pap = std::make_shared<ParagraphProperties>();
                pap->in_table = (e.value & para_in_table) != 0;
                text_->paragraphStart(std::move(pap));
            }
            break;
        }
        case EventType::para_end:
            if (para_open_) {
                para_open_ = false;
                if (text_) text_->paragraphEnd();
            }
            if (in_row_ && cell_open_ && cell_mark_) {
                cell_open_ = false;
                if (table_) table_->tableCellEnd();
            }
            cell_mark_ = false;
            break;
        case EventType::text:
            text_event(e);
            break;
        case EventType::special:
            special_event(e);
            break;
        default:
            break;
        }
    }
}

void Parser::text_event(const Event& e) {
    UString piece;
    const auto chp = std::make_shared<CharacterProperties>();
    const auto flush = [&] {
        if (!piece.empty() && text_) text_->runOfText(piece, chp);
        piece.clear();
    };
    for (char16_t u : e.text) {
        switch (u) {
        case paragraph_mark:
            break;
        case cell_mark:
            cell_mark_ = true;
            break;
        case page_break:
            flush();
            if (text_) text_->pageBreak();
            break;
        case optional_hyphen: // invisible unless the line breaks there
            break;
        default:
            if (instruction_fields_ > 0) break;
            piece.push_back(u == nonbreaking_hyphen ? u'-' : u);
        }
    }
    flush();
}

void Parser::special_event(const Event& e) {
    const auto chp = std::make_shared<CharacterProperties>();
    switch (e.code) {
    case field_begin:
        field_in_instructions_.push_back(true);
        ++instruction_fields_;
        if (text_) text_->fieldStart(chp);
        return;
    case field_separator:
        if (!field_in_instructions_.empty() && field_in_instructions_.back()) {
            field_in_instructions_.back() = false;
            --instruction_fields_;
        }
        if (text_) text_->fieldSeparator(chp);
        return;
    case field_end:
        if (!field_in_instructions_.empty()) {
            if (field_in_instructions_.back()) --instruction_fields_;
            field_in_instructions_.pop_back();
        }
        if (text_) text_->fieldEnd(chp);
        return;
    default:
        break;
    }
    if (instruction_fields_ > 0 || !text_) return;
    switch (e.code) {
    case static_cast<std::uint16_t>(SpecialChar::footnote_reference):
        if (is_note(story_))
            text_->footnoteAutoNumber(chp);
        else
            text_->footnoteFound(nothing);
        break;
    case static_cast<std::uint16_t>(SpecialChar::picture):
    case static_cast<std::uint16_t>(SpecialChar::annotation_reference):
    case static_cast<std::uint16_t>(SpecialChar::drawn_object):
        text_->specialCharacter(static_cast<SpecialChar>(e.code), chp);
        break;
    default:
        text_->specialCharacter(SpecialChar::other, chp);
    }
}

// ---- the reader process -------------------------------------------------------------------

namespace {

[[noreturn]] void reader_child(const unsigned char* data, std::size_t length, int fd,
                               const Limits& limits) {
    // A crash here is expected of corrupt input: no crash report, no core file.
    for (int sig :
         {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS, SIGXCPU, SIGPIPE, SIGALRM})
        ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // libwv calls exit() on some damage. Handlers run last-registered first, so this one
    // ends the child before the parent's exit handlers and static destructors could run on
    // the child's copy of the parent's state.
    std::atexit([] { ::_exit(4); });
    // The pipe must not sit on a standard descriptor that is about to be pointed elsewhere.
    if (fd <= 2) fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0)
        for (int target = 0; target <= 2; ++target)
            ::dup2(null, target);
    rlimit core{0, 0};
    ::setrlimit(RLIMIT_CORE, &core);
    rlimit cpu{limits.cpu_seconds, limits.cpu_seconds + 1};
    ::setrlimit(RLIMIT_CPU, &cpu);
#ifndef TN_WV_SANITIZED
    rlimit as{limits.memory_bytes, limits.memory_bytes};
    ::setrlimit(RLIMIT_AS, &as);
#endif
    // Should the parent vanish without closing the pipe, this ends the child all the same.
    ::alarm(static_cast<unsigned>(limits.wall_time.count() / 1000) + 2);
    std::string unused;
    read_document_events(data, length, fd, unused);
    ::_exit(0);
}

// Runs the reader in a child process; stream receives what it wrote before it ended, died or
// ran out of time or output.
void run_reader(const unsigned char* data, std::size_t length, const Limits& limits,
                std::string& stream) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    // An exit through the C library in the child flushes the inherited buffers: empty them.
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    if (pid == 0) {
        ::close(fds[0]);
        reader_child(data, length, fds[1], limits);
    }
    ::close(fds[1]);

    std::size_t cap = limits.output_base;
    cap += length > (SIZE_MAX - cap) / 16 ? SIZE_MAX - cap : length * 16;
    const auto deadline = std::chrono::steady_clock::now() + limits.wall_time;
    char buf[64 * 1024];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) break;
        if (ready == 0) continue;
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (stream.size() + static_cast<std::size_t>(n) > cap) break;
        stream.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    ::kill(pid, SIGKILL); // the child is ours and not yet reaped: the pid cannot be another's
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

std::shared_ptr<Parser> ParserFactory::createParser(const unsigned char* data, std::size_t length,
                                                    const Limits& limits) {
    if (!data) return nullptr;
    if (!plausible_compound_file(data, length) && !has_legacy_word_signature(data, length))
        return nullptr;
    std::string stream;
    run_reader(data, length, limits, stream);
    return Parser::fromEvents(stream);
}

} // namespace lumbrake::wvadapter
