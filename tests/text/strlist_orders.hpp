// Orders of n integers that the string list tests build and sort: sorted
// either way, organ pipe, sawtooth, constant, random, random with
// duplicates.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace strlisttest {

inline std::vector<std::pair<std::string, std::vector<int32_t>>> large_orders(int32_t n) {
    std::vector<std::pair<std::string, std::vector<int32_t>>> orders;
    orders.reserve(7); // gcc 12 at -O3 warns falsely (-Warray-bounds) on growing an empty one
    std::vector<int32_t> v(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) v[static_cast<size_t>(i)] = i;
    orders.emplace_back("ascending", v);
    orders.emplace_back("descending", std::vector<int32_t>(v.rbegin(), v.rend()));
    std::vector<int32_t> pipe; // up then down
    for (int32_t i = 0; i < n; i += 2) pipe.push_back(i);
    for (int32_t i = n - 1; i > 0; i -= 2) pipe.push_back(i);
    orders.emplace_back("organ pipe", pipe);
    std::vector<int32_t> saw; // ten ascending runs
    for (int32_t r = 0; r < 10; ++r) {
        for (int32_t i = r; i < n; i += 10) saw.push_back(i);
    }
    orders.emplace_back("sawtooth", saw);
    orders.emplace_back("constant", std::vector<int32_t>(static_cast<size_t>(n), 7));
    std::vector<int32_t> shuffled = v;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(99));
    orders.emplace_back("random", shuffled);
    std::vector<int32_t> dups(static_cast<size_t>(n));
    std::mt19937 rng(7);
    for (int32_t &d : dups) d = static_cast<int32_t>(rng() % 50);
    orders.emplace_back("random with duplicates", dups);
    return orders;
}

} // namespace strlisttest
