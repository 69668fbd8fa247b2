#include "pdfparser/pdf-content.h"

#include <cmath>
#include <vector>

#include "util/codecs.h"

namespace PdfParser {

namespace {

// Values that overflowed or came out undefined are taken as 0, so that positions and sizes
// always compare sanely.
double fin(double v) {
    return std::isfinite(v) ? v : 0.0;
}

bool is_white(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0;
}

bool is_delimiter(unsigned char c) {
    return is_white(c) || c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' ||
           c == '{' || c == '}' || c == '/' || c == '%';
}

bool is_octal(unsigned char c) {
    return c >= '0' && c <= '7';
}

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct op_spelling {
    std::string_view text;
    int kind;
};

using K = ContentInterpreter::Kind;

// Every operator of the content syntax; the interpreter follows only the text operators, the
// others empty the operand stack.
constexpr op_spelling operators[] = {
    {"BDC", K::TokOtherOperator},
    {"BMC", K::TokOtherOperator},
    {"EMC", K::TokOtherOperator},
    {"SCN", K::TokOtherOperator},
    {"scn", K::TokOtherOperator},

    {"BT", K::TokBT},
    {"ET", K::TokET},
    {"BI", K::TokBI},
    {"ID", K::TokID},
    {"EI", K::TokEI},
    {"BX", K::TokOtherOperator},
    {"EX", K::TokOtherOperator},
    {"cs", K::TokOtherOperator},
    {"CS", K::TokOtherOperator},
    {"sc", K::TokOtherOperator},
    {"SC", K::TokOtherOperator},
    {"rg", K::TokOtherOperator},
    {"RG", K::TokOtherOperator},
    {"ri", K::TokOtherOperator},
    {"re", K::TokOtherOperator},
    {"gs", K::TokOtherOperator},
    {"cm", K::Tokcm},
    {"f*", K::TokOtherOperator},
    {"B*", K::TokOtherOperator},
    {"b*", K::TokOtherOperator},
    {"W*", K::TokOtherOperator},
    {"sh", K::TokOtherOperator},
    {"Do", K::TokOtherOperator},
    {"DP", K::TokOtherOperator},
    {"MP", K::TokOtherOperator},
    {"Td", K::TokTd},
    {"TD", K::TokTD},
    {"Tm", K::TokTm},
    {"T*", K::TokTstar},
    {"Tj", K::TokTj},
    {"TJ", K::TokTJ},
    {"Tc", K::TokTc},
    {"Tw", K::TokTw},
    {"Tz", K::TokTz},
    {"TL", K::TokTL},
    {"Tf", K::TokTf},
    {"Tr", K::TokTr},
    {"Ts", K::TokTs},

    {"g", K::TokOtherOperator},
    {"G", K::TokOtherOperator},
    {"k", K::TokOtherOperator},
    {"K", K::TokOtherOperator},
    {"w", K::TokOtherOperator},
    {"J", K::TokOtherOperator},
    {"j", K::TokOtherOperator},
    {"M", K::TokOtherOperator},
    {"d", K::TokOtherOperator},
    {"i", K::TokOtherOperator},
    {"q", K::TokQSave},
    {"Q", K::TokQRestore},
    {"m", K::TokOtherOperator},
    {"l", K::TokOtherOperator},
    {"c", K::TokOtherOperator},
    {"v", K::TokOtherOperator},
    {"y", K::TokOtherOperator},
    {"h", K::TokOtherOperator},
    {"S", K::TokOtherOperator},
    {"s", K::TokOtherOperator},
    {"f", K::TokOtherOperator},
    {"F", K::TokOtherOperator},
    {"B", K::TokOtherOperator},
    {"b", K::TokOtherOperator},
    {"n", K::TokOtherOperator},
    {"W", K::TokOtherOperator},
};

} // namespace

ContentInterpreter::ContentInterpreter(std::string_view stream, const FontTable& fonts)
    : in_(stream), fonts_(fonts) {
    reset_text_state();
    step();
}

void ContentInterpreter::reset_text_state() {
    TL_ = Tc_ = Tw_ = 0;
    x_ = y_ = 0;
    Tz_ = 100;
    a_ = d_ = 1;
    last_width_ = last_size_ = 0;
    line_advance_ = 0;
    shown_x_ = 0;
    text_.clear();
}

void ContentInterpreter::unexpected_token(const std::string& op) {
    throw BadObjectException("Unexpected token : " + op);
}

void ContentInterpreter::unexpected_param(const std::string& text) {
    throw BadObjectException("Unexpected param : " + text);
}

void ContentInterpreter::skip_white() {
    while (pos_ < in_.size()) {
        const unsigned char c = in_[pos_];
        if (is_white(c)) {
            ++pos_;
        } else if (c == '%') {
            // A comment runs to the end of its line.
            while (pos_ < in_.size() && in_[pos_] != '\n' && in_[pos_] != '\r')
                ++pos_;
        } else {
            break;
        }
    }
}

void ContentInterpreter::skip_to(std::string_view terminator, bool outside_strings) {
    int depth = 0;
    std::size_t matched = 0;
    while (pos_ < in_.size()) {
        const unsigned char c = in_[pos_++];
        if (outside_strings) {
            const bool escaped = pos_ >= 2 && in_[pos_ - 2] == '\\';
            if (c == '(' && !escaped) {
                ++depth;
                matched = 0;
                continue;
            }
            if (c == ')' && !escaped && depth > 0) {
                --depth;
                continue;
            }
            if (depth > 0) continue;
        }
        if (c == static_cast<unsigned char>(terminator[matched])) {
            if (++matched == terminator.size()) return;
        } else {
            matched = c == static_cast<unsigned char>(terminator[0]) ? 1 : 0;
        }
    }
}

ContentInterpreter::Token ContentInterpreter::next_token() {
    const std::size_t n = in_.size();
    const unsigned char c = in_[pos_];
    const unsigned char c1 = pos_ + 1 < n ? in_[pos_ + 1] : 0;

    if (c == '"') {
        ++pos_;
        return {TokDoubleQuote, "\""};
    }
    if (c == '\'') {
        ++pos_;
        return {TokQuote, "'"};
    }

    // Numbers: sign, digits and points (".5" and "+1" are numbers too).
    const bool digit = c >= '0' && c <= '9';
    const bool signed_start = (c == '-' || c == '+') && ((c1 >= '0' && c1 <= '9') || c1 == '.');
    const bool point_start = c == '.' && c1 >= '0' && c1 <= '9';
    if (digit || signed_start || point_start) {
        std::size_t start = pos_++;
        while (pos_ < n && ((in_[pos_] >= '0' && in_[pos_] <= '9') || in_[pos_] == '.'))
            ++pos_;
        return {TokNumber, std::string(in_.substr(start, pos_ - start))};
    }

    if (c == '(') {
        ++pos_;
        std::string out;
        int depth = 1;
        while (pos_ < n) {
            const unsigned char b = in_[pos_++];
            if (b == '\\') {
                if (pos_ >= n) break;
                const unsigned char e = in_[pos_];
                if (is_octal(e)) {
                    // Up to three octal digits make one byte.
                    unsigned value = 0;
                    for (int i = 0; i < 3 && pos_ < n && is_octal(in_[pos_]); ++i)
                        value = value * 8 + (in_[pos_++] - '0');
                    out.push_back(static_cast<char>(value & 0xFF));
                    continue;
                }
                ++pos_;
                switch (e) {
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case '(':
                    out.push_back('(');
                    break;
                case ')':
                    out.push_back(')');
                    break;
                case '\\':
                    out.push_back('\\');
                    break;
                default:
                    break; // any other escaped byte is dropped with its backslash
                }
                continue;
            }
            if (b == '(') ++depth;
            if (b == ')' && --depth == 0) break;
            out.push_back(static_cast<char>(b));
        }
        return {TokString, std::move(out)};
    }

    if (c == '<') {
        if (c1 == '<') {
            pos_ += 2;
            skip_to(">>", true);
            return {TokDictOpen, "<<"};
        }
        ++pos_;
        std::string out;
        int high = -1;
        while (pos_ < n && in_[pos_] != '>') {
            const int v = hex_value(static_cast<unsigned char>(in_[pos_++]));
            if (v < 0) continue; // white space and stray bytes inside are skipped
            if (high < 0) {
                high = v;
            } else {
                out.push_back(static_cast<char>(high * 16 + v));
                high = -1;
            }
        }
        if (high >= 0) out.push_back(static_cast<char>(high * 16));
        if (pos_ < n) ++pos_; // the '>'
        return {TokString, std::move(out)};
    }
    if (c == '>' && c1 == '>') {
        pos_ += 2;
        return {TokDictClose, ">>"};
    }

    if (c == '/') {
        std::size_t start = pos_++;
        while (pos_ < n && !is_delimiter(static_cast<unsigned char>(in_[pos_])))
            ++pos_;
        return {TokName, std::string(in_.substr(start, pos_ - start))};
    }
    if (c == '[') {
        ++pos_;
        return {TokArrayOpen, "["};
    }
    if (c == ']') {
        ++pos_;
        return {TokArrayClose, "]"};
    }

    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
        // The longest spelling wins, except that d is always d (d0 and d1 read as d and a
        // number).
        for (std::size_t len = 3; len >= 1; --len) {
            if (c == 'd' && len > 1) continue;
            if (pos_ + len > n) continue;
            const std::string_view word = in_.substr(pos_, len);
            for (const op_spelling& op : operators) {
                if (op.text == word) {
                    pos_ += len;
                    return {op.kind, std::string(word)};
                }
            }
        }
    }
    std::string message = "Wrong TextObject, probably TextObject corrupted";
    if (c == 'E')
        message += " E?";
    else if (c == 'T')
        message += " T?";
    else if (c == 'r')
        message += " r?";
    throw BadObjectException(message);
}

void ContentInterpreter::push_operand(Token&& t) {
    if (stack_.size() >= max_operands) stack_.pop_front();
    stack_.push_back({std::move(t.bytes), t.kind});
}

std::string ContentInterpreter::show(const std::string& bytes, double& advance) {
    last_size_ = fin(Tfs_ * a_);
    font_.size = last_size_;
    std::string piece;
    advance = 0;
    for (unsigned char b : bytes) {
        const std::uint16_t cp = font_.encoding.code_point(b);
        if (cp != 0) lumbrake::utf8_append(cp, piece); // codes without a glyph show nothing
        const double w = font_.widths.width(b);
        // Word spacing applies to the single-byte code 32 only.
        advance += (Tz_ * 0.01) * (last_size_ * w * 0.001 + (Tc_ + (b == 32 ? Tw_ : 0.0)) * a_);
    }
    advance = fin(advance);
    return piece;
}

void ContentInterpreter::execute(const Token& t) {
    const std::string& op = t.bytes;
    auto top = [&](std::size_t i = 0) -> const Operand& { return stack_[stack_.size() - 1 - i]; };
    auto need_number_top = [&]() {
        if (stack_.empty()) unexpected_token(op);
        if (top().kind != TokNumber) unexpected_param(top().bytes);
        const double v = parse_real(top().bytes);
        stack_.pop_back();
        return v;
    };

    switch (t.kind) {
    case TokString:
    case TokName:
    case TokNumber:
    case TokArrayOpen:
    case TokArrayClose:
        return; // pushed by the caller

    case TokTc:
        Tc_ = need_number_top();
        return;
    case TokTw:
        Tw_ = need_number_top();
        return;
    case TokTz:
        Tz_ = need_number_top();
        return;
    case TokTL:
        TL_ = need_number_top();
        return;
    case TokTr: {
        const double v = need_number_top();
        font_.render_mode = v >= 2147483647.0
                                ? 2147483647
                                : (v <= -2147483648.0 ? -2147483647 - 1 : static_cast<int>(v));
        return;
    }
    case TokTs:
        font_.rise = need_number_top();
        return;

    case TokTf: {
        if (stack_.size() < 2) unexpected_token(op);
        if (top().kind != TokNumber) unexpected_param(top().bytes);
        if (top(1).kind != TokName) unexpected_param(top(1).bytes);
        const double size = parse_real(top().bytes);
        font_ = fonts_.find(top(1).bytes);
        Tfs_ = size;
        stack_.pop_back();
        stack_.pop_back();
        return;
    }

    case TokTd:
    case TokTD: {
        if (stack_.size() < 2) unexpected_token(op);
        if (top().kind != TokNumber || top(1).kind != TokNumber) {
            if (t.kind == TokTD) unexpected_token(op);
            unexpected_param(op);
        }
        const double ty = parse_real(top().bytes);
        const double tx = parse_real(top(1).bytes);
        stack_.pop_back();
        stack_.pop_back();
        if (t.kind == TokTD) TL_ = -ty; // the leading that T* moves down by
        x_ = fin(x_ + tx * (Tz_ * 0.01) * a_);
        y_ = fin(y_ + ty * d_);
        line_advance_ = 0;
        return;
    }

    case TokTm:
    case Tokcm: {
        if (stack_.size() != 6) unexpected_token(op);
        const bool tm = t.kind == TokTm;
        // Tm checks a, d, e, f; cm checks c, d, e, f.
        const std::size_t checked[] = {tm ? 0u : 2u, 3, 4, 5};
        for (std::size_t i : checked)
            if (stack_[i].kind != TokNumber)
                unexpected_param(stack_[5].bytes + " " + stack_[4].bytes);
        double v[6];
        for (std::size_t i = 0; i < 6; ++i)
            v[i] = parse_real(stack_[i].bytes);
        stack_.clear();
        if (tm) {
            y_ = fin(v[5] + ctm_[1]);
            x_ = fin(v[4] + ctm_[0]);
            d_ = v[3];
            a_ = v[0];
            line_advance_ = 0;
        } else {
            ctm_[0] = fin(ctm_[0] + v[4]);
            ctm_[1] = fin(ctm_[1] + v[5]);
            ctm_[2] = v[0]; // a
            ctm_[5] = v[1]; // b
            ctm_[4] = v[2]; // c
            ctm_[3] = v[3]; // d
        }
        return;
    }

    case TokTstar:
        if (!stack_.empty()) unexpected_token(op);
        y_ = fin(y_ - d_ * TL_);
        line_advance_ = 0;
        return;

    case TokQSave:
        if (saved_.size() >= max_saved_states) saved_.pop_front();
        saved_.push_back(ctm_);
        return;
    case TokQRestore:
        // An unbalanced Q keeps the current transformation.
        if (!saved_.empty()) {
            ctm_ = saved_.back();
            saved_.pop_back();
        }
        return;

    case TokBT:
        x_ = ctm_[0];
        y_ = ctm_[1];
        a_ = ctm_[2];
        d_ = ctm_[3];
        line_advance_ = 0;
        return;
    case TokET:
        reset_text_state();
        return;

    case TokTj:
    case TokQuote: {
        if (stack_.size() != 1) unexpected_token(op);
        if (top().kind != TokString) unexpected_param(top().bytes);
        if (t.kind == TokQuote) {
            y_ = fin(y_ - d_ * TL_);
            line_advance_ = 0;
        }
        shown_x_ = fin(x_ + line_advance_);
        text_ = show(top().bytes, last_width_);
        stack_.pop_back();
        line_advance_ = fin(line_advance_ + last_width_);
        found_ = true;
        return;
    }
    case TokDoubleQuote: {
        if (stack_.size() != 3) unexpected_token(op);
        if (top().kind != TokString || top(1).kind != TokNumber || top(2).kind != TokNumber)
            unexpected_param("\"");
        Tw_ = parse_real(stack_[0].bytes);
        Tc_ = parse_real(stack_[1].bytes);
        y_ = fin(y_ - d_ * TL_);
        line_advance_ = 0;
        shown_x_ = x_;
        text_ = show(top().bytes, last_width_);
        stack_.clear();
        line_advance_ = fin(line_advance_ + last_width_);
        found_ = true;
        return;
    }
    case TokTJ: {
        if (stack_.empty() || top().kind != TokArrayClose) unexpected_token(op);
        stack_.pop_back();
        text_.clear();
        shown_x_ = fin(x_ + line_advance_);
        const double size = fin(Tfs_ * a_);
        // The array is popped from its end: collect the pieces, then join them in order.
        std::vector<std::string> pieces;
        while (!stack_.empty()) {
            const Operand& o = stack_.back();
            if (o.kind == TokString) {
                double advance = 0;
                pieces.push_back(show(o.bytes, advance));
                last_width_ = fin(last_width_ + advance);
            } else if (o.kind == TokNumber) {
                const double adjust = parse_real(o.bytes);
                last_width_ = fin(last_width_ - size * adjust * 0.001);
                if (adjust <= -150) pieces.emplace_back(" ");
            } else if (o.kind != TokArrayOpen) {
                unexpected_param(o.bytes);
            }
            stack_.pop_back();
        }
        for (auto it = pieces.rbegin(); it != pieces.rend(); ++it)
            text_ += *it;
        last_size_ = size;
        font_.size = size;
        line_advance_ = fin(line_advance_ + last_width_);
        found_ = true;
        return;
    }

    case TokBI:
    case TokID:
        skip_to("EI", false);
        clear_operands();
        return;

    default:
        clear_operands();
        return;
    }
}

TextSnapshot ContentInterpreter::step() {
    TextSnapshot s;
    s.x = shown_x_;
    s.y = y_;
    s.width = last_width_;
    s.size = last_size_;
    s.TL = TL_;
    s.Tc = Tc_;
    s.Tw = Tw_;
    s.Tz = Tz_;
    s.a = a_;
    s.d = d_;
    s.font = font_;
    s.text = text_;

    last_width_ = 0;
    last_size_ = 0;
    found_ = false;
    skip_white();
    while (!found_ && pos_ < in_.size()) {
        Token t = next_token();
        const int kind = t.kind;
        if (kind == TokString || kind == TokName || kind == TokNumber || kind == TokArrayOpen ||
            kind == TokArrayClose)
            push_operand(std::move(t));
        else
            execute(t);
        skip_white();
    }
    return s;
}

} // namespace PdfParser
