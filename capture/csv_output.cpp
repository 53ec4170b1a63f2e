// The --csv and --iq-csv rows.
#include "capture/csv_output.h"

namespace qv {

const std::vector<std::string> kSecondColumns = {"time",
                                                 "t_s",
                                                 "freq_error_ppm",
                                                 "timing_error_us",
                                                 "audio_level_pct",
                                                 "click_phase_deg",
                                                 "click_level_pct",
                                                 "lock_freq_hz",
                                                 "click_position",
                                                 "status",
                                                 "pps_edge_frame",
                                                 "card_ppm_fine",
                                                 "pps_residual_us",
                                                 "pps_series",
                                                 "pps_slip_frames"};
const std::vector<std::string> kPeriodColumns = {"time",     "t_s",           "i", "q", "phase_deg",
                                                 "level_db", "dropped_frames"};

namespace {

std::string Seconds(int64_t frame) {
    return CsvNumber(frame / static_cast<long double>(kFramesPerSecond));
}

}  // namespace

bool HasRateColumn(int deviceRate) { return deviceRate != kFramesPerSecond; }

std::vector<std::string> SecondColumns(int deviceRate) {
    std::vector<std::string> columns = kSecondColumns;
    if (HasRateColumn(deviceRate)) columns.push_back("device_rate_hz");
    return columns;
}

std::vector<std::string> SecondRow(const std::string& time, const Measurement& m,
                                   const SecondValues& v) {
    return SecondRow(time, m, v, HasRateColumn(m.InputRate));
}

namespace {

// The cells of kSecondColumns.
std::vector<std::string> SecondCells(const std::string& time, const Measurement& m,
                                     const SecondValues& v) {
    const ClickValues& c = v.Click;
    const FineValues& f = v.Fine;
    return {time,
            Seconds(v.Frame),
            CsvNumber(v.FreqErrorPpm),
            CsvNumber(v.TimingErrorUs),
            CsvNumber(v.AudioLevelPct),
            c.Read ? CsvNumber(c.PhaseDeg) : "",
            c.Read ? CsvNumber(c.LevelPct) : "",
            c.Read ? CsvNumber(c.LockFreqHz) : "",
            c.Read ? std::to_string(c.Position) : "",
            CsvText(StatusName(m)),
            f.EdgeFound ? CsvNumber(f.EdgeFrame) : "",
            f.FitValid ? CsvNumber(f.CardPpm) : "",
            f.ResidualValid ? CsvNumber(f.ResidualUs) : "",
            f.EdgeFound ? std::to_string(f.Series) : "",
            f.EdgeFound ? std::to_string(f.SlipFrames) : ""};
}

}  // namespace

std::vector<std::string> SecondRow(const std::string& time, const Measurement& m,
                                   const SecondValues& v, bool rateColumn) {
    std::vector<std::string> row = SecondCells(time, m, v);
    if (rateColumn) row.push_back(std::to_string(m.InputRate));
    return row;
}

std::vector<std::string> PeriodRow(const std::string& time, const PeriodValues& v) {
    return {time,
            Seconds(v.Frame),
            CsvNumber(v.PeriodI),
            CsvNumber(v.PeriodQ),
            CsvNumber(v.PhaseDeg),
            CsvNumber(v.LevelDb),
            std::to_string(v.DroppedFrames)};
}

std::string SampleSlipText(const FineValues& fine) {
    if (!fine.EdgeFound || fine.SlipFrames == 0) return "";
    const int64_t n = fine.SlipFrames > 0 ? fine.SlipFrames : -fine.SlipFrames;
    return std::string("sample slip: the card ") +
           (fine.SlipFrames > 0 ? "dropped " : "repeated ") + std::to_string(n) +
           (n == 1 ? " frame" : " frames") + " before the PPS edge";
}

bool CsvOutputs::Open(const std::string& secondsPath, const std::string& periodsPath,
                      CsvStart start, const std::function<void(const std::string&)>& failed,
                      std::string& error, int deviceRate) {
    Seconds.WriteFailed = failed;
    Periods.WriteFailed = failed;
    DeviceRate = deviceRate;
    return (secondsPath.empty() ||
            Seconds.Open(secondsPath, SecondColumns(deviceRate), start, error)) &&
           (periodsPath.empty() || Periods.Open(periodsPath, kPeriodColumns, start, error));
}

bool CsvOutputs::SetDeviceRate(int deviceRate, std::string& error) {
    if (deviceRate == DeviceRate) return true;
    if (!Seconds.ChangeColumns(SecondColumns(deviceRate), error)) {
        // Rows of another layout would be read wrongly: none are written from here on.
        std::string ignored;
        Seconds.Close(ignored);
        error += "; this run writes no --csv rows";
        return false;
    }
    DeviceRate = deviceRate;
    return true;
}

void CsvOutputs::WriteSecond(const std::string& time, const Measurement& m, const SecondValues& v) {
    if (Seconds.IsOpen()) Seconds.WriteRow(SecondRow(time, m, v, HasRateColumn(DeviceRate)));
}

void CsvOutputs::WritePeriod(const std::string& time, const PeriodValues& v) {
    if (Periods.IsOpen()) Periods.WriteRow(PeriodRow(time, v));
}

bool CsvOutputs::Close() {
    bool whole = true;
    for (CsvFile* file : {&Seconds, &Periods}) {
        std::string error;  // a failure: said through WriteFailed when it happened
        if (file->Close(error)) continue;
        whole = false;
        if (file->UnwrittenRows() > 0 && Unwritten) Unwritten(error);
    }
    return whole;
}

}  // namespace qv
