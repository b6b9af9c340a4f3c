// assetgen OUTDIR: writes the default data set (the hero model, its textures and the terrain
// images) into OUTDIR, the same bytes on every run.
#include "dataset.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || argv[1][0] == '\0') {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "usage: assetgen OUTDIR\n"
                     "Writes model/hero.X, its textures and the terrain images into OUTDIR.\n");
        return argc == 2 && argv[1][0] != '\0' ? 0 : 2;
    }
    return assetgen::writeDataSet(argv[1]) ? 0 : 1;
}
