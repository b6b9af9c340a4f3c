// A generated data set in a temporary folder, and helpers to shape its terrain.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace scenekit {

// The default data set, generated once per test program; empty path when the generator
// is not part of this build.
const std::filesystem::path& DefaultDataSet();

// A fresh copy of the default data set whose heightmap (1024 x 1024 grey) has, at each
// world point (x, z) of the 3000-unit terrain, the byte that heightAt gives.
std::filesystem::path
DataSetWithHeightmap(const std::string& name,
                     const std::function<uint8_t(float x, float z)>& heightAt);

// Runs a shell command and returns its exit status (-1 when it did not exit).
int Run(const std::string& command);

} // namespace scenekit
