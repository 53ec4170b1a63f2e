// The CSV files of the window and quorvelle-batch: --csv, a row at the end of every second of
// the corrected stream with the numbers behind the read-outs, and --iq-csv, a row for every
// closed integration period with its sums, phase and level. The hosts call them from their
// SecondEnded and PeriodClosed, with the time of day as they keep it.
//
//   time,t_s,freq_error_ppm,timing_error_us,audio_level_pct,click_phase_deg,click_level_pct,
//     lock_freq_hz,click_position,status,pps_edge_frame,card_ppm_fine,pps_residual_us,
//     pps_series,pps_slip_frames[,device_rate_hz]
//   time,t_s,i,q,phase_deg,level_db,dropped_frames
//
// `time` is the live wall clock as ISO 8601 UTC ("2026-12-07T16:30:01.250Z"), or for a
// recording the stream time of day ("00:00:05.000"); `t_s` the frame's index / 8000 [s]. The
// click columns are empty until the lock has read the click once. The fine PPS columns:
// `pps_edge_frame` the device frame index (dropped frames counted) of the edge the fine timing
// made final in this second, with its fraction, empty without a good edge; `card_ppm_fine` the
// card's frequency error from the fit of the last minute's edges, empty until it has enough;
// `pps_residual_us` this second's edge minus that fit, empty when either is missing;
// `pps_series` the edge's series (1, 2, ...: one timing method and pulse shape each, never
// mixed in one fit or one Allan deviation) and `pps_slip_frames` the sample slip found just
// before it (frames the card dropped, negative when it repeated them; 0 without), both empty
// without an edge. `device_rate_hz` is the card's or the recording's own rate [frames/s], the one
// `pps_edge_frame` counts in, while the classic chain reads the input resampled to 8000; it is
// there only when that rate is not 8000, so that the files of an 8000 Hz input keep their bytes
// and a file without the column is one at 8000.
#pragma once

#include <string>
#include <vector>

#include "chain/measurement.h"
#include "files/csv_file.h"

namespace qv {

extern const std::vector<std::string> kSecondColumns;  // --csv
extern const std::vector<std::string> kPeriodColumns;  // --iq-csv

// The --csv header for an input at `deviceRate` [frames/s]: kSecondColumns, and device_rate_hz
// after them unless the rate is 8000.
std::vector<std::string> SecondColumns(int deviceRate);
bool HasRateColumn(int deviceRate);

// A --csv row; with the device_rate_hz cell when `rateColumn`, by default when the measurement's
// input rate is not 8000.
std::vector<std::string> SecondRow(const std::string& time, const Measurement& m,
                                   const SecondValues& v, bool rateColumn);
std::vector<std::string> SecondRow(const std::string& time, const Measurement& m,
                                   const SecondValues& v);
std::vector<std::string> PeriodRow(const std::string& time, const PeriodValues& v);

// The read-out log's CAPTURE text for a sample slip the fine PPS timing found in this second
// ("sample slip: the card dropped 3 frames before the PPS edge"), empty without one.
std::string SampleSlipText(const FineValues& fine);

// Both files of a run; each one is open only when its option gave a path.
struct CsvOutputs {
    CsvFile Seconds;                    // --csv
    CsvFile Periods;                    // --iq-csv
    int DeviceRate = kFramesPerSecond;  // [frames/s] the input's, as the --csv header says
    // Called at the close with UnwrittenText's line for a file that still held rows then: the
    // file lacks them for good.
    std::function<void(const std::string&)> Unwritten;

    // Opens the files that have a path, --csv with the columns for an input at `deviceRate`
    // [frames/s]; false with one line in `error` (which names the path). `failed` is called
    // once per file, at its first write failure.
    bool Open(const std::string& secondsPath, const std::string& periodsPath, CsvStart start,
              const std::function<void(const std::string&)>& failed, std::string& error,
              int deviceRate = kFramesPerSecond);
    // The input's rate became known after the open (the window's Start): --csv gets the columns
    // for it while it holds no row yet (CsvFile::ChangeColumns); false with one line in `error`
    // when it already held rows of another layout: the file is then closed, and no row follows.
    bool SetDeviceRate(int deviceRate, std::string& error);
    // A --csv row in the columns of its header.
    void WriteSecond(const std::string& time, const Measurement& m, const SecondValues& v);
    void WritePeriod(const std::string& time, const PeriodValues& v);
    // Closes both; false when either failed at any time (every failure, also one at the
    // close, has gone to `failed`, and the rows lost at the close to Unwritten). HasFailed()
    // then tells which.
    bool Close();
};

}  // namespace qv
