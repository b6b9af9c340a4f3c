#include "dataset.h"

#include "dxt.h"
#include "hero.h"
#include "terrain.h"
#include "textures.h"
#include "xfile.h"

namespace assetgen {

std::vector<std::string> dataSetFiles() {
    return {"model/hero.X",          kBodyTexture,          kHighlightTexture,   kBoundTexture,
            "terrain_heightmap.png", "terrain_texture.dds", "terrain_detail.dds"};
}

bool writeDataSet(const std::string& folder) {
    auto path = [&](const std::string& name) { return folder + "/" + name; };
    bool ok = writeFile(path("model/hero.X"), writeXFile(buildHero()));
    ok = writeFile(path(kBodyTexture), encodeBmp(makeBodyTexture())) && ok;
    ok = writeFile(path(kHighlightTexture), encodeBmp(makeHighlightTexture())) && ok;
    ok = writeFile(path(kBoundTexture), encodeBmp(makeBoundTexture())) && ok;
    const TerrainShape terrain;
    ok = writeFile(path("terrain_heightmap.png"), encodePngGrey(makeHeightmap(terrain))) && ok;
    ok = writeFile(path("terrain_texture.dds"), encodeDdsDxt1(makeTerrainTexture(terrain))) && ok;
    ok = writeFile(path("terrain_detail.dds"), encodeDdsDxt1(makeDetailTexture())) && ok;
    return ok;
}

} // namespace assetgen
