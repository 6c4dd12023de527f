// The motion measure's start offsets and luma are defined by arithmetic on
// numbers with a 64-bit significand, rounded to nearest, ties to even: the
// x87 extended format. Only x86 has it as `long double` (aarch64 has a 113-bit
// one, others plain double), so the few operations needed are done here in
// integers, giving the same bits on every platform.
//
// Only non-negative finite values occur, which keeps this small.
#pragma once

#include <bit>
#include <cstdint>

namespace vistrel {

class Extended {
public:
    constexpr Extended() = default;

    static constexpr Extended From_Integer(uint64_t value) { return Rounded(value, 0, false); }

    // numerator / denominator, rounded once; a literal such as 0.299L is
    // Quotient(299, 1000). The denominator must be between 1 and 2^32, so
    // that the quotient keeps bits to round from.
    static constexpr Extended Quotient(uint64_t numerator, uint64_t denominator) {
        if (numerator == 0)
            return {};
        // Shifted so that the quotient keeps well over 64 bits to round from.
        const int shift = 127 - std::bit_width(numerator);
        const unsigned __int128 wide = static_cast<unsigned __int128>(numerator) << shift;
        return Rounded(wide / denominator, -shift, wide % denominator != 0);
    }

    friend constexpr Extended operator*(Extended a, Extended b) {
        if (a.Is_Zero() || b.Is_Zero())
            return {};
        return Rounded(static_cast<unsigned __int128>(a.significand_) * b.significand_,
                       a.exponent_ + b.exponent_, false);
    }

    friend constexpr Extended operator+(Extended a, Extended b) {
        if (a.Is_Zero())
            return b;
        if (b.Is_Zero())
            return a;
        if (b.exponent_ > a.exponent_)
            return b + a;
        // Both normalised, so the larger exponent is the larger value; the
        // smaller is aligned below it, its lost bits kept as a sticky flag.
        constexpr int kHeadroom = 63;
        const unsigned __int128 big = static_cast<unsigned __int128>(a.significand_) << kHeadroom;
        const unsigned __int128 small = static_cast<unsigned __int128>(b.significand_) << kHeadroom;
        const int distance = a.exponent_ - b.exponent_;
        unsigned __int128 aligned = 0;
        bool sticky = true;
        if (distance < 128) {
            aligned = small >> distance;
            sticky = (aligned << distance) != small;
        }
        return Rounded(big + aligned, a.exponent_ - kHeadroom, sticky);
    }

    // Exact, as halving is in binary.
    constexpr Extended Half() const {
        Extended h = *this;
        if (!h.Is_Zero())
            --h.exponent_;
        return h;
    }

    // Toward zero; the value must fit 64 bits.
    constexpr uint64_t Trunc() const {
        if (Is_Zero() || exponent_ <= -64)
            return 0;
        if (exponent_ >= 0)
            return significand_ << exponent_;
        return significand_ >> -exponent_;
    }

    // The value minus its integer part, which is exact.
    constexpr Extended Frac() const {
        if (Is_Zero() || exponent_ >= 0)
            return {};
        if (exponent_ <= -64)
            return *this;
        const uint64_t fraction = significand_ & ((uint64_t{1} << -exponent_) - 1);
        return Rounded(fraction, exponent_, false);
    }

    constexpr bool Is_Zero() const { return significand_ == 0; }
    constexpr uint64_t Significand() const { return significand_; }
    constexpr int Exponent() const { return exponent_; }

private:
    // exact × 2^exponent, with `sticky` telling that nonzero bits were lost
    // below `exact`, rounded to 64 significant bits.
    static constexpr Extended Rounded(unsigned __int128 exact, int exponent, bool sticky) {
        Extended out;
        if (exact == 0)
            return out;
        const int excess = static_cast<int>(Bit_Width(exact)) - 64;
        if (excess <= 0) {
            // Exact already; callers only lose bits when they have over 64.
            out.significand_ = static_cast<uint64_t>(exact) << -excess;
            out.exponent_ = exponent + excess;
            return out;
        }
        unsigned __int128 kept = exact >> excess;
        const unsigned __int128 rest = exact - (kept << excess);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (excess - 1);
        if (rest > half || (rest == half && (sticky || (kept & 1) != 0)))
            ++kept;
        int shifted = excess;
        if (kept >> 64 != 0) {
            kept >>= 1;
            ++shifted;
        }
        out.significand_ = static_cast<uint64_t>(kept);
        out.exponent_ = exponent + shifted;
        return out;
    }

    static constexpr int Bit_Width(unsigned __int128 value) {
        const auto high = static_cast<uint64_t>(value >> 64);
        return high != 0 ? 64 + std::bit_width(high) : std::bit_width(static_cast<uint64_t>(value));
    }

    uint64_t significand_ = 0; // top bit set unless the value is zero
    int exponent_ = 0;         // value = significand × 2^exponent
};

} // namespace vistrel
