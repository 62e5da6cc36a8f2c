// Side-by-side benchmarks of the library and the code a user would otherwise
// reach for. Every benchmark of the program is named
//
//     peers/<case>/vek       the library
//     peers/<case>/<peer>    each peer (std_unordered_map, absl_flat_hash_map, ...)
//
// and one iteration of every benchmark of a case does the same work on the
// same data, so the ratio of the times per iteration compares the two. The
// program's main prints, after the usual console output, a table of
// vek / peer per case (above 1 means the library is slower).
//
// Register with peers::add (no Arg()/Range(): the arguments belong in the
// case name, so that the name says what is compared):
//
//     static const bool registered = [] {
//         peers::add("hash/get/lf1/random/4096", "vek", bench_fn);
//         return true;
//     }();
//
// Cross-check the results of the two sides before timing and report a
// mismatch with state.SkipWithError: a case with an error gets no ratio.
#pragma once

#include <string>
#include <utility>

#include <benchmark/benchmark.h>

namespace peers {

template <typename Fn>
benchmark::internal::Benchmark *add(const std::string &case_name, const std::string &impl, Fn &&fn) {
    const std::string name = "peers/" + case_name + "/" + impl;
    return benchmark::RegisterBenchmark(name.c_str(), std::forward<Fn>(fn));
}

} // namespace peers
