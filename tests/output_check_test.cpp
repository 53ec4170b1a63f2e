// Output checks before a run: one file under two names, and writability proved without
// truncating a file or leaving one behind. Files under names the program makes up: new ones,
// under the next free name, never through a link.
#include "files/output_check.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "files/whole_file.h"
#include "tests/test_files.h"

namespace qv {

namespace fs = std::filesystem;

namespace {

// The device that swallows what is written to it.
#ifdef _WIN32
const std::string kNullDevice = "NUL";
#else
const std::string kNullDevice = "/dev/null";
#endif

TEST(OutputCheck, SameFileByInodeWhenItExistsAndByPathWhenNot) {
    TestFolder folder;
    const std::string a = folder.Path("a.txt");
    WriteText(a, "kept");
    fs::create_hard_link(a, folder.Path("hard.txt"));
    // Symbolic links need a privilege on Windows: checked where they can be made.
    std::error_code noLinks;
    fs::create_symlink(a, folder.Path("soft.txt"), noLinks);
    fs::create_directories(folder.Path("sub"));
    WriteText(folder.Path("b.txt"), "kept");

    EXPECT_TRUE(SameFile(a, folder.Path("hard.txt")));
    if (!noLinks) {
        EXPECT_TRUE(SameFile(a, folder.Path("soft.txt")));
    }
    EXPECT_TRUE(SameFile(a, folder.Dir() + "/sub/../a.txt"));
    EXPECT_FALSE(SameFile(a, folder.Path("b.txt")));  // same bytes, another file
    // Not there yet: the paths, made absolute and resolved.
    EXPECT_TRUE(SameFile(folder.Path("new.txt"), folder.Dir() + "/./sub/../new.txt"));
    fs::create_directory_symlink(folder.Path("sub"), folder.Path("link"), noLinks);
    if (!noLinks) {
        EXPECT_TRUE(SameFile(folder.Path("sub/new.txt"), folder.Path("link/new.txt")));
    }
    EXPECT_FALSE(SameFile(folder.Path("new.txt"), folder.Path("sub/new.txt")));
    EXPECT_FALSE(SameFile(a, folder.Path("a.txt.new")));
    EXPECT_FALSE(SameFile(kNullDevice, kNullDevice));
    const fs::path before = fs::current_path();
    fs::current_path(folder.Dir());
    EXPECT_TRUE(SameFile("a.txt", "./a.txt"));
    EXPECT_TRUE(SameFile("x.txt", "./x.txt"));
    EXPECT_TRUE(SameFile("x.txt", folder.Path("x.txt")));
    fs::current_path(before);
}

// `error` after checking `output`, or "" when it passed.
std::string Failure(const OutputPath& output) {
    std::string error;
    return CheckWritable(output, error) ? "" : error;
}

TEST(OutputCheck, WritableProvedWithoutTruncatingOrLeavingAnything) {
    TestFolder folder;
    const std::string existing = folder.Path("existing.txt");
    WriteText(existing, "earlier results");
    WriteText(folder.Path("a-file"), "not a folder");

    EXPECT_EQ(Failure({"--log", existing}), "");
    EXPECT_EQ(FileText(existing), "earlier results");
    EXPECT_EQ(Failure({"--iq-file", folder.Path("new.txt")}), "");
    EXPECT_FALSE(fs::exists(folder.Path("new.txt")));
    EXPECT_EQ(Failure({"--chart", folder.Path("missing/c.BMP")}),
              "cannot create: No such file or directory");
    EXPECT_EQ(Failure({"--chart", folder.Path("a-file/c.BMP")}), "cannot create: Not a directory");
    EXPECT_EQ(Failure({"--log", folder.Dir()}), "cannot write: Is a directory");
    if (fs::exists("/dev/full")) {
        EXPECT_EQ(Failure({"--log", "/dev/full"}), "");
    }

    // A folder: its missing parts made for the check and removed again; its files checked.
    const OutputPath panels{"--panels", folder.Path("p/q/"), true, {"scope.png", "iq.png"}};
    EXPECT_EQ(Failure(panels), "");
    EXPECT_FALSE(fs::exists(folder.Path("p")));
    fs::create_directories(folder.Path("p/q/iq.png"));
    EXPECT_EQ(Failure(panels), "iq.png: cannot write: Is a directory");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path("p/q")), {}), 1);  // iq.png
    EXPECT_EQ(Failure({"--panels", folder.Path("a-file/p"), true, {"scope.png"}}),
              "cannot create the folder: Not a directory");
    EXPECT_EQ(Failure({"--panels", existing, true, {}}),
              "cannot create the folder: Not a directory");

    // The current directory of automatic captures, once it has been removed.
    const fs::path before = fs::current_path();
    fs::create_directories(folder.Path("gone"));
    fs::current_path(folder.Path("gone"));
    EXPECT_EQ(Failure({"--save-screen", ".", true, {}}), "");
    EXPECT_TRUE(fs::is_empty(folder.Path("gone")));
    // (Windows keeps a process's current directory from being removed.)
    std::error_code kept;
    if (fs::remove(folder.Path("gone"), kept)) {
        EXPECT_EQ(Failure({"--save-screen", ".", true, {}}),
                  "cannot create files there: No such file or directory");
    }
    fs::current_path(before);
}

TEST(OutputCheck, DevicesNamesCaseAndSeparators) {
    // Writing the null device twice destroys nothing: never one file, always writable. Paths
    // that differ only in "." parts, doubled separators or a trailing "x/.." are one file.
    TestFolder folder;
    const std::string a = folder.Path("a.txt");
    WriteText(a, "kept");
    EXPECT_FALSE(SameFile(kNullDevice, a));
    EXPECT_EQ(Failure({"--log", kNullDevice}), "");
    EXPECT_TRUE(SameFile(a, folder.Dir() + "//./a.txt"));
    EXPECT_TRUE(SameFile(folder.Path("n.txt"), folder.Dir() + "/x/../n.txt"));
    EXPECT_FALSE(SameFile(folder.Path("n.txt"), folder.Path("n.txt.bak")));
    // A file made after the first check is then compared by identity, still the same.
    WriteText(folder.Path("n.txt"), "now there");
    EXPECT_TRUE(SameFile(folder.Path("n.txt"), folder.Dir() + "/./n.txt"));

    // Nested missing folders are all made for the check and all removed again, also when a
    // file inside cannot be written; the names inside are checked in order.
    const OutputPath deep{"--panels", folder.Path("d1/d2/d3"), true, {"one.png", "two.png"}};
    EXPECT_EQ(Failure(deep), "");
    EXPECT_FALSE(fs::exists(folder.Path("d1")));
    fs::create_directories(folder.Path("d1/d2/d3/two.png"));
    EXPECT_EQ(Failure(deep), "two.png: cannot write: Is a directory");
    EXPECT_TRUE(fs::exists(folder.Path("d1/d2/d3/two.png"))) << "what was there is kept";
    EXPECT_FALSE(fs::exists(folder.Path("d1/d2/d3/one.png"))) << "the probe of one.png is gone";
}

// A name taken by a file, a folder, a hard link or a symbolic link (dangling or not) is passed
// over for the next of its pattern; nothing under a taken name changes. A made-up name in a
// folder the user chose (the panels) replaces the file under it, but never its link's target.
TEST(OutputCheck, NamesTheProgramMakesUpNeverReplaceAnything) {
    EXPECT_EQ(NumberedName("IQfile 085101.TXT", 1), "IQfile 085101.TXT");
    EXPECT_EQ(NumberedName("IQfile 085101.TXT", 2), "IQfile 085101-2.TXT");
    EXPECT_EQ(NumberedName("dir.x/003656.BMP", 13), "dir.x/003656-13.BMP");
    EXPECT_EQ(NumberedName("dir.x/chart", 3), "dir.x/chart-3");

    TestFolder folder;
    const std::string precious = folder.Path("precious.wav");
    WriteText(precious, "a precious recording");
    const std::string name = folder.Path("003656.BMP");
    std::vector<std::string> taken = {name, NumberedName(name, 2), NumberedName(name, 3)};
    fs::create_hard_link(precious, taken[0]);
    fs::create_directories(taken[1]);
    WriteText(taken[2], "an earlier capture");
    // Symbolic links need a privilege on Windows: checked where they can be made.
    std::error_code noLinks;
    fs::create_symlink(precious, NumberedName(name, 4), noLinks);
    if (!noLinks) {
        fs::create_symlink(folder.Path("nowhere/x"), NumberedName(name, 5), noLinks);
        taken.push_back(NumberedName(name, 4));
        taken.push_back(NumberedName(name, 5));
    }
    std::string error;
    EXPECT_EQ(WriteNewFile(taken[2], "new", error), NewFile::NameTaken);
    int number = 1;
    ASSERT_TRUE(WriteUnderFreeName(name, "new", number, error)) << error;
    EXPECT_EQ(number, static_cast<int>(taken.size()) + 1);
    EXPECT_EQ(FileText(NumberedName(name, number)), "new");
    EXPECT_EQ(FileText(precious), "a precious recording");
    EXPECT_EQ(FileText(taken[2]), "an earlier capture");
    EXPECT_FALSE(fs::exists(folder.Path("nowhere")));
    number = 1;
    EXPECT_FALSE(WriteUnderFreeName(folder.Path("missing/x.BMP"), "x", number, error));
    EXPECT_EQ(error, folder.Path("missing/x.BMP") + ": cannot create: No such file or directory");

    const std::string panel = folder.Path("scope.png");
    ASSERT_TRUE(ReplaceWholeFile(panel, "first run", error)) << error;
    ASSERT_TRUE(ReplaceWholeFile(panel, "second run", error)) << error;
    EXPECT_EQ(FileText(panel), "second run");
    if (!noLinks) {
        fs::remove(panel);
        fs::create_symlink(precious, panel);
        ASSERT_TRUE(ReplaceWholeFile(panel, "panel", error)) << error;
        EXPECT_FALSE(fs::is_symlink(panel));
        EXPECT_EQ(FileText(panel), "panel");
        EXPECT_EQ(FileText(precious), "a precious recording");
    }
    EXPECT_FALSE(ReplaceWholeFile(folder.Path("missing/scope.png"), "x", error));
    EXPECT_EQ(error,
              folder.Path("missing/scope.png") + ": cannot create: No such file or directory");
    // Nothing is left beside the files written.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Dir()), {}),
              static_cast<long>(taken.size()) + 3);
}

}  // namespace

}  // namespace qv
