// The sample programs in examples/: their images hold exactly the bytes
// written out below, and the program converts each form into the other.
#include <gtest/gtest.h>

#include "support.h"

using vbtest::image;
using vbtest::read_file;
using vbtest::tok;

namespace {

std::string t(const char *spelling) { return std::string(1, tok(spelling)); }

const std::string examples = EXAMPLES_DIR;

std::string graphics_image() {
    return image({
        {10, t("REM") + " GRAPHICS DEMO: A FRAMED WINDOW, A PLOTTED WAVE AND A FILLED BOX"},
        {20, t("WINDOW") + " 0,0,319,199"},
        {30, t("COLOR") + " 1:" + t("BORDER") + " 0"},
        {40, t("FRAME") + " 10,10,309,189"},
        {50, t("LINE") + " 10,100,309,100"},
        {60, t("FOR") + " X" + t("=") + "20 " + t("TO") + " 300 " + t("STEP") + " 4"},
        {70, t("PLOT") + " X,100" + t("+") + t("INT(") + t("SIN(") + "X" + t("/") + "20)" + t("*") + "50)"},
        {80, t("NEXT") + " X"},
        {90, t("RECT") + " 40,40,120,90"},
        {100, t("FILL") + " 60,60"},
        {110, t("PRINT") + " \"DONE\""},
        {120, t("END")},
    });
}

std::string labloop_image() {
    return image({
        {10, t("REM") + " LAB INSTRUMENT LOOP: TEN SAMPLES FROM CHANNEL 1"},
        {20, t("LABSET") + " 1,0"},
        {30, t("DIM") + " V(10)"},
        {40, t("FOR") + " N" + t("=") + "1 " + t("TO") + " 10"},
        {50, t("LABREQ") + " 1,V(N)"},
        {60, t("IF") + " " + t("LABERR") + " " + t("THEN") + " " + t("PRINT") + " \"ERROR \";" + t("LABERR") + ":" +
                 t("GOTO") + " 100"},
        {70, t("PRINT") + " N;\" \";V(N)"},
        {80, t("WAIT") + " 100"},
        {90, t("NEXT") + " N"},
        {100, t("LABSET") + " 1,1"},
        {110, t("END")},
    });
}

}  // namespace

TEST(Examples, ImagesHoldTheirRecipes) {
    EXPECT_EQ(read_file(examples + "/graphics.bas"), graphics_image());
    EXPECT_EQ(read_file(examples + "/labloop.bas"), labloop_image());
}

// The listings are copied under other stems: where the file system ignores
// case, graphics.TXT would be graphics.txt itself.
TEST(Examples, EachFormConvertsIntoTheOther) {
    vbtest::Scratch s;
    for (const char *name : {"graphics", "labloop"}) {
        std::string stem = name;
        vbtest::write_file(s.path(stem + ".bas"), read_file(examples + "/" + stem + ".bas"));
        vbtest::write_file(s.path(stem + "-text.txt"), read_file(examples + "/" + stem + ".txt"));
    }
    vbtest::Run r = vbtest::run_vbconv(s.dir, {"graphics.bas", "labloop.bas", "graphics-text.txt", "labloop-text.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char *name : {"graphics", "labloop"}) {
        std::string stem = name;
        EXPECT_EQ(read_file(s.path(stem + ".TXT")), read_file(examples + "/" + stem + ".txt")) << stem;
        EXPECT_EQ(read_file(s.path(stem + "-text.BAS")), read_file(examples + "/" + stem + ".bas")) << stem;
    }
}
