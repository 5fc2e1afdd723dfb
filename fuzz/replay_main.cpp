// Runs a fuzz target once over every file named on the command line (or
// found in the directories named there): the committed corpus and every
// crash input ever found, as ordinary regression tests.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

int run_file(const std::string &path) {
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        perror(path.c_str());
        return 1;
    }
    std::vector<uint8_t> data;
    int c;
    while ((c = fgetc(f)) != EOF)
        data.push_back(static_cast<uint8_t>(c));
    fclose(f);
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    int failures = 0;
    int runs = 0;
    for (int i = 1; i < argc; i++) {
        struct stat st {};
        if (stat(argv[i], &st) != 0) {
            perror(argv[i]);
            return 1;
        }
        if (!S_ISDIR(st.st_mode)) {
            failures += run_file(argv[i]);
            runs++;
            continue;
        }
        DIR *dir = opendir(argv[i]);
        while (dirent *e = readdir(dir)) {
            if (e->d_name[0] == '.')
                continue;
            failures += run_file(std::string(argv[i]) + "/" + e->d_name);
            runs++;
        }
        closedir(dir);
    }
    fprintf(stdout, "%d inputs replayed, %d unreadable\n", runs, failures);
    return failures == 0 ? 0 : 1;
}
