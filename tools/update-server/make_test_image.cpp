// make-test-image SIZE VERSION OUT: writes a firmware image of SIZE bytes
// that the emulated wheel (and its boot loader) accepts and that carries
// VERSION ("\t" stands for the tab), for the demo's update server.
#include "test_image.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: make-test-image SIZE VERSION OUT\n");
        return 2;
    }
    const long size = std::strtol(argv[1], nullptr, 0);
    if (size <= 0) {
        std::fprintf(stderr, "make-test-image: bad size %s\n", argv[1]);
        return 2;
    }
    std::string version = argv[2];
    for (size_t at; (at = version.find("\\t")) != std::string::npos;)
        version.replace(at, 2, "\t");
    const std::vector<uint8_t> image = wheelemu::makeTestImage(size_t(size), version);
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(image.data()), std::streamsize(image.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make-test-image: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
