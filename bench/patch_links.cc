// Gives every record link of a program image a non-zero high byte, in place.
//
//   patch_links IMAGE
//
// A real image of many megabytes wraps its 16-bit links, and the lister stops
// at the first link below 0x0100, so it would list only the first 64 KB.  The
// lister reads nothing else from a link, so with the high bytes made non-zero
// it walks every record.  The image must be one the tokenizer wrote: lead
// byte, records with non-empty bodies free of 0x00, end marker 00 00, which
// stays as it is.
#include <cstdio>
#include <vector>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: patch_links IMAGE\n");
        return 2;
    }
    std::FILE *f = std::fopen(argv[1], "r+b");
    if (f == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<unsigned char> image;
    unsigned char block[1 << 16];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) image.insert(image.end(), block, block + n);

    std::size_t end = image.size() - 2;  // where the end marker sits
    if (image.size() < 3 || image[0] != 0x00 || image[end] != 0x00 || image[end + 1] != 0x00) {
        std::fprintf(stderr, "patch_links: %s: not an image from the tokenizer\n", argv[1]);
        return 1;
    }
    std::size_t pos = 1, records = 0, patched = 0;
    while (pos < end) {
        if (image[pos + 1] == 0x00) {
            image[pos + 1] = 0x01;
            ++patched;
        }
        pos += 4;
        if (pos >= end || image[pos] == 0x00) break;  // a record must have a body
        while (pos < end && image[pos] != 0x00) ++pos;
        ++pos;  // the terminator
        ++records;
    }
    if (pos != end) {
        std::fprintf(stderr, "patch_links: %s: records do not end at the end marker\n", argv[1]);
        return 1;
    }
    if (std::fseek(f, 0, SEEK_SET) != 0 || std::fwrite(image.data(), 1, image.size(), f) != image.size() ||
        std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::printf("%s: %zu records, %zu links given a high byte\n", argv[1], records, patched);
    return 0;
}
