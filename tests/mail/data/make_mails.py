#!/usr/bin/env python3
"""Writes test messages made by Python's email package into the folder given as argument.

Usage: make_mails.py OUTDIR [PDF]   (PDF: a PDF file to attach to pdf.eml)
"""
import os
import sys
from email.message import EmailMessage
from email.policy import SMTP

out = sys.argv[1]
pdf = sys.argv[2] if len(sys.argv) > 2 else None


def save(name, msg):
    with open(os.path.join(out, name), "wb") as f:
        f.write(msg.as_bytes(policy=SMTP))


def message(subject, sender="Alice Example <alice@example.org>", to="Bob Builder <bob@example.net>"):
    m = EmailMessage()
    m["From"] = sender
    m["To"] = to
    m["Subject"] = subject
    return m


# A plain message; the long subject is folded onto continuation lines.
m = message("Quarterly numbers for the northern region are finally available for review today")
m.set_content("Hello Bob,\nthe quarterly numbers are attached.\n")
save("plain.eml", m)

# Alternative text and HTML parts, quoted-printable and base64.
m = message("Alternative bodies")
m.set_content("Plain variant with Grüße aus Köln\n", cte="quoted-printable")
m.add_alternative("<html><body><p>Html variant with <b>Straße</b></p></body></html>\n",
                  subtype="html", cte="base64")
save("alternative.eml", m)

# A message attached to a message.
inner = message("Inner subject words", sender="Carol <carol@example.com>", to="Dave <dave@example.com>")
inner.set_content("Inner body words\n")
m = message("Outer subject words")
m.set_content("Outer body words\n")
m.add_attachment(inner)
save("nested.eml", m)

# Attachments: an image (dropped), RTF as octet-stream (detected by content), RTF as text/rtf.
m = message("Attachments")
m.set_content("Main body words\n")
m.add_attachment(bytes(range(256)) * 4, maintype="image", subtype="png", filename="x.png")
m.add_attachment(b"{\\rtf1\\ansi {\\info{\\title Octet title}}Octet body words}",
                 maintype="application", subtype="octet-stream")
m.add_attachment("{\\rtf1\\ansi Rtf attachment words}", subtype="rtf", cte="base64")
save("attachments.eml", m)

# Single-byte charsets: ISO-8859-1 in 8bit and windows-1252 in quoted-printable.
m = message("Charsets")
m.set_content("Café Straße naïve\n", charset="iso-8859-1", cte="8bit")
m.add_attachment("Prix 5\u20ac déjà\n", subtype="plain", charset="windows-1252", cte="quoted-printable")
save("charsets.eml", m)

# An HTML mail with an inline image: multipart/related inside multipart/alternative.
m = message("Related parts")
m.set_content("Related plain words\n")
m.add_alternative("<html><body><p>Related html words</p><img src=\"cid:logo\"></body></html>\n",
                  subtype="html")
m.get_payload()[1].add_related(bytes(range(64)), maintype="image", subtype="png", cid="<logo>")
save("related.eml", m)

if pdf:
    m = message("Pdf attached")
    m.set_content("See the attached document\n")
    with open(pdf, "rb") as f:
        m.add_attachment(f.read(), maintype="application", subtype="pdf", filename="doc.pdf")
    save("pdf.eml", m)

# Non-ASCII header fields (written as RFC 2047 encoded words) in an mbox file with its "From "
# separator line, and a Japanese body in ISO-2022-JP.
import mailbox
m = message("Résumé of the Zürich meeting", sender="Jürgen Groß <jg@example.org>")
m.set_content("Mbox body words\n")
box = mailbox.mbox(os.path.join(out, "box.mbox"), create=True)
box.add(m)
box.flush()
box.close()
m = message("日本語の件名")
m.set_content("日本語の本文 mail\n", charset="iso-2022-jp", cte="7bit")
save("japanese.eml", m)
