// Writes random inputs for comparing two builds of vbconv byte for byte:
// listings (tNNNNN.txt) and images (bNNNNN.bas) made of what is hard to get
// right (keywords and their abbreviations, strings, DATA and REM, control
// bytes, line ends of every kind, high bytes, long lines, escapes) and the
// corpus listings, some of them cut or changed at random places.
//
//   random_inputs FOLDER COUNT SEED [CORPUS_DIR]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::mt19937 rng;

int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// Pieces of text and of bodies: spellings, their prefixes and abbreviations,
// and the bytes that change how a line reads.
const char *const text_pieces[] = {
    "PRINT", "PRint", "Pr",   "DOKE",     "DO",     "Do",    "KE",    "TO",    "GOTO",  "GOSUB", "DATA", "REM", "IF",
    "THEN",  "<<",    ">>",   "<",        ">",      "=",     "+",     "-",     "*",     "/",     "^",    "AND", "OR",
    "ON",    "OFF",   "POS(", "POSITION", "LEFT$(", "A",     "X1",    "I",     "HELLO", "10",    "0",    " ",   "  ",
    ":",     ",",     ";",    "\"",       "{",      "{$41}", "{$7b}", "{$00}", "$",     "}",     "\t",   "(",   ")",
};

std::string random_text_line(bool numbered) {
    std::string line;
    if (numbered) line = std::to_string(pick(0, 3) == 0 ? pick(-5, 70000) : pick(0, 9999)) + (pick(0, 3) ? " " : "");
    int pieces = pick(0, 4) == 0 ? pick(40, 120) : pick(0, 14);
    for (int i = 0; i < pieces; ++i) {
        int k = pick(0, 19);
        if (k < 16)
            line += text_pieces[pick(0, static_cast<int>(std::size(text_pieces)) - 1)];
        else if (k < 18)
            line += static_cast<char>(pick(0x20, 0x7E));
        else
            line += static_cast<char>(pick(1, 255));
    }
    return line;
}

// `big` ones run over several of the blocks the converters read and write.
std::string random_listing(bool big) {
    static const char *const ends[] = {"\n", "\r\n", "\r", "\n\r", "\n\n"};
    std::string text;
    if (pick(0, 20) == 0) text += "\xEF\xBB\xBF";
    int lines = big ? pick(5000, 12000) : pick(0, 40);
    for (int i = 0; i < lines; ++i) text += random_text_line(pick(0, 9) != 0) + ends[pick(0, 9) < 7 ? 0 : pick(1, 4)];
    if (pick(0, 3) == 0) text += random_text_line(true);  // no line end at the end
    return text;
}

std::string random_body() {
    std::string body;
    int size = pick(0, 9) == 0 ? pick(1, 300) : pick(1, 40);
    while (static_cast<int>(body.size()) < size) {
        int k = pick(0, 9);
        if (k < 4)
            body += static_cast<char>(pick(0x80, 0xF5));  // a token
        else if (k < 8)
            body += text_pieces[pick(0, static_cast<int>(std::size(text_pieces)) - 1)];
        else
            body += static_cast<char>(pick(1, 255));
    }
    for (char &c : body)
        if (c == 0) c = 'Z';
    return body;
}

std::string random_image(bool big) {
    std::string img(1, static_cast<char>(pick(0, 15) == 0 ? 1 : 0));
    unsigned address = 0x0801, number = pick(0, 3) == 0 ? 0 : pick(0, 100);
    int records = big ? pick(5000, 12000) : pick(0, 30);
    for (int r = 0; r < records; ++r) {
        std::string body = pick(0, 30) == 0 ? std::string() : random_body();
        if (number == 0 && pick(0, 3) == 0) body = "\x12" + body;  // alignment mode
        unsigned link = (address + static_cast<unsigned>(body.size()) + 5) & 0xFFFF;
        if (pick(0, 25) == 0) link = pick(1, 0xFFFF);
        img += static_cast<char>(link & 0xFF);
        img += static_cast<char>(link >> 8);
        img += static_cast<char>(number & 0xFF);
        img += static_cast<char>(number >> 8);
        img += body;
        img += '\0';
        address = link;
        number += pick(0, 10) == 0 ? 0 : pick(1, 200);
    }
    int end = pick(0, 12);
    if (end == 0) img += std::string(1, static_cast<char>(pick(1, 255))) + '\0';  // a machine-language link
    if (end != 1) img += std::string(2, '\0');
    if (end == 2) img += "trailing";
    return img;
}

// A corpus listing, or its image made by hand from none: cut short or with
// a few bytes changed.
std::string mutated(std::string s) {
    int changes = pick(0, 4);
    for (int i = 0; i < changes && !s.empty(); ++i)
        s[pick(0, static_cast<int>(s.size()) - 1)] = static_cast<char>(pick(0, 255));
    if (!s.empty() && pick(0, 3) == 0) s.resize(pick(0, static_cast<int>(s.size())));
    return s;
}

void write(const fs::path &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: random_inputs FOLDER COUNT SEED [CORPUS_DIR]\n");
        return 2;
    }
    fs::path folder = argv[1];
    int count = std::atoi(argv[2]);
    rng.seed(static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)));
    std::vector<std::string> corpus;
    if (argc > 4)
        for (const auto &entry : fs::directory_iterator(argv[4]))
            if (entry.path().extension() == ".txt") {
                std::ifstream in(entry.path(), std::ios::binary);
                corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        char name[16];
        bool text = i % 2 == 0;
        std::snprintf(name, sizeof name, text ? "t%05d.txt" : "b%05d.bas", i);
        std::string bytes;
        bool big = i % 400 < 2;
        if (text)
            bytes = !corpus.empty() && pick(0, 4) == 0 ? mutated(corpus[pick(0, static_cast<int>(corpus.size()) - 1)])
                                                       : random_listing(big);
        else
            bytes = pick(0, 8) == 0 ? mutated(random_image(big)) : random_image(big);
        write(folder / name, bytes);
    }
    return 0;
}
