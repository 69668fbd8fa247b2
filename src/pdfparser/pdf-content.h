// The content-stream interpreter: follows the text state, a simplified text matrix and
// transformation, and reports every string shown by Tj, TJ, ' and " as a TextSnapshot with its
// Unicode text (UTF-8), position, advance and font. It draws nothing and decides no breaks.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "pdfparser/pdf-fonts.h"

namespace PdfParser {

// One shown string with the text state it was shown in.
struct TextSnapshot {
    double x = 0; // where the string starts
    double y = 0;
    double width = 0; // its advance
    double size = 0;  // effective size (also font.size)
    double TL = 0;
    double Tc = 0;
    double Tw = 0;
    double Tz = 100;
    double a = 1;
    double d = 1;
    FontRecord font;
    std::string text; // UTF-8
};

class ContentInterpreter {
public:
    // Token kinds of the content tokenizer.
    enum Kind : int {
        TokString = 0,
        TokName = 1,
        TokNumber = 2,
        TokBT = 3,
        TokET = 4,
        TokQSave = 25,
        TokQRestore = 26,
        Tokcm = 27,
        TokBI = 50,
        TokID = 51,
        TokEI = 52,
        TokDictOpen = 61,
        TokDictClose = 62,
        TokTd = 64,
        TokTD = 65,
        TokTm = 66,
        TokTstar = 67,
        TokTj = 68,
        TokTJ = 69,
        TokQuote = 70,
        TokDoubleQuote = 71,
        TokTc = 72,
        TokTw = 73,
        TokTz = 74,
        TokTL = 75,
        TokTf = 76,
        TokTr = 77,
        TokTs = 78,
        TokArrayOpen = 79,
        TokArrayClose = 80,
        TokOtherOperator = 100, // any operator the interpreter does not follow
    };

    // Limits that keep hostile streams in bounded memory: the oldest entries give way.
    static constexpr std::size_t max_operands = 65536;
    static constexpr std::size_t max_saved_states = 4096;

    // Stands just after the first text-showing operator (its snapshot is discarded). The
    // stream bytes and the font table are borrowed.
    ContentInterpreter(std::string_view stream, const FontTable& fonts);

    // Returns the state as it stood after the previous text-showing operator, then runs up to
    // and including the next one (found() true) or to the end of the stream (found() false).
    // Throws BadObjectException on malformed content.
    TextSnapshot step();
    bool found() const { return found_; }

private:
    struct Operand {
        std::string bytes;
        int kind;
    };
    struct Token {
        int kind;
        std::string bytes; // the operand's bytes, or the operator's spelling
    };

    void reset_text_state();
    void skip_white();
    Token next_token();
    void execute(const Token& t);
    // The UTF-8 text of a shown string; sets the effective size and the string's advance.
    std::string show(const std::string& bytes, double& advance);
    void skip_to(std::string_view terminator, bool outside_strings);
    void push_operand(Token&& t);
    void clear_operands() { stack_.clear(); }

    [[noreturn]] static void unexpected_token(const std::string& op);
    [[noreturn]] static void unexpected_param(const std::string& text);

    std::string_view in_;
    std::size_t pos_ = 0;

    double x_ = 0, y_ = 0;
    double last_width_ = 0, last_size_ = 0;
    double TL_ = 0, Tc_ = 0, Tw_ = 0, Tz_ = 100, a_ = 1, d_ = 1;
    FontRecord font_;
    std::string text_;
    // Advance of the strings shown since the line start (x_, y_), and where the last shown
    // string started.
    double line_advance_ = 0;
    double shown_x_ = 0;
    // e, f, a, d, c, b
    std::array<double, 6> ctm_{0, 0, 1, 1, 0, 0};
    double Tfs_ = 0;
    bool found_ = false;
    const FontTable& fonts_;
    std::deque<Operand> stack_;
    std::deque<std::array<double, 6>> saved_;
};

} // namespace PdfParser
