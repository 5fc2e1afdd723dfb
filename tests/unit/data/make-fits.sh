#!/bin/bash
# Makes the FIT images of the image-check tests with Debian's mkimage
# (u-boot-tools) and dtc: one image with its data inside the tree, one with
# it after the tree (-E, data-offset), one at given positions (-E -p,
# data-position), each with a kernel (sha256 and md5 hashes) and a ramdisk
# (crc32 and sha1); and one without hash nodes. The payloads are the
# decimal numbers from 1 on, one a line, cut to 3000 and 1500 bytes (the
# ramdisk's numbers start at 5000), so that the tests can find them.
# Then good FITs of other kinds (md5 or sha1 only, no hashes with -E) and
# broken ones: each a small edit of a good one (fit-edit.py), named
# broken-*.itb, each with one fault that the bootloader refuses.
# Last the signed FITs (signed-*.itb, each configuration signed or not as
# its name says) with the test keys of keys/ (made once with openssl), the
# control tree that holds the keys dev, dev4096 and devsha1 as required
# (control.dtb, as mkimage -K -r writes it) and openssl's signatures of
# message.txt for the verifier's own tests.
#   tests/unit/data/make-fits.sh   (run in this directory)
set -euo pipefail
export SOURCE_DATE_EPOCH=1765000000 # the same bytes at every run
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seq 1 1000 >"$work/kernel.bin"
seq 5000 5500 >"$work/ramdisk.bin"
truncate -s 3000 "$work/kernel.bin"
truncate -s 1500 "$work/ramdisk.bin"
its() {
    cat <<ITS
/dts-v1/;
/ {
    description = "image-check test";
    #address-cells = <1>;
    images {
        kernel {
            data = /incbin/("$work/kernel.bin");
            type = "kernel"; arch = "arm64"; os = "linux"; compression = "none";
            load = <0x40400000>; entry = <0x40400000>;
            $1
        };
        ramdisk {
            data = /incbin/("$work/ramdisk.bin");
            type = "ramdisk"; arch = "arm64"; os = "linux"; compression = "none";
            $2
        };
    };
    configurations {
        default = "conf";
        conf { kernel = "kernel"; ramdisk = "ramdisk"; ${3:-} };
        ${4:-}
    };
};
ITS
}
its 'hash-1 { algo = "sha256"; }; hash-2 { algo = "md5"; };' \
    'hash-1 { algo = "crc32"; }; hash-2 { algo = "sha1"; };' >"$work/hashed.its"
its "" "" >"$work/nohash.its"
mkimage -f "$work/hashed.its" fit-inside.itb >/dev/null
mkimage -E -f "$work/hashed.its" fit-external.itb >/dev/null
mkimage -E -p 0x1000 -f "$work/hashed.its" fit-position.itb >/dev/null
mkimage -f "$work/nohash.its" fit-nohash.itb >/dev/null
its 'hash { algo = "md5"; };' 'hash { algo = "md5"; };' >"$work/md5.its"
mkimage -E -f "$work/md5.its" fit-md5-external.itb >/dev/null
its 'hash { algo = "sha1"; };' "" >"$work/sha1.its"
mkimage -f "$work/sha1.its" fit-sha1.itb >/dev/null
mkimage -E -f "$work/nohash.its" fit-nohash-external.itb >/dev/null
nine=""
for i in 1 2 3 4 5 6 7 8 9; do nine+="hash-$i { algo = \"crc32\"; }; "; done
its "$nine" "" >"$work/nine.its"
mkimage -f "$work/nine.its" broken-nine-hashes.itb >/dev/null

edit() { python3 "$(dirname "$0")/fit-edit.py" "$@"; }
head -c -100 fit-nohash-external.itb >broken-nohash-external-cut.itb
head -c -100 fit-md5-external.itb >broken-md5-external-cut.itb
edit fit-inside.itb broken-early-end.itb flip /images/ramdisk data 100 token /images/ramdisk 9
edit fit-inside.itb broken-root-end.itb token / 9
edit fit-inside.itb broken-never-began.itb token / 2
edit fit-inside.itb broken-images-renamed.itb replace images imagas
edit fit-inside.itb broken-algo-renamed.itb replace algo alga
edit fit-inside.itb broken-description-renamed.itb replace description descriptiom
edit fit-inside.itb broken-timestamp-renamed.itb replace timestamp timestamq
edit fit-inside.itb broken-default-missing.itb value /configurations default conq
edit fit-inside.itb broken-image-missing.itb value /configurations/conf ramdisk ramdisc
edit fit-inside.itb broken-value-short.itb shorten /images/kernel/hash-1 value
edit fit-inside.itb broken-value-flipped.itb flip /images/kernel/hash-1 value 20
edit fit-sha1.itb broken-sha1-data.itb flip /images/kernel data 100
edit fit-inside.itb broken-data-twice.itb twice /images/ramdisk data
edit fit-inside.itb broken-value-twice.itb twice /images/kernel/hash-1 value
edit fit-inside.itb broken-value-after-subnode.itb after-subnode /images/kernel/hash-1 value
edit fit-inside.itb broken-unit-address.itb replace hash-1 hash@1
edit fit-inside.itb broken-second-root.itb second-root
edit fit-inside.itb broken-end-not-last.itb end-not-last

# Signed FITs. The key other is not in the control tree.
mkdir -p keys
for key in dev:2048 dev4096:4096 devsha1:2048 other:2048; do
    name=${key%:*}
    [ -f "keys/$name.key" ] && continue
    openssl genpkey -algorithm RSA -out "keys/$name.key" -pkeyopt "rsa_keygen_bits:${key#*:}" 2>/dev/null
    openssl req -batch -new -x509 -key "keys/$name.key" -out "keys/$name.crt" -subj "/CN=$name"
done
signature() { # NAME ALGO KEY [SIGN-IMAGES]
    echo "$1 { algo = \"$2\"; key-name-hint = \"$3\"; sign-images = ${4:-\"kernel\", \"ramdisk\"}; };"
}
hashes='hash-1 { algo = "sha256"; };'
dtc -I dts -O dtb -o control.dtb - <<<'/dts-v1/; / { };' 2>/dev/null
signed() { # OUT CONF-SIGNATURES [ANOTHER-CONFIGURATION]
    its "$hashes" "$hashes" "$2" "${3:-}" >"$work/signed.its"
    mkimage -f "$work/signed.its" -k keys -K control.dtb -r "$1" >/dev/null
}
signed signed-2048.itb "$(signature signature sha256,rsa2048 dev)"
signed signed-4096.itb "$(signature signature sha256,rsa4096 dev4096)"
signed signed-sha1.itb "$(signature signature sha1,rsa2048 devsha1)"
signed signed-both.itb "$(signature signature-1 sha256,rsa2048 dev) $(signature signature-2 sha256,rsa4096 dev4096)"
signed signed-one-of-two.itb "$(signature signature sha256,rsa2048 dev)" \
    'other { kernel = "kernel"; ramdisk = "ramdisk"; };'
signed signed-without-kernel.itb "$(signature signature sha256,rsa2048 dev '"ramdisk"')"
signed signed-pss.itb "$(signature signature sha256,rsa2048 dev | sed 's/; };/; padding = "pss"; };/')"
# Signed by a key that the control tree does not hold.
its "$hashes" "$hashes" "$(signature signature sha256,rsa2048 other)" >"$work/signed.its"
mkimage -f "$work/signed.its" -k keys signed-other.itb >/dev/null
# Key dev's RSA key with sha1, which the control tree does not pair with it.
its "$hashes" "$hashes" "$(signature signature sha1,rsa2048 dev)" >"$work/signed.its"
mkimage -f "$work/signed.its" -k keys signed-sha1-by-dev.itb >/dev/null
edit signed-2048.itb signed-load-changed.itb flip /images/kernel load 3
edit signed-2048.itb signed-kernel-swapped.itb flip /images/kernel data 100 rehash /images/kernel/hash-1
edit signed-2048.itb signed-value-flipped.itb flip /configurations/conf/signature value 10
# The verifier's own vectors.
printf 'reflasher test message\n' >message.txt
for key in dev dev4096; do openssl dgst -sha256 -sign "keys/$key.key" -out "message.$key.sig" message.txt; done
openssl dgst -sha1 -sign keys/devsha1.key -out message.devsha1.sig message.txt
# A control tree with the 4096-bit key alone: the release sizes are
# measured with it built in.
dtc -I dts -O dtb -o control-4096.dtb - <<<'/dts-v1/; / { };' 2>/dev/null
its "$hashes" "$hashes" "$(signature signature sha256,rsa4096 dev4096)" >"$work/signed.its"
mkimage -f "$work/signed.its" -k keys -K control-4096.dtb -r "$work/4096.itb" >/dev/null
# Control trees the key table refuses: no keys, a key it cannot verify with.
dtc -I dts -O dtb -o control-empty.dtb - <<<'/dts-v1/; / { };' 2>/dev/null
cp control.dtb control-ecdsa.dtb
fdtput -t s control-ecdsa.dtb /signature/key-dev algo sha256,ecdsa256
