// The peer benchmark program: runs the benchmarks registered with
// peers::add and prints the usual console report followed by the ratio
// table (Markdown) of the library's time to each peer's time per case.
//
// Extra flags (taken out before Google Benchmark sees the command line):
//   --peers_clock=cpu|real   time compared (default cpu: the machine is
//                            shared, and CPU time is what other load
//                            disturbs least; use real for threaded cases)
//   --peers_table=FILE       also write the table to FILE
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

bool use_real_time = false;

struct Result {
    double ns = 0;
    bool failed = false;
};

// One case: the implementations in the order they ran.
struct Case {
    std::string name;
    std::vector<std::pair<std::string, Result>> impls;
};

std::string format_time(double ns) {
    char buf[64];
    if (ns < 1e3) {
        std::snprintf(buf, sizeof buf, "%.1f ns", ns);
    } else if (ns < 1e6) {
        std::snprintf(buf, sizeof buf, "%.2f us", ns / 1e3);
    } else if (ns < 1e9) {
        std::snprintf(buf, sizeof buf, "%.2f ms", ns / 1e6);
    } else {
        std::snprintf(buf, sizeof buf, "%.2f s", ns / 1e9);
    }
    return buf;
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run &run : reports) take(run);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        table_ = table();
        GetOutputStream() << "\n" << table_ << std::flush;
    }

    const std::string &text() const { return table_; }

private:
    void take(const Run &run) {
        // With repetitions only the mean counts; without, the one run.
        if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean") return;
        if (run.run_type == Run::RT_Iteration && run.repetitions > 1) return;
        const std::string &fn = run.run_name.function_name;
        if (fn.rfind("peers/", 0) != 0) return;
        const std::size_t cut = fn.rfind('/');
        if (cut <= 5) return;
        std::string case_name = fn.substr(6, cut - 6);
        if (!run.run_name.args.empty()) case_name += "/" + run.run_name.args;
        if (!run.run_name.threads.empty()) case_name += "/" + run.run_name.threads;
        const std::string impl = fn.substr(cut + 1);

        Result r;
        r.failed = run.error_occurred;
        const double t = use_real_time ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
        r.ns = t * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);

        auto it = index_.find(case_name);
        if (it == index_.end()) {
            it = index_.emplace(case_name, cases_.size()).first;
            cases_.push_back(Case{case_name, {}});
        }
        cases_[it->second].impls.emplace_back(impl, r);
    }

    std::string table() const {
        std::ostringstream out;
        out << "Ratio of the library's " << (use_real_time ? "real" : "CPU")
            << " time to the peer's, per case (above 1: the library is slower)\n\n";
        out << "| case | vek | peer | peer time | vek / peer |\n";
        out << "|---|---:|---|---:|---:|\n";
        for (const Case &c : cases_) {
            const Result *ours = nullptr;
            for (const auto &[impl, r] : c.impls) {
                if (impl == "vek") ours = &r;
            }
            for (const auto &[impl, r] : c.impls) {
                if (impl == "vek") continue;
                out << "| " << c.name << " | "
                    << (ours == nullptr ? "-"
                        : ours->failed  ? "error"
                                        : format_time(ours->ns))
                    << " | " << impl << " | " << (r.failed ? "error" : format_time(r.ns)) << " | ";
                if (ours == nullptr || ours->failed || r.failed || r.ns <= 0) {
                    out << "-";
                } else {
                    char buf[32];
                    std::snprintf(buf, sizeof buf, "%.2fx", ours->ns / r.ns);
                    out << buf;
                }
                out << " |\n";
            }
        }
        return out.str();
    }

    std::vector<Case> cases_;
    std::map<std::string, std::size_t> index_;
    std::string table_;
};

} // namespace

int main(int argc, char **argv) {
    std::string table_file;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strncmp(a, "--peers_clock=", 14) == 0) {
            const std::string v = a + 14;
            if (v != "cpu" && v != "real") {
                std::cerr << "peers_bench: --peers_clock takes cpu or real\n";
                return 1;
            }
            use_real_time = v == "real";
        } else if (std::strncmp(a, "--peers_table=", 14) == 0) {
            table_file = a + 14;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!table_file.empty()) {
        std::ofstream f(table_file);
        f << reporter.text();
        if (!f) {
            std::cerr << "peers_bench: cannot write " << table_file << "\n";
            return 1;
        }
    }
    return 0;
}
