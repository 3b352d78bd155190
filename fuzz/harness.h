// What the fuzz targets share: running a converter on bytes held in memory,
// and stopping with a message when a result breaks a rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "convert/streams.h"
#include "convert/warn.h"

namespace vbfuzz {

// What a converter wrote.
struct Output {
    std::string dest;      // the output stream
    std::string console;   // the echo
    int result = 0;        // the converter's return value, where it has one
    std::string warnings;  // what it warned about, the file named "in"
    int errors = 0;        // errors it met
};

// Runs `converter` with `input` as source, dest and console in memory.
template <typename Converter>
Output run(std::string_view input, Converter converter) {
    // fmemopen refuses a buffer of size 0, and the empty input matters.
    vbconv::source =
        input.empty() ? std::fopen("/dev/null", "rb") : fmemopen(const_cast<char *>(input.data()), input.size(), "r");
    char *dest_buf = nullptr, *console_buf = nullptr;
    std::size_t dest_size = 0, console_size = 0;
    vbconv::dest = open_memstream(&dest_buf, &dest_size);
    std::FILE *saved_console = vbconv::console;
    vbconv::console = open_memstream(&console_buf, &console_size);
    char *warn_buf = nullptr;
    std::size_t warn_size = 0;
    std::FILE *saved_warn = vbconv::warn_stream;
    vbconv::warn_stream = open_memstream(&warn_buf, &warn_size);
    if (vbconv::source == nullptr || vbconv::dest == nullptr || vbconv::console == nullptr ||
        vbconv::warn_stream == nullptr) {
        std::perror("vbconv fuzz: in-memory stream");
        std::abort();
    }

    Output out;
    vbconv::warnings_begin("in");
    out.result = converter();
    vbconv::warnings_end();
    out.errors = vbconv::file_errors();
    std::fclose(vbconv::source);
    std::fclose(vbconv::dest);
    std::fclose(vbconv::console);
    std::fclose(vbconv::warn_stream);
    vbconv::console = saved_console;
    vbconv::warn_stream = saved_warn;
    out.dest.assign(dest_buf, dest_size);
    out.console.assign(console_buf, console_size);
    out.warnings.assign(warn_buf, warn_size);
    std::free(dest_buf);
    std::free(console_buf);
    std::free(warn_buf);
    return out;
}

// Stops the run when `ok` is false; the fuzzer keeps the input that did it.
inline void require(bool ok, const char *rule) {
    if (ok) return;
    std::fprintf(stderr, "\nvbconv fuzz: broken rule: %s\n", rule);
    std::abort();
}

inline unsigned byte_at(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

}  // namespace vbfuzz
