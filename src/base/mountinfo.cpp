#include "base/mountinfo.h"

#include "base/paths.h"

#include <stdio.h>
#include <string.h>

namespace {

// The next space-separated field of a line, or null at its end.
const char *next_field(const char *&p, size_t *length) {
    while (*p == ' ')
        p++;
    if (*p == '\0' || *p == '\n')
        return nullptr;
    const char *start = p;
    while (*p != '\0' && *p != ' ' && *p != '\n')
        p++;
    *length = static_cast<size_t>(p - start);
    return start;
}

bool field_is(const char *field, size_t length, const char *text) {
    return length == strlen(text) && memcmp(field, text, length) == 0;
}

// Whether one mountinfo line is the mount at mount_point; if so its type
// goes to fstype. Fields: ID, parent ID, major:minor, root, mount point,
// options, optional fields up to "-", then the file-system type.
bool parse_line(const char *line, const char *mount_point, char *fstype, size_t size) {
    const char *p = line;
    size_t length = 0;
    const char *field = nullptr;
    for (int i = 0; i < 5; i++) {
        field = next_field(p, &length);
        if (field == nullptr)
            return false;
    }
    if (!field_is(field, length, mount_point))
        return false;
    while ((field = next_field(p, &length)) != nullptr) {
        if (!field_is(field, length, "-"))
            continue;
        field = next_field(p, &length);
        if (field == nullptr)
            return false;
        const size_t n = length < size - 1 ? length : size - 1;
        memcpy(fstype, field, n);
        fstype[n] = '\0';
        return true;
    }
    return false;
}

} // namespace

int find_mount_in(const char *mountinfo, const char *mount_point, char *fstype, size_t size) {
    FILE *file = fopen(mountinfo, "re");
    if (file == nullptr)
        return -1;
    int found = 0;
    char line[1024];
    bool at_line_start = true;
    while (fgets(line, sizeof line, file) != nullptr) {
        // Only the first piece of an overlong line holds its fields.
        const bool starts_line = at_line_start;
        at_line_start = strchr(line, '\n') != nullptr;
        if (starts_line && parse_line(line, mount_point, fstype, size))
            found = 1;
    }
    (void)fclose(file);
    return found;
}

bool root_is_initial_rootfs(const char *mountinfo) {
    char fstype[32];
    return find_mount_in(mountinfo, paths::root, fstype, sizeof fstype) == 1 && strcmp(fstype, "rootfs") == 0;
}
