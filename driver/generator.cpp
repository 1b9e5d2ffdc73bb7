// The pseudo-random generator that fills the exact solution of the test
// system: KISS (congruential + xorshift + two multiply-with-carry) over a
// process-wide state of eight 32-bit words, with a byte-shuffled seeding.
#include <cstdint>
#include <cstring>

#include "driver/benchmark.hpp"

namespace pband {

namespace {

constexpr std::uint32_t kDefaultState[8] = {
    123456789u, 362436069u, 521288629u, 316191069u,
    987654321u, 458629013u, 582859209u, 438195021u};

constexpr std::int32_t kBenchmarkSeed[kSeedSize] = {
    12345678, 87654321, 23456781, 76543218,
    34567812, 65432187, 45678123, 54321876};

// Words 0-3: first KISS state; 4-7: second. Drawn only by one thread.
std::uint32_t g_state[8] = {
    123456789u, 362436069u, 521288629u, 316191069u,
    987654321u, 458629013u, 582859209u, 438195021u};

std::uint32_t kiss_step(std::uint32_t* t) {
  t[0] = 69069u * t[0] + 1327217885u;
  t[1] ^= t[1] << 13;
  t[1] ^= t[1] >> 17;
  t[1] ^= t[1] << 5;
  t[2] = 18000u * (t[2] & 65535u) + (t[2] >> 16);
  t[3] = 30903u * (t[3] & 65535u) + (t[3] >> 16);
  return t[0] + t[1] + (t[2] << 16) + t[3];
}

std::uint8_t byte_of(const std::uint32_t* words, int k) {
  return static_cast<std::uint8_t>(words[k / 4] >> (8 * (k % 4)));
}

void set_byte(std::uint32_t* words, int k, std::uint8_t value) {
  const int shift = 8 * (k % 4);
  words[k / 4] = (words[k / 4] & ~(0xFFu << shift)) |
                 (static_cast<std::uint32_t>(value) << shift);
}

// Byte k of the reversed seed block lands in state byte k/2 + 16·(k mod 2).
int state_byte_for(int k) { return k / 2 + 16 * (k % 2); }

}  // namespace

void seed_size(std::int32_t& count) { count = kSeedSize; }

void put_seed(const std::int32_t* seed) {
  std::uint32_t block[8];
  for (int i = 0; i < 8; ++i) block[i] = static_cast<std::uint32_t>(seed[7 - i]);
  std::uint32_t state[8] = {};
  for (int k = 0; k < 32; ++k) set_byte(state, state_byte_for(k), byte_of(block, k));
  std::memcpy(g_state, state, sizeof g_state);
}

void get_seed(std::int32_t* seed) {
  std::uint32_t block[8] = {};
  for (int k = 0; k < 32; ++k) set_byte(block, k, byte_of(g_state, state_byte_for(k)));
  for (int i = 0; i < 8; ++i) seed[7 - i] = static_cast<std::int32_t>(block[i]);
}

void reset_generator() { std::memcpy(g_state, kDefaultState, sizeof g_state); }

void seed_test_generator() {
  std::int32_t count = 0;
  seed_size(count);
  std::int32_t seed[kSeedSize];
  for (std::int32_t i = 0; i < count; ++i) seed[i] = kBenchmarkSeed[i];
  put_seed(seed);
}

void random_uniform_r4(float& x) {
  const std::uint32_t r = kiss_step(g_state);
  x = static_cast<float>(r >> 8) * 0x1p-24f;
}

void random_uniform_r8(double& x) {
  const std::uint64_t a = kiss_step(g_state);
  const std::uint64_t b = kiss_step(g_state + 4);
  const std::uint64_t r = (a << 32) | b;
  x = static_cast<double>(r >> 11) * 0x1p-53;
}

}  // namespace pband
