#include "base/mountinfo.h"

#include "base/paths.h"
#include "base/text.h"

#include <string.h>

namespace {

// Reads the next space-separated field of the current line into buf (cut
// to size - 1 characters, octal escapes undone). False at the end of the
// line or of the file; *line_end tells that the line is over, also after
// its last field.
bool read_field(LineReader &file, char *buf, size_t size, bool *line_end) {
    if (*line_end)
        return false;
    int c = lines_getc(file);
    while (c == ' ')
        c = lines_getc(file);
    size_t length = 0;
    for (; c != ' ' && c != '\n' && c >= 0; c = lines_getc(file)) {
        if (c == '\\') {
            c = 0;
            for (int i = 0; i < 3; i++)
                c = c * 8 + (lines_getc(file) & 7);
        }
        if (length + 1 < size)
            buf[length++] = static_cast<char>(c);
    }
    buf[length] = '\0';
    *line_end = c != ' ';
    return length > 0;
}

} // namespace

bool next_mount(LineReader &file, MountEntry *entry) {
    // Fields: ID, parent ID, major:minor, root, mount point, options,
    // optional fields up to "-", then type, source and super options.
    while (!file.ended) {
        *entry = MountEntry{};
        char field[mount_field_size];
        bool line_end = false;
        int after = -1; // fields read after the "-"
        for (int i = 0;; i++) {
            char *into = after == 0   ? entry->type
                         : after == 1 ? entry->source
                         : after == 2 ? entry->super
                         : i == 4     ? entry->point
                                      : field;
            if (!read_field(file, into, mount_field_size, &line_end))
                break;
            if (after >= 0) {
                after++;
            } else if (i == 0) {
                entry->id = static_cast<unsigned>(parse_atoi(field));
            } else if (i == 2) {
                entry->major = static_cast<unsigned>(parse_atoi(field));
                const char *colon = strchr(field, ':');
                entry->minor = colon != nullptr ? static_cast<unsigned>(parse_atoi(colon + 1)) : 0;
            } else if (i > 5 && strcmp(field, "-") == 0) {
                after = 0;
            }
        }
        if (after >= 2)
            return true;
    }
    return false;
}

int find_mount_in(const char *mountinfo, const char *mount_point, char *fstype, size_t size) {
    LineReader file{};
    if (lines_open(file, mountinfo) < 0)
        return -1;
    int found = 0;
    MountEntry entry;
    // Where several mounts are stacked, the last one listed is on top.
    while (next_mount(file, &entry)) {
        if (strcmp(entry.point, mount_point) == 0) {
            found = 1;
            (void)format_string(fstype, size, "%s", entry.type);
        }
    }
    lines_close(file);
    return found;
}

bool root_is_initial_rootfs(const char *mountinfo) {
    char fstype[32];
    return find_mount_in(mountinfo, paths::root, fstype, sizeof fstype) == 1 && strcmp(fstype, "rootfs") == 0;
}
