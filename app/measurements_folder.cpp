// Where the window writes its measurements, and the move into that folder at start-up.
#include "app/measurements_folder.h"

#include <filesystem>
#include <system_error>

#include "common/os.h"

namespace qv {

namespace fs = std::filesystem;

std::string MeasurementsFolderFor(const std::string& given, const std::string& documents) {
    if (!given.empty()) return given;
    if (documents.empty()) return "";
    return (fs::path(documents) / kMeasurementsFolderName).string();
}

std::string MakeReadyFolder(const std::string& folder) {
    if (os::NotAFolder(folder).empty()) return "";
    if (os::Exists(folder)) return folder + ": cannot keep measurements there: it is not a folder";
    if (const std::string reason = os::MakeFolder(folder); !reason.empty()) {
        return folder + ": cannot create the folder for measurements: " + reason;
    }
    return "";
}

bool EnterMeasurementsFolder(AppOptions& o, const std::string& documents, std::string& notice,
                             std::string& error) {
    const std::string folder = MeasurementsFolderFor(o.Folder, documents);
    if (folder.empty()) return true;
    std::string problem = MakeReadyFolder(folder);
    std::error_code ec;
    if (problem.empty()) {
        // Already there: nothing moves, and the names stay as the user gave them.
        if (fs::equivalent(folder, fs::current_path(ec), ec)) return true;
        for (std::string* path :
             {&o.PlayPath, &o.RecordPath, &o.LogPath, &o.CsvPath, &o.IqCsvPath, &o.DailyDir}) {
            // A device (NUL, /dev/null) is the device wherever the window is.
            if (path->empty() || os::IdentifyName(*path, true).Shared) continue;
            const fs::path absolute = fs::absolute(*path, ec);
            if (!ec) *path = absolute.string();
        }
        fs::current_path(folder, ec);
        if (ec) problem = folder + ": cannot work in the folder for measurements: " + ec.message();
    }
    if (problem.empty()) return true;
    if (!o.Folder.empty()) {
        error = "--folder " + problem;
        return false;
    }
    notice = problem + ".\nMeasurements are written to the current folder, " +
             fs::current_path(ec).string() + ", instead.";
    return true;
}

}  // namespace qv
