#pragma once
// UTF-8 to Windows-1251, for the texts the demo package writes into the suite's win1251 columns.

#include <string>

// Converts UTF-8 text made of ASCII, the Russian and Ukrainian alphabets and the few typographic
// signs the word lists use (« » — № ’). Throws std::invalid_argument for anything else, so a word
// list can never slip bytes into a script that the database would read as other letters.
std::string Utf8ToCp1251(const std::string& utf8);
