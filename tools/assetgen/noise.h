// Deterministic noise: integer hashing only, so every run and every machine produces the
// same values (no library random engines or distributions, whose output is not portable).
#pragma once

#include <cstdint>

namespace assetgen {

uint32_t hash3(int32_t x, int32_t y, uint32_t seed);

// Hash mapped to [0, 1).
float hashUnit(int32_t x, int32_t y, uint32_t seed);

// Smooth value noise in [-1, 1] at lattice scale 1. With period > 0 the lattice wraps every
// `period` cells in both directions, so an image built from it tiles seamlessly.
float valueNoise(float x, float y, uint32_t seed, int period = 0);

// Sum of `octaves` noise layers, each twice the frequency and `gain` times the amplitude of the
// one before; normalised to about [-1, 1]. The period doubles with the frequency.
float fbm(float x, float y, uint32_t seed, int octaves, float gain = 0.5f, int period = 0);

} // namespace assetgen
