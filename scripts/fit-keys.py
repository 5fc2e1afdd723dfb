#!/usr/bin/env python3
"""Turns the public keys of a U-Boot control device tree into the program's
constant key table: the /signature/key-NAME nodes that `mkimage -K ... -r`
writes, with their required markings and /signature/required-mode.
  fit-keys.py [--symbol NAME] [CONTROL.dtb] OUT.cpp
Without CONTROL.dtb the table is empty: the program then checks no
signatures. Fails, with a line saying why, on a tree without keys required
for configurations, or with a key that the program cannot verify with."""
import struct
import sys

args = sys.argv[1:]
symbol = "built_in_fit_keys"
if args[:1] == ["--symbol"]:
    symbol, args = args[1], args[2:]
dtb, out = (args[0], args[1]) if len(args) == 2 else (None, args[0])
CHECKSUMS = ("sha1", "sha256")
CRYPTOS = {"rsa2048": 2048, "rsa3072": 3072, "rsa4096": 4096}


def fail(why):
    sys.exit("%s: %s" % (dtb, why))


def read_tree(data):
    """{path: {property: value}} of a flattened device tree."""
    magic, _, off_struct, off_strings = struct.unpack_from(">4I", data)
    if magic != 0xD00DFEED:
        fail("not a device tree blob")
    nodes, path, at = {}, [], off_struct
    while True:
        (tag,) = struct.unpack_from(">I", data, at)
        at += 4
        if tag == 1:
            end = data.index(b"\0", at)
            path.append(data[at:end].decode())
            nodes["/" + "/".join(path[1:])] = {}
            at = (end + 4) & ~3
        elif tag == 2:
            path.pop()
        elif tag == 3:
            length, name_at = struct.unpack_from(">2I", data, at)
            name_at += off_strings
            name = data[name_at : data.index(b"\0", name_at)].decode()
            nodes["/" + "/".join(path[1:])][name] = data[at + 8 : at + 8 + length]
            at = (at + 8 + length + 3) & ~3
        elif tag == 9:
            return nodes
        elif tag != 4:
            fail("its structure holds an unknown token")


def text(value):
    return value.rstrip(b"\0").decode()


def words(number, count):
    """Little-endian 32-bit words, as the verifier computes with them."""
    return ", ".join("0x%08x" % ((number >> (32 * i)) & 0xFFFFFFFF) for i in range(count))


keys, mode = [], "all"
if dtb:
    tree = read_tree(open(dtb, "rb").read())
    mode = text(tree.get("/signature", {}).get("required-mode", b"all\0"))
    for path, props in sorted(tree.items()):
        if not path.startswith("/signature/key-") or path.count("/") != 2:
            continue
        name = path[len("/signature/key-") :]
        required = text(props.get("required", b""))
        if required == "image":
            fail("key '%s' is required for images: only keys required for configurations are taken" % name)
        if required != "conf":
            continue
        algo = text(props.get("algo", b""))
        checksum, _, crypto = algo.partition(",")
        if checksum not in CHECKSUMS or crypto not in CRYPTOS:
            fail("key '%s' has the algorithm '%s': only sha1 or sha256 with rsa2048, rsa3072 or rsa4096" % (name, algo))
        for prop in ("rsa,num-bits", "rsa,modulus", "rsa,exponent"):
            if prop not in props:
                fail("key '%s' has no %s" % (name, prop))
        bits = struct.unpack(">I", props["rsa,num-bits"])[0]
        if bits != CRYPTOS[crypto]:
            fail("key '%s' has %d bits, its algorithm '%s' says otherwise" % (name, bits, algo))
        modulus = int.from_bytes(props["rsa,modulus"], "big")
        exponent = int.from_bytes(props["rsa,exponent"], "big")
        if len(props["rsa,modulus"]) != bits // 8 or modulus >> (bits - 1) != 1 or modulus % 2 == 0:
            fail("key '%s' has a modulus that is not %d bits and odd" % (name, bits))
        if exponent < 3 or exponent % 2 == 0 or exponent >= 1 << 64:
            fail("key '%s' has an exponent that is not odd, at least 3 and below 2^64" % name)
        # What the bootloader takes from the tree, checked against the modulus.
        n0inv = (-pow(modulus, -1, 1 << 32)) % (1 << 32)
        rr = pow(2, 2 * bits, modulus)
        if "rsa,n0-inverse" in props and struct.unpack(">I", props["rsa,n0-inverse"])[0] != n0inv:
            fail("key '%s' has an rsa,n0-inverse that does not fit its modulus" % name)
        if "rsa,r-squared" in props and int.from_bytes(props["rsa,r-squared"], "big") != rr:
            fail("key '%s' has an rsa,r-squared that does not fit its modulus" % name)
        keys.append((name, algo, bits, n0inv, exponent, modulus))
    if not keys:
        fail("no key under /signature is required for configurations (required = \"conf\")")
    if mode not in ("all", "any"):
        fail("its /signature/required-mode is '%s', not 'all' or 'any'" % mode)

with open(out, "w") as f:
    f.write("// Made by scripts/fit-keys.py from %s.\n" % (dtb or "no control tree"))
    f.write('#include "image/fit_keys.h"\n\nnamespace {\n\n')
    for i, (name, algo, bits, n0inv, exponent, modulus) in enumerate(keys):
        f.write("constexpr uint32_t modulus_%d[] = {%s};\n" % (i, words(modulus, bits // 32)))
    f.write("constexpr FitKey keys[] = {\n")
    for i, (name, algo, bits, n0inv, exponent, modulus) in enumerate(keys):
        f.write('    {"%s", "%s", %d, 0x%08xU, 0x%xULL, modulus_%d},\n' % (name, algo, bits, n0inv, exponent, i))
    if not keys:
        f.write("    {nullptr, nullptr, 0, 0, 0, nullptr},\n")
    f.write("};\n\n} // namespace\n\n")
    f.write("extern const FitKeys %s;\n" % symbol)
    f.write("const FitKeys %s = {keys, %d, %s};\n" % (symbol, len(keys), "true" if mode == "any" else "false"))
