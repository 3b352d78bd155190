// The tokenized program image: the layout of a ".bas" file.
//
// The file is the program as it sits in the machine's memory from 0x0800 on.
// All multi-byte values are little-endian.
//
//   file:    lead   record at 0x0801   record ...   end marker
//            00     (see below)                     00 00
//
//   record:  +0  link lo   \ address of the next record: this record's
//            +1  link hi   / address + body length + 5, kept to 16 bits
//            +2  line lo   \ line number, 0 to 65535
//            +3  line hi   /
//            +4  body      n >= 1 bytes, none of them 0x00; outside string
//                          literals a byte of 0x80 and up is a keyword token
//            +4+n  00      terminator
//
// The reader does not follow links; it walks the records in file order and
// stops at a link whose high byte is 0x00 (a link of zero is the end marker;
// a link below 0x0100 with a non-zero low byte marks machine code after the
// BASIC part), or when the file runs out.
#pragma once

namespace vbconv {

inline constexpr unsigned char lead_byte = 0x00;      // what the tokenizer writes first
inline constexpr unsigned char alt_lead_byte = 0x01;  // also accepted as a lead byte by the reader
inline constexpr unsigned load_address = 0x0801;      // address of the first record
inline constexpr unsigned record_overhead = 5;        // link, line number and terminator
inline constexpr unsigned char terminator = 0x00;     // ends a record's body
inline constexpr unsigned char quote = '"';           // opens and closes string literals

// The end-of-program test on a link read from the file.
constexpr bool ends_program(unsigned char link_hi) { return link_hi == 0x00; }

// Address of the record that follows one at `address` with a body of
// `body_length` bytes, kept to 16 bits as the link field holds it.
constexpr unsigned next_address(unsigned address, unsigned body_length) {
    return (address + body_length + record_overhead) & 0xFFFF;
}

}  // namespace vbconv
