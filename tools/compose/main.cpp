// main.cpp: the composer program. Writes the soundtrack, "Zarq-Neat.xm", into the working
// directory or to the path given: compose [OUT.xm]
#include <cstdio>
#include <exception>
#include <fstream>

#include "song.h"

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: compose [OUT.xm]\n");
        return 2;
    }
    const char* path = argc == 2 ? argv[1] : "Zarq-Neat.xm";
    std::vector<uint8_t> bytes;
    try {
        bytes = compose::ComposeSong();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "compose: %s\n", error.what());
        return 1;
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "compose: cannot write %s\n", path);
        return 1;
    }
    std::printf("%s: %zu bytes\n", path, bytes.size());
    return 0;
}
