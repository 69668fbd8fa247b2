#include "wvadapter/wvadapter.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

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

// A request to the reader: u32 CPU seconds, u32 wall-clock seconds, u64 length (little-endian),
// then the document. The answer is the chunked event stream of wv-reader.h.
constexpr std::size_t request_head = 16;

void put_le(unsigned char* p, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint64_t get_le(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= std::uint64_t(p[i]) << (8 * i);
    return v;
}

// Child side: blocks until n bytes are in; false at the end of the stream.
bool read_full(int fd, void* to, std::size_t n) {
    auto* p = static_cast<char*>(to);
    while (n > 0) {
        const ssize_t r = ::read(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

// The address space of this process in bytes; 0 when unknown.
std::size_t address_space() {
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[64] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) return 0;
    return std::strtoull(text, nullptr, 10) * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// The reader process: documents in, events out, one after the other, until the worker closes
// the socket or a document leaves the library in a state that is not to be trusted again.
[[noreturn]] void reader_child(int fd, std::size_t memory_bytes) {
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
    // The socket must not sit on a standard descriptor that is about to be pointed elsewhere.
    if (fd <= 2) fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0)
        for (int target = 0; target <= 2; ++target)
            ::dup2(null, target);
    // Only the socket stays open: a reader that outlives a document must not hold the
    // worker's own connections (the daemon would not see them close when the worker dies).
    if (fd != 3) {
        ::dup2(fd, 3);
        fd = 3;
    }
    ::close_range(4, ~0U, 0);
    rlimit core{0, 0};
    ::setrlimit(RLIMIT_CORE, &core);
#ifndef TN_WV_SANITIZED
    rlimit as{memory_bytes, memory_bytes};
    ::setrlimit(RLIMIT_AS, &as);
#endif
    // The document and the copies of its streams are large blocks, allocated and freed once per
    // document: from the heap, kept between documents, they cost no mapping, no zeroed pages
    // and no TLB flush each time. What is kept counts in the address space checked below.
    ::mallopt(M_MMAP_THRESHOLD, 64 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 128 << 20);
    for (;;) {
        unsigned char head[request_head];
        if (!read_full(fd, head, sizeof head)) ::_exit(0);
        const auto cpu_seconds = static_cast<rlim_t>(get_le(head, 4));
        const auto wall_seconds = static_cast<unsigned>(get_le(head + 4, 4));
        const std::uint64_t length = get_le(head + 8, 8);
        std::string data(length, '\0');
        if (!read_full(fd, data.data(), data.size())) ::_exit(0);
        // The CPU limit counts this process's whole life: give each document its own share.
        // Only the soft limit moves (SIGXCPU ends the process); raising the hard one would
        // need a privilege.
        rlimit cpu{};
        ::getrlimit(RLIMIT_CPU, &cpu);
        rusage used{};
        ::getrusage(RUSAGE_SELF, &used);
        const rlim_t spent =
            static_cast<rlim_t>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) + 1;
        cpu.rlim_cur = spent + cpu_seconds;
        if (cpu.rlim_max != RLIM_INFINITY && cpu.rlim_cur >= cpu.rlim_max)
            cpu.rlim_cur = cpu.rlim_max - 1;
        ::setrlimit(RLIMIT_CPU, &cpu);
        // Should the worker vanish without closing the socket, this ends the reader all the same.
        ::alarm(wall_seconds + 2);
        std::string unused;
        bool again = read_document_events(reinterpret_cast<const unsigned char*>(data.data()),
                                          data.size(), fd, unused);
        ::alarm(0);
        data = std::string();
#ifndef TN_WV_SANITIZED
        // What the library leaks stays in this process: replace it well before the limit.
        const std::size_t size = address_space();
        again = again && size != 0 && size < memory_bytes / 2;
#endif
        write_document_end(fd, again);
        if (!again) ::_exit(0);
    }
}

// The worker's side: the one reader process, kept between documents.
struct reader_process {
    pid_t owner = -1; // the process that started it
    pid_t pid = -1;
    int fd = -1;
    std::size_t memory_bytes = 0;
    std::size_t documents = 0;
};

std::mutex reader_mutex;
reader_process reader; // guarded by reader_mutex
std::atomic<std::uint64_t> readers_started{0};

void stop_reader() {
    if (reader.fd >= 0) ::close(reader.fd);
    if (reader.pid > 0) {
        ::kill(reader.pid, SIGKILL); // ours and not yet reaped: the pid cannot be another's
        int status = 0;
        while (::waitpid(reader.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    reader = reader_process();
}

bool start_reader(const Limits& limits) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
    // An exit through the C library in the child flushes the inherited buffers: empty them.
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        ::close(fds[0]);
        reader_child(fds[1], limits.memory_bytes);
    }
    ::close(fds[1]);
    reader.owner = ::getpid();
    reader.pid = pid;
    reader.fd = fds[0];
    reader.memory_bytes = limits.memory_bytes;
    reader.documents = 0;
    readers_started.fetch_add(1, std::memory_order_relaxed);
    return true;
}

using steady = std::chrono::steady_clock;

// Waits for the reader's socket until the deadline; false when the time is up or it failed.
bool wait_for(short events, steady::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now());
        if (left.count() <= 0) return false;
        pollfd p{reader.fd, events, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (ready > 0) return true;
    }
}

bool send_all(const void* from, std::size_t n, steady::time_point deadline) {
    const auto* p = static_cast<const char*>(from);
    while (n > 0) {
        if (!wait_for(POLLOUT, deadline)) return false;
        const ssize_t sent = ::send(reader.fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (sent <= 0) return false;
        p += sent;
        n -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool recv_all(void* to, std::size_t n, steady::time_point deadline) {
    auto* p = static_cast<char*>(to);
    while (n > 0) {
        if (!wait_for(POLLIN, deadline)) return false;
        const ssize_t got = ::recv(reader.fd, p, n, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

// Has the reader read one document; stream receives what it wrote before it finished, died or
// ran out of time or output. True when the reader finished the document and may take another.
bool exchange(const unsigned char* data, std::size_t length, const Limits& limits,
              std::string& stream) {
    const auto deadline = steady::now() + limits.wall_time;
    unsigned char head[request_head];
    put_le(head, limits.cpu_seconds, 4);
    put_le(head + 4, static_cast<std::uint64_t>(limits.wall_time.count() / 1000), 4);
    put_le(head + 8, length, 8);
    if (!send_all(head, sizeof head, deadline) || !send_all(data, length, deadline)) return false;

    std::size_t cap = limits.output_base;
    cap += length > (SIZE_MAX - cap) / 16 ? SIZE_MAX - cap : length * 16;
    for (;;) {
        unsigned char chunk[4];
        if (!recv_all(chunk, sizeof chunk, deadline)) return false;
        const auto n = static_cast<std::size_t>(get_le(chunk, 4));
        if (n == 0) {
            unsigned char reusable = 0;
            return recv_all(&reusable, 1, deadline) && reusable == 1;
        }
        if (n > cap - stream.size()) return false;
        const std::size_t at = stream.size();
        stream.resize(at + n);
        if (!recv_all(stream.data() + at, n, deadline)) {
            stream.resize(at);
            return false;
        }
    }
}

// Reads one document in the reader process, started (or replaced) as needed; a reader that
// did not finish its document cleanly is never used again.
void run_reader(const unsigned char* data, std::size_t length, const Limits& limits,
                std::string& stream) {
    std::lock_guard<std::mutex> lock(reader_mutex);
    if (reader.pid > 0 && reader.owner != ::getpid()) {
        // A copy of a forked process: the reader is its parent's, to be left alone.
        ::close(reader.fd);
        reader = reader_process();
    }
    if (reader.pid > 0) {
        // A reader that ended while it waited (killed from outside) is replaced before the
        // document is sent, so that its death is not charged to the document.
        int status = 0;
        if (::waitpid(reader.pid, &status, WNOHANG) == reader.pid) reader.pid = -1;
        if (reader.pid <= 0 || reader.memory_bytes != limits.memory_bytes) stop_reader();
    }
    if (reader.pid <= 0 && !start_reader(limits)) return;
    const bool again = exchange(data, length, limits, stream);
    ++reader.documents;
    if (!again || reader.documents >= limits.documents_per_process) stop_reader();
}

} // namespace

std::uint64_t reader_processes_started() {
    return readers_started.load(std::memory_order_relaxed);
}

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
