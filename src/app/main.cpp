#include <cstdio>

int main() {
    std::printf("Vistrel %s\n", VISTREL_VERSION_TEXT);
    return 0;
}
