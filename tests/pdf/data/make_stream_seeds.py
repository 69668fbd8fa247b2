#!/usr/bin/env python3
"""Writes the cross-reference-stream seeds of core_nasty/ and doc_corpus/: files whose
sections are cross-reference streams (plain, hybrid, predictor-coded, looping /Prev) and
whose objects live in object streams, some of them broken on purpose."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def row(kind, f2, f3):
    return struct.pack(">BIH", kind, f2, f3)


def png_up(data, columns):
    out, prev = b"", bytes(columns)
    for i in range(0, len(data), columns):
        cur = data[i:i + columns]
        out += b"\x02" + bytes((c - p) & 0xFF for c, p in zip(cur, prev))
        prev = cur
    return out


def build(bodies, packed, hybrid=False, predictor=False, prev_self=False, objstm_extra=b"",
          n_override=None, compress_objstm=True):
    n = len(bodies)
    objstm, xref_no = n + 1, n + 2
    out = b"%PDF-1.5\n"
    offsets, index, header, data = {}, {}, b"", b""
    for k in range(1, n + 1):
        body = bodies[k - 1]
        if k in packed:
            header += b"%d %d " % (k, len(data))
            data += body + b"\n"
            index[k] = len(index)
        else:
            offsets[k] = len(out)
            out += b"%d 0 obj\n" % k + body + b"\nendobj\n"
    if packed:
        offsets[objstm] = len(out)
        content = header + data
        filt = b""
        if compress_objstm:
            content = zlib.compress(content)
            filt = b" /Filter /FlateDecode"
        out += (b"%d 0 obj\n<< /Type /ObjStm /N %d /First %d /Length %d%s%s >>\nstream\n"
                % (objstm, n_override or len(index), len(header), len(content), filt,
                   objstm_extra) + content + b"\nendstream\nendobj\n")
    xref_at = len(out)
    rows = row(0, 0, 65535)
    for k in range(1, xref_no + 1):
        if k in packed:
            rows += row(2, objstm, index[k])
        elif k == xref_no:
            rows += row(1, xref_at, 0)
        elif k in offsets:
            rows += row(1, offsets[k], 0)
        else:
            rows += row(0, 0, 0)
    extra = b""
    if predictor:
        rows = zlib.compress(png_up(rows, 7))
        extra = b" /Filter /FlateDecode /DecodeParms << /Columns 7 /Predictor 12 >>"
    if prev_self:
        extra += b" /Prev %d" % xref_at
    size = xref_no + 1
    root = b"" if hybrid else b" /Root 1 0 R /Info 3 0 R"
    out += (b"%d 0 obj\n<< /Type /XRef /Size %d /W [1 4 2] /Length %d%s%s >>\nstream\n"
            % (xref_no, size, len(rows), root, extra) + rows + b"\nendstream\nendobj\n")
    if not hybrid:
        return out + b"startxref\n%d\n%%%%EOF\n" % xref_at
    table = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % size
    for k in range(1, xref_no + 1):
        if k in offsets and k != objstm:
            out += b"%010d 00000 n \n" % offsets[k]
        else:
            out += b"0000000000 00000 f \n"
    return out + (b"trailer\n<< /Size %d /Root 1 0 R /Info 3 0 R /XRefStm %d >>\nstartxref\n%d\n"
                  b"%%%%EOF\n" % (size, xref_at, table))


CONTENT = b"BT /F1 12 Tf 72 700 Td (streams) Tj ET"
BODIES = [
    b"<< /Type /Catalog /Pages 2 0 R >>",
    b"<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
    b"<< /Title (Packed) >>",
    b"<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 5 0 R >> >> /Contents 6 0 R >>",
    b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    b"<< /Length %d >>\nstream\n" % len(CONTENT) + CONTENT + b"\nendstream",
]
PACKED = {1, 2, 3, 4, 5}

SEEDS = {
    "xrefstm_plain.pdf": build(BODIES, PACKED),
    "xrefstm_hybrid.pdf": build(BODIES, PACKED, hybrid=True),
    "xrefstm_png_up.pdf": build(BODIES, PACKED, predictor=True),
    "xrefstm_prev_self.pdf": build(BODIES, PACKED, prev_self=True),
    "objstm_count_lies.pdf": build(BODIES, PACKED, n_override=999999),
    "objstm_bad_predictor.pdf": build(BODIES, PACKED,
                                      objstm_extra=b" /DecodeParms << /Predictor 12 /Columns 99999999 >>"),
    "objstm_plain_text.pdf": build(BODIES, PACKED, compress_objstm=False),
}

for folder in ("core_nasty", "doc_corpus"):
    for name, data in SEEDS.items():
        with open(os.path.join(HERE, folder, name), "wb") as f:
            f.write(data)
