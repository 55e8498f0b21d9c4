#include "cp932.h"

namespace kerfline {

namespace {

// Where a lead byte's row is in the table, or -1: F0 to F9 are the
// user-defined rows, which map to the private use area by rule.
int table_row(unsigned char lead) {
    if (lead >= 0x81 && lead <= 0x9f) return lead - 0x81;
    if (lead >= 0xe0 && lead <= 0xef) return lead - 0xe0 + 31;
    if (lead >= 0xfa && lead <= 0xfc) return lead - 0xfa + 47;
    return -1;
}

}  // namespace

std::size_t cp932_character(std::string_view bytes, char32_t& character) {
    if (bytes.empty()) return 0;
    const auto lead = static_cast<unsigned char>(bytes[0]);
    if (lead < 0x80) {
        character = lead;
        return 1;
    }
    if (lead >= 0xa1 && lead <= 0xdf) {  // half-width katakana
        character = 0xff61 + (lead - 0xa1);
        return 1;
    }
    if (bytes.size() < 2) return 0;
    const auto trail = static_cast<unsigned char>(bytes[1]);
    if (trail < 0x40 || trail == 0x7f || trail > 0xfc) return 0;
    const int column = trail - (trail < 0x7f ? 0x40 : 0x41);
    if (lead >= 0xf0 && lead <= 0xf9) {
        character = 0xe000 + static_cast<char32_t>((lead - 0xf0) * cp932_trails + column);
        return 2;
    }
    const int row = table_row(lead);
    if (row < 0 || cp932_pairs[row][column] == 0) return 0;
    character = cp932_pairs[row][column];
    return 2;
}

}  // namespace kerfline
