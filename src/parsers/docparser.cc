#include "parsers/docparser.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "fff/FFFbuilder.h"
#include "wvadapter/wv-precheck.h"
#include "wvadapter/wvadapter.h"

namespace lumbrake {

namespace {

// Feeds UTF-16 code units to the builder, joining surrogate pairs so that characters beyond
// the Basic Multilingual Plane stay whole; a lone surrogate is fed as it is (a separator).
class utf16_feeder {
public:
    explicit utf16_feeder(FFFbuilder& b) : builder_(b) {}
    void feed(char16_t u) {
        if (high_) {
            const char16_t high = high_;
            high_ = 0;
            if (u >= 0xDC00 && u <= 0xDFFF) {
                builder_.add_char(0x10000 + ((std::uint32_t(high) - 0xD800) << 10) + (u - 0xDC00));
                return;
            }
            builder_.add_char(high);
        }
        if (u >= 0xD800 && u <= 0xDBFF)
            high_ = u;
        else
            builder_.add_char(u);
    }
    void flush() {
        if (high_) builder_.add_char(high_);
        high_ = 0;
    }

private:
    FFFbuilder& builder_;
    char16_t high_ = 0;
};

class mytexthandler : public wvadapter::TextHandler {
public:
    explicit mytexthandler(FFFbuilder& b) : builder_(&b), feeder_(b) {}
    void sectionStart(std::shared_ptr<const wvadapter::SectionProperties>) override {}
    void sectionEnd() override {}
    void pageBreak() override { end_paragraph(); }
    void paragraphStart(std::shared_ptr<const wvadapter::ParagraphProperties>) override {
        end_paragraph();
    }
    void paragraphEnd() override { end_paragraph(); }
    void runOfText(const wvadapter::UString& text,
                   std::shared_ptr<const wvadapter::CharacterProperties>) override {
        for (char16_t u : text)
            feeder_.feed(u);
    }
    void specialCharacter(wvadapter::SpecialChar,
                          std::shared_ptr<const wvadapter::CharacterProperties>) override {}
    void footnoteAutoNumber(std::shared_ptr<const wvadapter::CharacterProperties>) override {}
    void fieldStart(std::shared_ptr<const wvadapter::CharacterProperties>) override {}
    void fieldSeparator(std::shared_ptr<const wvadapter::CharacterProperties>) override {}
    void fieldEnd(std::shared_ptr<const wvadapter::CharacterProperties>) override {}

    void end_paragraph() {
        feeder_.flush();
        builder_->end_paragraph();
    }

private:
    FFFbuilder* builder_;
    utf16_feeder feeder_;
};

class mysubdochandler : public wvadapter::SubDocumentHandler {
public:
    mysubdochandler(FFFbuilder& b, mytexthandler& text) : builder_(&b), text_(text) {}
    void bodyStart() override { builder_->push_dict(FFF::centralNormDict); }
    void bodyEnd() override { text_.end_paragraph(); }
    void footnoteStart() override {}
    void footnoteEnd() override {}
    void headersStart() override {}
    void headersEnd() override {}
    void headerStart() override {}
    void headerEnd() override {}

private:
    FFFbuilder* builder_;
    mytexthandler& text_;
};

class mytablehandler : public wvadapter::TableHandler {
public:
    explicit mytablehandler(FFFbuilder& b) : builder_(&b) {}
    void tableRowStart(std::shared_ptr<const wvadapter::TableRowProperties>) override {}
    void tableRowEnd() override {}
    void tableCellStart() override {}
    void tableCellEnd() override {}

private:
    [[maybe_unused]] FFFbuilder* builder_;
};

// Points descriptors 1 and 2 at /dev/null for its lifetime so that nothing the Word library
// prints reaches the worker's report, and puts them back on every way out. They are redirected
// rather than closed: a closed 1 or 2 would be handed to the next descriptor opened meanwhile.
class quiet_output {
public:
    quiet_output() {
        flush();
        saved_out_ = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
        saved_err_ = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            if (saved_out_ >= 0) ::dup2(null, 1);
            if (saved_err_ >= 0) ::dup2(null, 2);
            ::close(null);
        }
    }
    ~quiet_output() {
        flush();
        if (saved_out_ >= 0) {
            ::dup2(saved_out_, 1);
            ::close(saved_out_);
        }
        if (saved_err_ >= 0) {
            ::dup2(saved_err_, 2);
            ::close(saved_err_);
        }
        // Anything written meanwhile went to /dev/null; streams stay usable.
        std::cout.clear();
        std::cerr.clear();
    }
    quiet_output(const quiet_output&) = delete;
    quiet_output& operator=(const quiet_output&) = delete;

private:
    static void flush() {
        std::cout.flush();
        std::cerr.flush();
        std::fflush(stdout);
        std::fflush(stderr);
    }
    int saved_out_ = -1;
    int saved_err_ = -1;
};

} // namespace

bool DOCParser::detect(int mode, const std::string& data, const std::string& name,
                       std::string& mime, std::string& charset) {
    bool found = false;
    if (mode == DETECT_CONTENT) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
        found = wvadapter::has_compound_signature(bytes, data.size()) ||
                wvadapter::has_legacy_word_signature(bytes, data.size());
    } else if (mode == DETECT_NAME) {
        found = has_suffix(name, {".doc", ".DOC"});
    }
    if (!found) return false;
    mime = "application/msword";
    charset.clear();
    return true;
}

bool DOCParser::feed(wvadapter::Parser& document, FFFbuilder& builder) {
    mytexthandler text(builder);
    mysubdochandler subdoc(builder, text);
    mytablehandler table(builder);
    document.setSubDocumentHandler(&subdoc);
    document.setTableHandler(&table);
    document.setTextHandler(&text);

    const wvadapter::UString& title = document.associatedStrings().title();
    if (!title.empty()) {
        builder.push_dict(FFF::titleDict);
        utf16_feeder feeder(builder);
        for (char16_t u : title)
            feeder.feed(u);
        feeder.flush();
        builder.pop_dict();
        builder.end_paragraph();
    }
    const bool ok = document.parse();
    // The handlers live on this stack frame only.
    document.setSubDocumentHandler(nullptr);
    document.setTableHandler(nullptr);
    document.setTextHandler(nullptr);
    return ok;
}

void DOCParser::parse(FFFbuilder& builder, const text_exclusion_matcher*, std::int32_t,
                      const std::string&, const std::string& data, const std::string&,
                      const std::string&, parse_result& result) {
    bool ok = false;
    {
        quiet_output quiet;
        result.status = PARSE_NOT_PARSED;
        result.document.reset();

        auto parser = wvadapter::ParserFactory::createParser(
            reinterpret_cast<const unsigned char*>(data.data()), data.size());
        if (parser) ok = feed(*parser, builder);
    }
    if (ok) {
        result.status = PARSE_OK;
        result.mime = "application/msword";
        result.charset.clear();
    } else {
        result.status = PARSE_ERROR;
        result.error = parse_error;
    }
}

} // namespace lumbrake
