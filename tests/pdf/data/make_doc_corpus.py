#!/usr/bin/env python3
"""Writes doc_corpus/: small hostile PDF documents for the replay test and the fuzz seeds."""
import os
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "doc_corpus")


def pdf(objects, trailer=""):
    out = b"%PDF-1.4\n"
    offsets = []
    for i, o in enumerate(objects):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % (i + 1) + o + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for o in offsets:
        out += b"%010d 00000 n \n" % o
    out += b"trailer\n<< /Size %d /Root 1 0 R %s >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, trailer.encode(), xref)
    return out


def stream(data, extra=b""):
    return b"<< /Length %d %s >>\nstream\n" % (len(data), extra) + data + b"\nendstream"


def one_page(content, font=b"<< /Type /Font /BaseFont /Helvetica >>", compress=False):
    extra = b""
    if compress:
        content = zlib.compress(content)
        extra = b"/Filter /FlateDecode"
    return pdf([b"<< /Type /Catalog /Pages 2 0 R >>",
                b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                b"<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>",
                font, stream(content, extra)])


def main():
    os.makedirs(OUT, exist_ok=True)
    files = {
        "unbalanced_q.pdf": one_page(b"Q Q Q q q BT /F1 12 Tf (a) Tj ET Q Q Q Q " + b"q " * 5000),
        "unbalanced_bt.pdf": one_page(b"ET ET BT BT /F1 12 Tf (x) Tj BT (y) Tj ET ET ET (z) Tj"),
        "huge_operands.pdf": one_page(b"BT " + b"1 " * 200000 + b"/F1 9 Tf [" + b"(w) -200 " * 20000 + b"] TJ ET",
                                      compress=True),
        "missing_font.pdf": one_page(b"BT /F9 12 Tf (nobody) Tj /F1 12 Tf (somebody) Tj ET"),
        "free_font.pdf": pdf([b"<< /Type /Catalog /Pages 2 0 R >>",
                              b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                              b"<< /Type /Page /Resources << /Font << /F1 90 0 R >> >> /Contents 4 0 R >>",
                              stream(b"BT /F1 12 Tf (t) Tj ET")]),
        "cycle_tree.pdf": pdf([b"<< /Type /Catalog /Pages 2 0 R >>",
                               b"<< /Type /Pages /Kids [3 0 R 2 0 R] /Count 2 >>",
                               b"<< /Type /Pages /Kids [2 0 R 3 0 R 4 0 R] /Count 3 >>",
                               b"<< /Type /Page /Contents 5 0 R >>",
                               stream(b"BT (loop) Tj ET")]),
        "bad_numbers.pdf": one_page(b"BT /F1 99999999999999999999999999999999999999999999999999999999"
                                    b"99999999999999999999999999999999999999999999999999999999999999"
                                    b"99999999999999999999999999999999999999999999999999999999999999"
                                    b"99999999999999999999999999999999999999999999999999999999999999"
                                    b"99999999999999999999999999999999999999999999999999999999999999"
                                    b"9999999999999 Tf 0 0 0 0 0 0 Tm 1e5 Tz -0 Ts 9999999999999 Tr (nan) Tj ET"),
        "inline_image.pdf": one_page(b"BI /W 4 /H 4 /BPC 8 ID \x00\x01EJ\xffE" + b"\x00" * 64 + b" EI BT /F1 9 Tf (after) Tj ET"),
        "differences_loop.pdf": one_page(b"BT /F1 12 Tf (abc) Tj ET",
                                         font=b"<< /Type /Font /Encoding << /Differences [1 /a 2 xx yy /b 300 /c] >> >>"),
        "widths_garbage.pdf": one_page(b"BT /F1 12 Tf (abc) Tj ET",
                                       font=b"<< /Type /Font /FirstChar 4000000000 /LastChar 99999999999 "
                                            b"/Widths [1e400 -1e400 nan inf .5 ] /FontDescriptor 3 0 R >>"),
        "kids_out_of_range.pdf": pdf([b"<< /Type /Catalog /Pages 2 0 R >>",
                                      b"<< /Type /Pages /Kids [4000000000 0 R] /Count 1 >>"]),
        "contents_array_self.pdf": pdf([b"<< /Type /Catalog /Pages 2 0 R >>",
                                        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                        b"<< /Type /Page /Contents [3 0 R 3 0 R 4 0 R] >>",
                                        stream(b"BT (s) Tj ET")]),
        "info_utf16.pdf": pdf([b"<< /Type /Catalog /Pages 2 0 R >>",
                               b"<< /Type /Pages /Kids [] /Count 0 >>",
                               b"<< /Title <FEFFD800> /Author (\\377\\376a) /Subject <FEFF00> >>"],
                              "/Info 3 0 R"),
    }
    # A deep chain of page-tree nodes.
    deep = [b"<< /Type /Catalog /Pages 2 0 R >>"]
    for i in range(2, 3000):
        deep.append(b"<< /Type /Pages /Kids [%d 0 R] /Count 1 >>" % (i + 1))
    deep.append(b"<< /Type /Page /Contents %d 0 R >>" % (len(deep) + 2))
    deep.append(stream(b"BT (deep) Tj ET"))
    files["deep_tree.pdf"] = pdf(deep)
    for name, data in files.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
