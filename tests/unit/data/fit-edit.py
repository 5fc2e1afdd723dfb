#!/usr/bin/env python3
"""Small edits of a FIT (a flattened device tree with its data inside), for
the broken images of the image-check tests:
  fit-edit.py IN OUT EDIT...   with EDIT one of
    token PATH TAG              the node's begin token becomes TAG
    flip PATH PROP AT           one bit of the property's value at byte AT
    rehash PATH                 the sha256 hash node's value made anew from its image's data
    replace OLD NEW             the first zero-terminated OLD becomes NEW
    value PATH PROP TEXT        the property's value becomes the string TEXT
    shorten PATH PROP           the value 4 bytes shorter, a nop after it
    twice PATH PROP             a copy of the property, one bit flipped, before it
    after-subnode PATH PROP     an empty subnode before the property
    second-root                 a second root node after the first
    end-not-last                a nop after the end token
"""
import hashlib
import struct
import sys

data = bytearray(open(sys.argv[1], "rb").read())
words = lambda at, n: list(struct.unpack_from(">%dI" % n, data, at))
TOTAL, STRUCT, STRINGS, STRUCT_SIZE = 4, 8, 12, 36


def header(field, delta):
    struct.pack_into(">I", data, field, words(field, 1)[0] + delta)


def tokens():
    """(offset, end, tag, node path, property name) of every token."""
    at, path = words(STRUCT, 1)[0], []
    strings = words(STRINGS, 1)[0]
    while True:
        tag, end = words(at, 1)[0], at + 4
        name = None
        if tag == 1:
            zero = data.index(0, end)
            path.append(data[end:zero].decode())
            end = zero + 1
        elif tag == 3:
            length, name_at = words(end, 2)
            zero = data.index(0, strings + name_at)
            name = data[strings + name_at : zero].decode()
            end += 8 + length
        end = (end + 3) & ~3
        yield at, end, tag, "/" + "/".join(path[1:]), name
        if tag == 2:
            path.pop()
        if tag == 9:
            return
        at = end


def find(path, prop=None):
    for at, end, tag, p, name in tokens():
        if p == path and (tag == 1 if prop is None else name == prop):
            return at, end
    sys.exit("no %s %s" % (path, prop or ""))


def insert(at, blob):
    data[at:at] = blob
    header(TOTAL, len(blob))
    header(STRUCT_SIZE, len(blob))
    header(STRINGS, len(blob))


args = sys.argv[3:]
while args:
    edit = args.pop(0)
    if edit == "token":
        at, _ = find(args.pop(0))
        struct.pack_into(">I", data, at, int(args.pop(0)))
    elif edit == "flip":
        at, _ = find(args.pop(0), args.pop(0))
        data[at + 12 + int(args.pop(0))] ^= 1
    elif edit == "rehash":
        path = args.pop(0)
        at, _ = find(path.rsplit("/", 1)[0], "data")
        digest = hashlib.sha256(data[at + 12 : at + 12 + words(at + 4, 1)[0]]).digest()
        at, _ = find(path, "value")
        data[at + 12 : at + 44] = digest
    elif edit == "replace":
        old, new = (a.encode() + b"\0" for a in (args.pop(0), args.pop(0)))
        at = data.index(old)
        data[at : at + len(old)] = new
    elif edit == "value":
        at, end = find(args.pop(0), args.pop(0))
        text = args.pop(0).encode() + b"\0"
        assert words(at + 4, 1)[0] == len(text), "same length only"
        data[at + 12 : at + 12 + len(text)] = text
    elif edit == "shorten":
        at, end = find(args.pop(0), args.pop(0))
        length = words(at + 4, 1)[0]
        struct.pack_into(">I", data, at + 4, length - 4)
        struct.pack_into(">I", data, at + 12 + length - 4, 4)
    elif edit == "twice":
        at, end = find(args.pop(0), args.pop(0))
        copy = bytearray(data[at:end])
        copy[12 + 10] ^= 1
        insert(at, copy)
    elif edit == "after-subnode":
        at, _ = find(args.pop(0), args.pop(0))
        insert(at, struct.pack(">I4sI", 1, b"x", 2))
    elif edit == "second-root":
        at = [t[0] for t in tokens() if t[2] == 9][0]
        insert(at, struct.pack(">I4sI", 1, b"", 2))
    elif edit == "end-not-last":
        at = [t[0] for t in tokens() if t[2] == 9][0]
        insert(at + 4, struct.pack(">I", 4))
    else:
        sys.exit("unknown edit " + edit)
open(sys.argv[2], "wb").write(data)
