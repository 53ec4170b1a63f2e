// Test helper: the CSV files quorvelle-report reads, written as the batch tool writes them,
// and what its text and picture are read back by.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

#include "tests/gaussian_numbers.h"
#include "tests/png_pixels.h"
#include "tests/test_files.h"

namespace qv {

inline constexpr const char* kClassicHeader =
    "time,t_s,freq_error_ppm,timing_error_us,audio_level_pct,click_phase_deg,click_level_pct,"
    "lock_freq_hz,click_position,status";
inline constexpr const char* kFineHeader = ",pps_edge_frame,card_ppm_fine,pps_residual_us";
inline constexpr const char* kPeriodHeader = "time,t_s,i,q,phase_deg,level_db,dropped_frames";

inline std::string Clock(int64_t secondOfDay) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.000",
                  static_cast<int>(secondOfDay / 3600 % 24),
                  static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
    return text;
}

// A classic row of second k of a run that started at `start` [s of the day].
inline std::string ClassicRow(int64_t start, int64_t k, double ppm) {
    std::ostringstream row;
    row.precision(17);
    row << Clock(start + k) << "," << k << "," << ppm << ",1.5,60,12.5,3.2,1700.1,31,locked";
    return row.str();
}

// A --csv file with the fine columns: a card `ppm` fast, PPS edges with `jitterS` of Gaussian
// jitter, no edge in the seconds where k % 10 == 7; edges counted at the card's `rate`, which a
// device_rate_hz column states unless it is 8000.
inline void WriteFineRun(const std::string& path, int seconds, double ppm, double jitterS,
                         int rate = 8000) {
    Gaussian g(3);
    std::ostringstream text;
    text.precision(17);
    const std::string rateCell = rate == 8000 ? "" : "," + std::to_string(rate);
    text << kClassicHeader << kFineHeader << (rate == 8000 ? "" : ",device_rate_hz") << "\n";
    for (int k = 0; k < seconds; ++k) {
        const double ideal = 1234.5 + k * rate * (1 + ppm * 1e-6);
        const double edge = ideal + jitterS * rate * g.Next();
        text << ClassicRow(0, k, ppm);
        if (k % 10 == 7) {
            text << ",,," << rateCell << "\n";
        } else {
            text << "," << edge << "," << ppm << "," << (edge - ideal) / rate * 1e6 << rateCell
                 << "\n";
        }
    }
    WriteText(path, text.str());
}

// The deviation in the Allan table row of `tau` after the line that starts with `title`.
inline double TableDeviation(const std::string& out, const std::string& title, int tau,
                             int64_t* terms = nullptr) {
    std::istringstream lines(out.substr(out.find(title)));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line) && line.starts_with("  ")) {
        std::istringstream cells(line);
        double t = 0, dev = 0;
        int64_t n = 0;
        if (cells >> t >> dev >> n && t == tau) {
            if (terms != nullptr) *terms = n;
            return dev;
        }
    }
    return NAN;
}

// Pixels of `colour` in the rectangle x0..x1, y0..y1 (inclusive) of a decoded PNG.
inline int CountColour(const PngPixels& png, int x0, int y0, int x1, int y1, uint8_t r, uint8_t g,
                       uint8_t b) {
    int count = 0;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const size_t at = (static_cast<size_t>(y) * png.Width + x) * 3;
            count += png.Rgb[at] == r && png.Rgb[at + 1] == g && png.Rgb[at + 2] == b ? 1 : 0;
        }
    }
    return count;
}

inline int Lines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace qv
