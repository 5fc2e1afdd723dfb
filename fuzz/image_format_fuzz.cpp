// Fuzz target: the check of images that carry their own length or
// checksum, over arbitrary file contents. The first byte picks the
// partition's erase-block size (bit 3 set: unknown, 0; else 64 << bits
// 0-2) and, with bit 4 set, the test keys (tests/unit/data/control.dtb),
// so that FIT signatures are checked too; the rest is the image, written
// to a scratch file in the working directory. (Run it with -close_fd_mask=3: every broken image prints its
// line.)
#include "image/fit_keys.h"
#include "image/image_format.h"

#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

extern const FitKeys test_fit_keys;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    const int32_t erase_size = (data[0] & 8) != 0 ? 0 : 64 << (data[0] & 7);
    char path[64];
    snprintf(path, sizeof path, "image-format-fuzz.%d", static_cast<int>(getpid()));
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        abort();
    const size_t length = size - 1;
    if (write(fd, data + 1, length) != static_cast<ssize_t>(length))
        abort();
    close(fd);
    constexpr FitKeys no_keys = {nullptr, 0, false};
    bool signed_ok = false;
    const int rc = check_image_format_with(path, static_cast<long long>(length), erase_size,
                                           (data[0] & 16) != 0 ? test_fit_keys : no_keys, &signed_ok);
    unlink(path);
    if (rc != 0 && rc != -1)
        abort();
    return 0;
}
