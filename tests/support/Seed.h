// The seed of a randomised test, so that a failure can be replayed.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <random>
#include <string>

#include <gtest/gtest.h>

// ULV_TEST_SEED when it is set, else `fallback`, else (when there is no
// fallback either) a fresh one. Recorded as the test's "seed" property and
// printed, so the failing run can be repeated with ULV_TEST_SEED=<seed>.
inline uint32_t testSeed(std::optional<uint32_t> fallback = std::nullopt) {
    uint32_t seed;
    if (const char* given = std::getenv("ULV_TEST_SEED"); given && *given) {
        seed = static_cast<uint32_t>(std::strtoul(given, nullptr, 0));
    } else {
        seed = fallback ? *fallback : std::random_device{}();
    }
    ::testing::Test::RecordProperty("seed", std::to_string(seed));
    std::cout << "[   SEED   ] " << seed << " (replay with ULV_TEST_SEED=" << seed << ")\n";
    return seed;
}
