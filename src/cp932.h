// Code page 932, Shift_JIS as Windows writes it, read into Unicode: how a
// form written on Windows is shown on a UTF-8 terminal.
#pragma once

#include <cstddef>
#include <string_view>

namespace kerfline {

// The character that `bytes` begin with in code page 932: its length in
// bytes, 1 or 2, with its code point in `character`; 0 when they begin
// with no character of it.
std::size_t cp932_character(std::string_view bytes, char32_t& character);

// The table of double-byte characters, in cp932_table.cpp: 50 lead bytes
// (81-9F, E0-EF, FA-FC) by 188 trail bytes (40-7E, 80-FC).
inline constexpr std::size_t cp932_table_leads = 50;
inline constexpr std::size_t cp932_trails = 188;
extern const char16_t cp932_pairs[cp932_table_leads][cp932_trails];

}  // namespace kerfline
