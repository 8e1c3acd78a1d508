// The library's model for fuzzing: turns fuzzer bytes into calls of the nine
// procedures the way a simulator makes them (every offset and size within
// the vectors it passes), runs them on the library's objects linked into this
// program, and checks after every call, against an independent model of
// what each procedure computes, what must always hold. A failed check prints
// what was wrong and aborts, which libFuzzer and the replay tests report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace su55if::fuzz {

// The fuzzer's bytes, read front to back; an exhausted input reads as zeros,
// so every input is a complete, deterministic run.
class Input {
public:
    Input(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    bool exhausted() const { return position_ >= size_; }
    std::uint8_t byte();
    std::uint32_t u32();
    std::uint64_t u64();
    bool flag() { return (byte() & 1U) != 0; }
    // An integer in [low, high] (high - low below 2^32).
    std::int64_t between(std::int64_t low, std::int64_t high);

    // Any real, the edges of the double range weighted up: NaNs with payloads
    // of either sign, signed zeros, infinities, subnormals, halves, values
    // around +-2^31 and around the stage limit.
    double real();
    // A real that carries an integer: mostly near 0..count + 2, with the
    // fractions that decide the rounding; sometimes any real.
    double integerLike(std::int64_t count);
    // A duration: from a short list (so that equal values and repeats are
    // common), or any real.
    double duration();
    // A time: the initial point (0, -0, negative), small and large positive
    // times, NaN; or any real.
    double time();
    // A call mode: 0, 3 and 4 most often, their truncation neighbours, the
    // modes that ask for nothing, and any real.
    double callMode();
    // A count of stages: 0..5, around the limit of 100, up to 130, negative.
    std::int32_t stageCount();

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

enum class Procedure { DEFST, CHKST, UPSTGTIM, INTTIM, IINTTIM, ACTYP, IACTYP, REPTIM, PFNRSWTCH };
inline constexpr int kProcedureCount = 9;

const char *nameOf(Procedure procedure);

// Which procedures a fuzz target calls; bit i is Procedure(i).
using ProcedureSet = unsigned;
inline constexpr ProcedureSet only(Procedure p) { return 1U << static_cast<unsigned>(p); }
inline constexpr ProcedureSet kAllProcedures = (1U << kProcedureCount) - 1U;

// Runs one fuzz input: a fresh stage table (as after loading the library),
// then calls of the procedures in `allowed`, chosen and filled from the
// input, each checked. Procedures outside `allowed` may still define a
// schedule first when the input asks for one (those calls are checked too).
void runSession(const std::uint8_t *data, std::size_t size, ProcedureSet allowed);

}  // namespace su55if::fuzz
