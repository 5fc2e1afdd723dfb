#include "base/mountinfo.h"
#include "base/lines.h"

#include "base/paths.h"
#include "base/text.h"

#include <stdio.h>
#include <string.h>

namespace {

// Reads the next space-separated field of the current line into buf (cut
// to size - 1 characters; the rest is read and dropped). Returns its whole
// length, or -1 at the end of the line or of the file. *line_end tells
// that the line is over, also after its last field.
long read_field(LineReader &file, char *buf, size_t size, bool *line_end) {
    if (*line_end)
        return -1;
    int c = lines_getc(file);
    while (c == ' ')
        c = lines_getc(file);
    if (c == '\n' || c < 0) {
        *line_end = true;
        return -1;
    }
    size_t length = 0;
    for (; c != ' ' && c != '\n' && c >= 0; c = lines_getc(file), length++) {
        if (length + 1 < size)
            buf[length] = static_cast<char>(c);
    }
    buf[length + 1 < size ? length : size - 1] = '\0';
    *line_end = c != ' ';
    return static_cast<long>(length);
}

// Reads one mountinfo line, however long; true when it is the mount at
// mount_point, its type then in fstype. Fields: ID, parent ID,
// major:minor, root, mount point, options, optional fields up to "-",
// then the file-system type.
bool read_line(LineReader &file, const char *mount_point, char *fstype, size_t size, bool *more) {
    char field[256];
    bool line_end = false;
    bool match = false;
    bool typed = false;
    long length = 0;
    for (int i = 0; !typed && (length = read_field(file, field, sizeof field, &line_end)) >= 0; i++) {
        if (i == 4)
            match = static_cast<size_t>(length) == strlen(mount_point) && strcmp(field, mount_point) == 0;
        typed = match && i > 5 && strcmp(field, "-") == 0 && read_field(file, fstype, size, &line_end) >= 0;
    }
    // Drop the rest of the line.
    int c = 0;
    while (!line_end && (c = lines_getc(file)) != '\n' && c >= 0) {
    }
    *more = c >= 0 && !file.ended;
    return match && typed;
}

} // namespace

int find_mount_in(const char *mountinfo, const char *mount_point, char *fstype, size_t size) {
    LineReader file{};
    if (lines_open(file, mountinfo) < 0)
        return -1;
    int found = 0;
    char type[64];
    bool more = true;
    while (more) {
        // Where several mounts are stacked, the last one listed is on top.
        if (read_line(file, mount_point, type, sizeof type, &more)) {
            found = 1;
            (void)format_string(fstype, size, "%s", type);
        }
    }
    lines_close(file);
    return found;
}

bool root_is_initial_rootfs(const char *mountinfo) {
    char fstype[32];
    return find_mount_in(mountinfo, paths::root, fstype, sizeof fstype) == 1 && strcmp(fstype, "rootfs") == 0;
}
