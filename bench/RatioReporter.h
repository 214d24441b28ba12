// The benchmarks' report: the usual table, then every result as a ratio to copying one frame
// (a benchmark named "FrameCopy" in the same run).
#pragma once
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

// Prints the usual table, then every result divided by the frame copy's time. CPU time is used
// because the machines these run on are often shared, which stretches wall time unevenly. Each
// benchmark runs several times (--benchmark_repetitions, 5 unless given) in random order among all
// the others (--benchmark_enable_random_interleaving), so the copy is measured throughout the run,
// between the passes, not once beside them; each figure, the copy's included, is the median of its
// repetitions, which a passing burst of load on the machine does not move. The copy's spread over
// the run is printed with it.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration) continue;
            const std::string name = r.benchmark_name();
            times[name].push_back(r.GetAdjustedCPUTime());
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const std::vector<double>& copies = times["FrameCopy"];
        const double copy = copies.empty() ? 0 : median(copies);
        if (copy <= 0) return;
        std::printf("\nframe copy: median %.0f ns of %zu runs interleaved with the passes (%.0f to %.0f ns)\n", copy,
                    copies.size(), *std::min_element(copies.begin(), copies.end()),
                    *std::max_element(copies.begin(), copies.end()));
        std::printf("%-36s %12s %8s %5s\n", "pass", "cpu ns", "x copy", "runs");
        for (const auto& entry : times) {
            const std::string& name = entry.first;
            const double t = median(times[name]);
            std::printf("%-36s %12.0f %8.2f %5zu\n", name.c_str(), t, t / copy, times[name].size());
        }
    }

private:
    static double median(std::vector<double> v) {
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    std::map<std::string, std::vector<double>> times;
};
