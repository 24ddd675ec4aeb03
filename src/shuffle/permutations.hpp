// Seeding the C library's generator and drawing the random permutations.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "log.hpp"

namespace vorn {

// The seed a line of `date` output gives: atoi of the characters at offsets
// 15 and 18 (the last digits of the minutes and of the seconds). Offsets at or
// past the end of the line read as the end of the string.
int seed_from_date_line(const std::string& line);

// Runs `date` through a pipe and seeds srand from its first line, the seed
// also in *seed. Returns 0, -1 when the command cannot be started, -2 when it
// prints nothing.
int setsrand(int32_t* seed);

// The index drawn from lo..hi by one value r of rand(). The top value of rand
// would give hi + 1, which is no remaining index: it is taken as hi.
int64_t draw_index(int64_t lo, int64_t hi, long r);

// Draws nsuffl permutations of 1..nprot into sufix[1..nsuffl][1..nprot],
// calling rand() exactly nprot times per permutation. drawlist needs nprot + 3
// entries.
void draw_permutations(int64_t nsuffl, int32_t nprot, int32_t* const* sufix, int32_t* drawlist, Log& log);

// The -3 listing.
void print_permutations(FILE* out, int64_t nsuffl, int32_t nprot, const int32_t* const* sufix);

}  // namespace vorn
