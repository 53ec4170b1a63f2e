// The user's guide as a reader meets it: README.md and docs/*.md link only to files and headings
// that exist, show each program's --help as the program prints it and name no option that no
// program takes, and their gnuplot and Python recipes run as written on the files of a short
// simulated run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr size_t kReadmeMostLines = 160;  // the README stays a page a user reads whole

struct Page {
    std::string Name;  // relative to the source folder: "README.md", "docs/formats.md"
    std::vector<std::string> Lines;
};

// A fenced code block: its language ("gnuplot", "python", "text", ...), its text and the last
// non-empty line before it, which says what the block is.
struct CodeBlock {
    std::string Page, Language, Text, Caption;
    size_t Line = 0;  // [1-based] of the opening fence
};

std::vector<Page> Pages() {
    const fs::path source = QUORVELLE_SOURCE_DIR;
    std::vector<std::string> names = {"README.md"};
    for (const fs::directory_entry& entry : fs::directory_iterator(source / "docs")) {
        if (entry.path().extension() == ".md")
            names.push_back("docs/" + entry.path().filename().string());
    }
    std::sort(names.begin() + 1, names.end());
    std::vector<Page> pages;
    for (const std::string& name : names)
        pages.push_back({name, TextLines((source / name).string())});
    return pages;
}

bool IsFence(const std::string& line) { return line.rfind("```", 0) == 0; }

std::vector<CodeBlock> CodeBlocks(const Page& page) {
    std::vector<CodeBlock> blocks;
    std::string caption;
    for (size_t i = 0; i < page.Lines.size(); ++i) {
        if (!IsFence(page.Lines[i])) {
            if (!page.Lines[i].empty()) caption = page.Lines[i];
            continue;
        }
        CodeBlock block{page.Name, page.Lines[i].substr(3), "", caption, i + 1};
        for (++i; i < page.Lines.size() && !IsFence(page.Lines[i]); ++i) {
            block.Text += page.Lines[i] + "\n";
        }
        blocks.push_back(block);
    }
    return blocks;
}

// The page's text outside its fenced blocks.
std::string Prose(const Page& page) {
    std::string text;
    bool fenced = false;
    for (const std::string& line : page.Lines) {
        if (IsFence(line)) {
            fenced = !fenced;
        } else if (!fenced) {
            text += line + "\n";
        }
    }
    return text;
}

// The anchor a Markdown renderer gives a heading: lower case, blanks to hyphens, punctuation
// other than hyphens and underscores dropped ("Live capture: quorvelle-batch --capture" gives
// "live-capture-quorvelle-batch---capture").
std::string Slug(const std::string& heading) {
    std::string slug;
    for (const char c : heading) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || u >= 0x80 || c == '-' || c == '_') {
            slug += static_cast<char>(std::tolower(u));
        } else if (c == ' ') {
            slug += '-';
        }
    }
    return slug;
}

std::set<std::string> Anchors(const Page& page) {
    std::set<std::string> anchors;
    std::map<std::string, int> seen;  // a repeated heading's anchor gets -1, -2, ...
    std::istringstream prose(Prose(page));
    for (std::string line; std::getline(prose, line);) {
        const size_t hashes = line.find_first_not_of('#');
        if (hashes == 0 || hashes == std::string::npos || line[hashes] != ' ') continue;
        const std::string slug = Slug(line.substr(hashes + 1));
        const int n = seen[slug]++;
        anchors.insert(n == 0 ? slug : slug + "-" + std::to_string(n));
    }
    return anchors;
}

// The options a text names: "--" and a word, not inside a longer word ("csv-files---csv").
std::set<std::string> OptionNames(const std::string& text) {
    static const std::regex option(R"((^|[^\w-])(--[a-z][a-z0-9_]*(-[a-z0-9_]+)*))");
    std::set<std::string> names;
    for (auto m = std::sregex_iterator(text.begin(), text.end(), option);
         m != std::sregex_iterator(); ++m) {
        names.insert((*m)[2]);
    }
    return names;
}

const std::map<std::string, std::string>& Programs() {
    static const std::map<std::string, std::string> programs = {
        {"quorvelle", QUORVELLE_BIN},
        {"quorvelle-batch", QUORVELLE_BATCH_BIN},
        {"quorvelle-sim", QUORVELLE_SIM_BIN},
        {"quorvelle-report", QUORVELLE_REPORT_BIN}};
    return programs;
}

bool OnPath(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs `argv` in the folder `dir` to its end, its output in `folder`; a minute at most.
ToolRun RunIn(const TestFolder& folder, const std::string& dir, std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"env", "-C", dir});
    return RunProgram(argv, {}, folder.Path("run.out"), folder.Path("run.err"), 60s);
}

}  // namespace

// Links and anchors, the README's length, and the programs' own words: their --help as the
// pages quote it, and only options that some program (or the other tool named) takes.
TEST(Docs, LinksHelpTextsAndOptionsMatchTheFilesAndPrograms) {
    TestFolder folder;
    const std::vector<Page> pages = Pages();
    ASSERT_GE(pages.size(), 7u) << "README.md and the pages under docs/";
    EXPECT_LE(pages[0].Lines.size(), kReadmeMostLines) << "README.md has grown past a page";

    std::map<std::string, std::set<std::string>> anchors;
    for (const Page& page : pages) anchors[page.Name] = Anchors(page);
    const std::regex link(R"(\]\(([^)\s]*)\))");
    for (const Page& page : pages) {
        const std::string prose = Prose(page);
        for (auto m = std::sregex_iterator(prose.begin(), prose.end(), link);
             m != std::sregex_iterator(); ++m) {
            const std::string target = (*m)[1];
            if (target.find("://") != std::string::npos || target.rfind("mailto:", 0) == 0) {
                continue;
            }
            const size_t hash = target.find('#');
            const std::string file = target.substr(0, hash);
            const fs::path resolved =
                file.empty() ? fs::path(page.Name)
                             : (fs::path(page.Name).parent_path() / file).lexically_normal();
            EXPECT_TRUE(fs::exists(fs::path(QUORVELLE_SOURCE_DIR) / resolved))
                << page.Name << ": the link " << target << " points to no file";
            if (hash == std::string::npos) continue;
            const auto known = anchors.find(resolved.generic_string());
            ASSERT_NE(known, anchors.end()) << page.Name << ": " << target << ": not a page";
            EXPECT_TRUE(known->second.count(target.substr(hash + 1)))
                << page.Name << ": the link " << target << " names no heading of "
                << resolved.generic_string();
        }
    }

    std::map<std::string, std::string> help;
    std::set<std::string> accepted;
    for (const auto& [name, program] : Programs()) {
        const ToolRun run = RunIn(folder, folder.Dir(), {program, "--help"});
        ASSERT_EQ(run.Status, 0) << name << " --help: " << run.Err;
        help[name] = run.Out;
        for (const std::string& option : OptionNames(run.Out)) accepted.insert(option);
    }
    // Options of other tools the pages name: sox, cmake, the benchmark program, systemctl; and
    // the unknown option of the usage-error example.
    for (const char* other : {"--ignore-length", "--install", "--prefix", "--summary_only",
                              "--user", "--now", "--foo"}) {
        accepted.insert(other);
    }
    std::set<std::string> named;
    std::map<std::string, int> quoted;  // --help blocks, by program
    const std::regex helpCaption(R"(`(quorvelle(-batch|-sim|-report)?) --help`)");
    for (const Page& page : pages) {
        std::string text;
        for (const std::string& line : page.Lines) text += line + "\n";
        // Anchors in link targets are no options ("#csv-files---csv-and---iq-csv").
        text = std::regex_replace(text, link, "]");
        for (const std::string& option : OptionNames(text)) {
            named.insert(option);
            EXPECT_TRUE(accepted.count(option))
                << page.Name << " names " << option << ", which no program's --help lists";
        }
        for (const CodeBlock& block : CodeBlocks(page)) {
            std::smatch m;
            if (block.Language != "text" || !std::regex_search(block.Caption, m, helpCaption)) {
                continue;
            }
            ++quoted[m[1].str()];
            EXPECT_NE(help[m[1].str()].find(block.Text), std::string::npos)
                << page.Name << ":" << block.Line << ": the block quoting " << m[1]
                << " --help differs from what the program prints now:\n"
                << help[m[1].str()];
        }
    }
    for (const std::string& option : accepted) {
        EXPECT_TRUE(named.count(option)) << option << " is in no page of the guide";
    }
    for (const auto& [name, program] : Programs()) {
        EXPECT_GE(quoted[name], 1)
            << "no page quotes " << name << " --help (after a line \"`" << name << " --help`:\")";
    }
}

// Every ```gnuplot and ```python block of the pages, run as written in the folder of a short
// simulated run's CSV files (seconds.csv, periods.csv), at 8000 frames per second and at a
// card's 48000 (the CSV then has device_rate_hz): each ends well, gnuplot writes the PNG it
// names, Python prints its answer; the first seconds' empty cells must not trip them.
TEST(Docs, RecipesRunAsWrittenOnASimulatedRun) {
    for (const char* tool : {"gnuplot", "python3"}) {
        ASSERT_TRUE(OnPath(tool)) << tool << " is not installed (scripts/install-deps test "
                                  << "installs it: packages gnuplot-nox, python3)";
    }
    std::vector<CodeBlock> recipes;
    for (const Page& page : Pages()) {
        for (const CodeBlock& block : CodeBlocks(page)) {
            if (block.Language == "gnuplot" || block.Language == "python") recipes.push_back(block);
        }
    }
    ASSERT_GE(recipes.size(), 3u) << "the pages hold fewer recipes than they did";

    TestFolder folder;
    for (const char* rate : {"8000", "48000"}) {
        const std::string dir = folder.Path(std::string("rate") + rate);
        fs::create_directories(dir);
        const ToolRun batch =
            RunIn(folder, dir,
                  {QUORVELLE_BATCH_BIN, "--quiet", "--csv", "seconds.csv", "--iq-csv",
                   "periods.csv", "--simulate", "20", "--rate", rate, "--pps-jitter", "50e-9"});
        ASSERT_EQ(batch.Status, 0) << batch.Err;

        for (size_t k = 0; k < recipes.size(); ++k) {
            const CodeBlock& r = recipes[k];
            const std::string where = r.Page + ":" + std::to_string(r.Line) + " at " + rate + " Hz";
            const bool gnuplot = r.Language == "gnuplot";
            const std::string script = "recipe" + std::to_string(k) + (gnuplot ? ".gp" : ".py");
            WriteText(dir + "/" + script, r.Text);
            const ToolRun run = RunIn(folder, dir, {gnuplot ? "gnuplot" : "python3", script});
            EXPECT_EQ(run.Status, 0) << where << "\n" << run.Err;
            EXPECT_EQ(run.Err, "") << where << ": the recipe complains";
            if (!gnuplot) {
                EXPECT_NE(run.Out, "") << where << ": the recipe prints nothing";
                continue;
            }
            std::smatch output;
            ASSERT_TRUE(std::regex_search(r.Text, output, std::regex(R"(set output "([^"]+)\")")))
                << where << ": the recipe names no picture to write (set output)";
            const std::string png = FileText(dir + "/" + output[1].str());
            EXPECT_GT(png.size(), 1000u) << where << ": " << output[1] << " is not a picture";
            EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n") << where << ": not a PNG";
        }
    }
}

// make screenshots' script refuses, with one line that says what to do and before any X server
// starts, a build folder without the window program and a picture it cannot write.
TEST(Docs, ScreenshotsScriptSaysWhatIsMissingBeforeStarting) {
    TestFolder folder;
    const std::string script = (fs::path(QUORVELLE_SOURCE_DIR) / "scripts/screenshots").string();
    const std::string build = fs::path(QUORVELLE_BIN).parent_path().string();
    const std::string empty = folder.Path("empty-build");
    fs::create_directories(empty);
    const struct {
        std::vector<std::string> Args;
        std::string Says;
    } cases[] = {
        {{empty, folder.Path("window.png")},
         "screenshots: no " + empty + "/quorvelle: build it first (make build)"},
        {{build, folder.Path("gone/window.png")},
         "screenshots: cannot write " + folder.Path("gone/window.png") + ": " +
             folder.Path("gone") + " is not a writable folder"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {script};
        argv.insert(argv.end(), c.Args.begin(), c.Args.end());
        const ToolRun run = RunIn(folder, folder.Dir(), argv);
        EXPECT_EQ(run.Status, 1) << c.Says;
        EXPECT_EQ(run.Err, c.Says + "\n");
    }
    EXPECT_FALSE(fs::exists(folder.Path("window.png")));
}

}  // namespace qv
