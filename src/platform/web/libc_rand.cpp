// libc_rand.cpp: rand and srand for the web build, the same sequence as the desktop's C library
// gives, so that the particles (the show's only user of rand) move as they do on the desktop.
// Main thread.
//
// The desktop's generator: 31 words of state seeded by the 16807 multiplicative generator
// (modulo 2^31 - 1), then each new word is the sum of the words 3 and 31 places back (modulo
// 2^32) and the result is that word shifted right by one; the first 310 results are thrown
// away after seeding. Never seeded counts as seeded with 1. Linked into the program before the
// browser's C library, these definitions take the place of its rand and srand.
#include <cstdint>

namespace {

constexpr int kWords = 31;
constexpr int kSeparation = 3;
constexpr int kDiscarded = 310;

struct RandState {
    uint32_t words[kWords];
    int front = kSeparation; // the word that takes the sum
    int rear = 0;            // the word added to it
    bool seeded = false;
};
RandState state;

int32_t Next() {
    uint32_t& word = state.words[state.front];
    word += state.words[state.rear];
    const int32_t result = int32_t(word >> 1);
    state.front = (state.front + 1) % kWords;
    state.rear = (state.rear + 1) % kWords;
    return result;
}

void Seed(unsigned seed) {
    int32_t word = seed == 0 ? 1 : int32_t(seed);
    state.words[0] = uint32_t(word);
    for (int i = 1; i < kWords; ++i) {
        // 16807 * word modulo 2^31 - 1 without overflow (127773 * 16807 + 2836 = 2^31 - 1).
        const int32_t hi = word / 127773, lo = word % 127773;
        word = 16807 * lo - 2836 * hi;
        if (word < 0) word += 2147483647;
        state.words[i] = uint32_t(word);
    }
    state.front = kSeparation;
    state.rear = 0;
    state.seeded = true;
    for (int i = 0; i < kDiscarded; ++i) Next();
}

} // namespace

extern "C" {

void srand(unsigned seed) {
    Seed(seed);
}

int rand(void) {
    if (!state.seeded) Seed(1);
    return Next();
}

} // extern "C"
