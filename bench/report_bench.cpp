// quorvelle-report over a day: 86400 one-second rows with the fine columns and 28800 I/Q rows
// read, their Allan deviations computed and the picture drawn and written.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/report.h"

namespace qv {

namespace {

constexpr int kDaySeconds = 86400;
constexpr int kPeriod = 3;  // [s] between I/Q rows

std::string Clock(int s) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.000", s / 3600 % 24, s / 60 % 60, s % 60);
    return text;
}

// Writes the day's two CSV files (once per process) and returns their folder.
std::filesystem::path DayFiles() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path dir =
            std::filesystem::temp_directory_path() / "qv_report_bench";
        std::filesystem::create_directories(dir);
        std::ofstream seconds(dir / "s.csv", std::ios::binary),
            periods(dir / "iq.csv", std::ios::binary);
        seconds.precision(17);
        periods.precision(17);
        seconds << "time,t_s,freq_error_ppm,timing_error_us,audio_level_pct,click_phase_deg,"
                   "click_level_pct,lock_freq_hz,click_position,status,pps_edge_frame,"
                   "card_ppm_fine,pps_residual_us\n";
        periods << "time,t_s,i,q,phase_deg,level_db,dropped_frames\n";
        for (int k = 0; k < kDaySeconds; ++k) {
            const double jitter = 1e-6 * std::sin(k * 1.7);  // a deterministic stand-in
            seconds << Clock(k) << "," << k << "," << 37 + jitter << ",1.5,60,12.5,3.2,1700.1,31,"
                    << "locked," << 1234.5 + k * 8000.296 + jitter * 8000 << ",37.0001,"
                    << jitter * 1e6 << "\n";
            if (k % kPeriod == 0) {
                periods << Clock(k) << "," << k << ",1,1," << std::fmod(k * 0.37, 360.0) - 180
                        << "," << -30 + std::sin(k * 1e-4) << ",0\n";
            }
        }
        return dir;
    }();
    return folder;
}

void BM_ReportOfADay(benchmark::State& state) {
    const std::filesystem::path dir = DayFiles();
    std::vector<std::string> words = {"quorvelle-report",
                                      "--rf-frequency",
                                      "10e6",
                                      "--output",
                                      (dir / "r.png").string(),
                                      (dir / "s.csv").string(),
                                      (dir / "iq.csv").string()};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    for (auto _ : state) {
        std::ostringstream out, err;
        const int status = RunReport(static_cast<int>(argv.size()), argv.data(), out, err);
        if (status != 0) state.SkipWithError(err.str().c_str());
    }
}
BENCHMARK(BM_ReportOfADay)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace qv
