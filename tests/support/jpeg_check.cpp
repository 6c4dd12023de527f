// Prints every file named on the command line that is not a whole JPEG
// picture, and exits with 1 when there was one: the scripted tests use it to
// check what the real program left on disk.
#include "support/jpeg_reader.h"

#include <cstdio>

int main(int argc, char** argv) {
    int broken = 0;
    for (int i = 1; i < argc; ++i)
        if (!vistrel::test::Decodes_Fully(argv[i])) {
            std::printf("%s\n", argv[i]);
            ++broken;
        }
    return broken == 0 ? 0 : 1;
}
