// Code lengths chosen for what a block costs as a whole: its coded symbols
// plus the table block that sends the lengths. A plain Huffman code is the
// cheapest for the symbols alone, but its lengths jump about from symbol to
// symbol, and every length costs the table block a few bits; lengths that
// repeat (or repeat the previous table's) are sent as runs for much less.
#pragma once

#include <cstdint>

namespace pack {

// Chooses lengths[0..count-1] (at most max_length bits) for the symbol
// frequencies freq, laid out as consecutive tables that end at
// table_ends[0..tables-1] (the last is count); each table's code is a prefix
// code (its Kraft sum at most 1). Every symbol with a frequency gets a length;
// one without may get one too where that continues a run. The table block's
// bits are priced by length_code_lengths (the code of its 19 length symbols:
// 0-15 a length as (length - previous) mod 16, 16 the length before repeated
// 3-6 times with 2 extra bits, 17 and 18 runs of 3-10 and 11-138 zero lengths
// with 3 and 7 extra bits; a symbol the code leaves out costs max_length).
// The choice minimises the symbols' bits plus those prices, up to the
// discreteness of the method (a Lagrangian relaxation of each table's Kraft
// sum): callers compare it with a plain code. multipliers[0..tables-1] (the
// price of each table's code space) are a guess to start from where above 0,
// and are left as found: a later call for similar lengths starts from them.
void tune_table_lengths(const uint32_t* freq, int count, const int* table_ends, int tables, const uint8_t* previous,
                        const uint8_t* length_code_lengths, int max_length, uint8_t* lengths, double* multipliers);

}  // namespace pack
