// Where the window writes its measurements: the folder named on the command line, else the
// folder in Documents (the system's, passed in here), else the current directory; the folder
// made when missing, the command line's own names kept pointing where they pointed.
#include "app/measurements_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/app_options.h"
#include "tests/test_files.h"

namespace qv {

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kDevice = "NUL";
#else
constexpr const char* kDevice = "/dev/null";
#endif

class MeasurementsFolder : public InScratchDirectory {
protected:
    // EnterMeasurementsFolder with --folder `given` (or none) and `documents`; the options as
    // they came out in `o_`.
    bool Enter(const std::string& given, const std::string& documents) {
        o_ = AppOptions{};
        o_.Folder = given;
        o_.CsvPath = "runs/seconds.csv";
        o_.LogPath = kDevice;
        notice_.clear();
        error_.clear();
        return EnterMeasurementsFolder(o_, documents, notice_, error_);
    }
    bool IsHere(const fs::path& folder) const { return fs::equivalent(fs::current_path(), folder); }

    AppOptions o_;
    std::string notice_, error_;
};

TEST_F(MeasurementsFolder, TheCommandLineFirstThenDocumentsThenTheCurrentDirectory) {
    EXPECT_EQ(MeasurementsFolderFor("mine", "C:/Users/a/Documents"), "mine");
    EXPECT_EQ(fs::path(MeasurementsFolderFor("", "docs")), fs::path("docs") / "GPS QuorVelle");
    EXPECT_EQ(MeasurementsFolderFor("", ""), "");

    // No folder anywhere (Linux): the window stays where it was started, names as given.
    ASSERT_TRUE(Enter("", "")) << error_;
    EXPECT_TRUE(IsHere(dir_));
    EXPECT_EQ(o_.CsvPath, "runs/seconds.csv");
    EXPECT_EQ(notice_, "");

    // Documents: its GPS QuorVelle folder, made on first use and simply entered after that;
    // the command line's names still name the files beside the start, a device stays itself.
    fs::create_directory(dir_ / "docs");
    for (int run = 0; run < 2; ++run) {
        fs::current_path(dir_);
        ASSERT_TRUE(Enter("", (dir_ / "docs").string())) << error_;
        EXPECT_TRUE(IsHere(dir_ / "docs" / "GPS QuorVelle")) << run;
        EXPECT_EQ(fs::path(o_.CsvPath), dir_ / "runs" / "seconds.csv");
        EXPECT_EQ(o_.LogPath, kDevice);
        EXPECT_EQ(notice_, "");
    }

    // A folder on the command line wins over Documents, and is made too; the current
    // directory given leaves the names as they are.
    fs::current_path(dir_);
    ASSERT_TRUE(Enter("given", (dir_ / "docs").string())) << error_;
    EXPECT_TRUE(IsHere(dir_ / "given"));
    ASSERT_TRUE(Enter(".", (dir_ / "docs").string())) << error_;
    EXPECT_TRUE(IsHere(dir_ / "given"));
    EXPECT_EQ(o_.CsvPath, "runs/seconds.csv");
}

TEST_F(MeasurementsFolder, AFolderThatCannotBeUsedIsSaid) {
    // Given on the command line: the program does not start, and says which and why.
    WriteText(folder_.Path("a file"), "x");
    ASSERT_FALSE(Enter("a file", ""));
    EXPECT_EQ(error_, "--folder a file: cannot keep measurements there: it is not a folder");
    ASSERT_FALSE(Enter("missing/deeper", ""));
    EXPECT_EQ(
        error_.rfind("--folder missing/deeper: cannot create the folder for measurements: ", 0), 0u)
        << error_;
    EXPECT_TRUE(IsHere(dir_));

    // In Documents: the window starts in the current directory, and its start-up box says why.
    fs::create_directories(dir_ / "docs");
    WriteText((dir_ / "docs" / "GPS QuorVelle").string(), "x");
    ASSERT_TRUE(Enter("", (dir_ / "docs").string())) << error_;
    EXPECT_TRUE(IsHere(dir_));
    EXPECT_NE(notice_.find("GPS QuorVelle: cannot keep measurements there: it is not a folder.\n"
                           "Measurements are written to the current folder, "),
              std::string::npos)
        << notice_;
    ASSERT_TRUE(Enter("", (dir_ / "no documents").string())) << error_;
    EXPECT_NE(notice_.find("cannot create the folder for measurements"), std::string::npos)
        << notice_;
    EXPECT_TRUE(IsHere(dir_));
}

TEST(MeasurementsFolderOption, FolderTakesAName) {
    std::string folder = "--folder", name = "out", program = "quorvelle";
    std::vector<char*> argv = {program.data(), folder.data(), name.data()};
    AppOptions o;
    bool help = false, version = false;
    std::string error;
    ASSERT_TRUE(ParseAppOptions(3, argv.data(), o, help, version, error)) << error;
    EXPECT_EQ(o.Folder, "out");
    AppOptions none;
    EXPECT_FALSE(ParseAppOptions(2, argv.data(), none, help, version, error));
    EXPECT_NE(AppUsage().find("--folder DIR"), std::string::npos);
}

}  // namespace

}  // namespace qv
