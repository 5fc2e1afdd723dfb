#!/bin/bash
# Makes the FIT images of the image-check tests with Debian's mkimage
# (u-boot-tools) and dtc: one image with its data inside the tree, one with
# it after the tree (-E, data-offset), one at given positions (-E -p,
# data-position), each with a kernel (sha256 and md5 hashes) and a ramdisk
# (crc32 and sha1); and one without hash nodes. The payloads are the
# decimal numbers from 1 on, one a line, cut to 3000 and 1500 bytes (the
# ramdisk's numbers start at 5000), so that the tests can find them.
#   tests/unit/data/make-fits.sh   (run in this directory)
set -euo pipefail
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
        conf { kernel = "kernel"; ramdisk = "ramdisk"; };
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
