#pragma once
// The effects' two pseudo-random generators. Both are tiny value types: copy one to fork a stream,
// never share one between worker threads (results must not depend on scheduling).

#include <cstdint>

namespace Orvex::Document::Filters::Common {

// 32-bit linear congruential generator: state = state * 214013 + 2531011 (mod 2^32), value drawn
// = (state >> 16) & 0x7FFF. Drawing a value means advancing first, then reading.
class cLcgRandom {
public:
    static constexpr std::uint32_t kMultiplier = 214013u;
    static constexpr std::uint32_t kIncrement = 2531011u;
    static constexpr int kMaxValue = 0x7FFF;

    explicit constexpr cLcgRandom(std::uint32_t seed = 0) : m_state(seed) {}

    constexpr void seed(std::uint32_t seed) { m_state = seed; }
    constexpr std::uint32_t state() const { return m_state; }

    // Advances one step and returns the new state (some effects read other bits of it).
    constexpr std::uint32_t step() {
        m_state = m_state * kMultiplier + kIncrement;
        return m_state;
    }
    // Advances `count` steps at once, as `count` calls of step() would, in O(log count): the
    // composition of n steps is itself an affine map state * a + c, built by repeated squaring.
    constexpr void skip(std::uint64_t count) {
        std::uint32_t a = 1, c = 0;                            // the steps taken so far
        std::uint32_t stepA = kMultiplier, stepC = kIncrement; // 2^i steps
        while (count) {
            if (count & 1u) {
                a *= stepA;
                c = c * stepA + stepC;
            }
            stepC = stepC * stepA + stepC;
            stepA *= stepA;
            count >>= 1;
        }
        m_state = m_state * a + c;
    }
    // One draw: 0 ... 32767.
    constexpr int next() { return static_cast<int>((step() >> 16) & 0x7FFFu); }
    // One draw scaled to 0 ... 1 as r / 32767.
    double nextUnit() { return next() / 32767.0; }
    // One draw scaled to -1 ... 1 as 2 r / 32767 - 1.
    double nextSigned() { return 2.0 * nextUnit() - 1.0; }

private:
    std::uint32_t m_state;
};

// 20-bit linear-feedback shift register: state = (state >> 1) ^ (state & 1 ? 0x90000 : 0).
// A non-zero state cycles through every non-zero 20-bit value; zero stays zero.
class cShiftRegister20 {
public:
    static constexpr std::uint32_t kTaps = 0x90000u;

    explicit constexpr cShiftRegister20(std::uint32_t seed = 1) : m_state(seed & 0xFFFFFu) {}

    constexpr void seed(std::uint32_t seed) { m_state = seed & 0xFFFFFu; }
    constexpr std::uint32_t state() const { return m_state; }
    // Advances one step and returns the new state (1 ... 0xFFFFF).
    constexpr std::uint32_t next() {
        m_state = (m_state >> 1) ^ ((m_state & 1u) ? kTaps : 0u);
        return m_state;
    }

private:
    std::uint32_t m_state;
};

} // namespace Orvex::Document::Filters::Common
