// Real programs nobody here wrote, converted back and forth by the built
// program, one run per step with every file named, as a user would.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "support.h"

namespace fs = std::filesystem;
using vbtest::read_file;
using vbtest::write_file;

namespace {

// Stems of the corpus listings, sorted.
std::vector<std::string> corpus_stems() {
    std::vector<std::string> stems;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(CORPUS_DIR, ec))
        if (entry.path().extension() == ".txt") stems.push_back(entry.path().stem().string());
    std::sort(stems.begin(), stems.end());
    return stems;
}

// Copies `from_dir/stem + from_ext` to `to_dir/stem + to_ext` for every stem,
// runs vbconv once on all of them in `to_dir`, and checks the run went well
// and warned about nothing, or only about the BEL bytes of the two programs
// that have them in strings when `bel_warnings` is set.
void convert_all(const std::vector<std::string> &stems, const std::string &from_dir, const std::string &from_ext,
                 const std::string &to_dir, const std::string &to_ext, bool bel_warnings = false) {
    fs::create_directories(to_dir);
    std::vector<std::string> args;
    for (const auto &stem : stems) {
        write_file(to_dir + "/" + stem + to_ext, read_file(from_dir + "/" + stem + from_ext));
        args.push_back(stem + to_ext);
    }
    vbtest::Run r = vbtest::run_vbconv(to_dir, args);
    ASSERT_EQ(r.status, 0) << r.err;
    if (!bel_warnings) {
        ASSERT_EQ(r.err, "");
        return;
    }
    std::map<std::string, int> warned;
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);) {
        std::string file = line.substr(0, line.find(':'));
        std::size_t sample = line.find("warning: ") == std::string::npos ? std::string::npos : line.find("dropped: ");
        ASSERT_NE(sample, std::string::npos) << line;
        std::string bytes = line.substr(sample + 9, line.find(';') - sample - 9);
        EXPECT_EQ(bytes.find_first_not_of("$07 ."), std::string::npos) << line;  // BEL bytes, and only they
        ++warned[file];
    }
    EXPECT_EQ(warned.size(), 2u) << r.err;
    EXPECT_GT(warned["bowling.bas"], 0) << r.err;
    EXPECT_GT(warned["slalom.bas"], 0) << r.err;
}

std::string without_bel(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\a'), text.end());
    return text;
}

class Corpus : public ::testing::Test {
  protected:
    void SetUp() override {
        stems = corpus_stems();
        // A missing corpus fails: a skip would pass a suite that tested less.
        ASSERT_EQ(stems.size(), 102u) << "expected the 102 corpus listings (*.txt) in " << CORPUS_DIR;
        // text -> image -> listing -> image -> listing, each step in a folder of its own
        ASSERT_NO_FATAL_FAILURE(convert_all(stems, CORPUS_DIR, ".txt", s.path("text"), ".txt"));
        ASSERT_NO_FATAL_FAILURE(convert_all(stems, s.path("text"), ".BAS", s.path("image"), ".bas", true));
        ASSERT_NO_FATAL_FAILURE(convert_all(stems, s.path("image"), ".TXT", s.path("listing"), ".txt"));
        ASSERT_NO_FATAL_FAILURE(convert_all(stems, s.path("listing"), ".BAS", s.path("again"), ".bas"));
    }
    vbtest::Scratch s;
    std::vector<std::string> stems;
};

}  // namespace

TEST_F(Corpus, ImagesSurviveAListingAndBack) {
    int identical = 0;
    for (const auto &stem : stems) {
        std::string first = read_file(s.path("text/" + stem + ".BAS"));
        std::string second = read_file(s.path("listing/" + stem + ".BAS"));
        if (stem == "bowling" || stem == "slalom") {
            // Their strings hold BEL bytes, which a listing drops.
            EXPECT_NE(first, second) << stem;
            std::string text = without_bel(read_file(std::string(CORPUS_DIR) + "/" + stem + ".txt"));
            EXPECT_EQ(second, vbtest::tokenize(text).dest) << stem;
        } else {
            EXPECT_EQ(first, second) << stem;
            identical += first == second;
        }
    }
    EXPECT_EQ(identical, 100);
}

TEST_F(Corpus, ListingsReReadAsTheirImages) {
    for (const auto &stem : stems) {
        // The listing of the re-read image is the listing it was read from.
        EXPECT_EQ(read_file(s.path("again/" + stem + ".TXT")), read_file(s.path("image/" + stem + ".TXT"))) << stem;
        EXPECT_GT(read_file(s.path("image/" + stem + ".TXT")).size(), 0u) << stem;
    }
}
