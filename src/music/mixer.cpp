// mixer.cpp: renders ring blocks: drives the sequencer's ticks at exact frame counts, mixes the
// voices (nearest point, linear, cubic or sinc reading; loops and volume ramps) into float with
// the listener's controls, and converts to 16-bit PCM, clipped or through the limiter. Vector
// loops (SSE2) give the same bits as the portable ones. Runs on the thread that renders the
// player at the time. Allocates nothing.
#include "music/mixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "music/interpolation.h"
#include "music/module.h"
#include "music/player.h"
#include "music/rule_set.h"

namespace {

constexpr float GAIN_SCALE = 1.0f / 255.0f;
constexpr float VOLUME_SCALE = 1.0f / 256.0f;
// Just below 2^-31: the fraction is halved first so that it fits a signed conversion.
constexpr float INTERPOLATION_SCALE = 4.65612e-10f;
// A boundary this far away (2^24 frames) cannot be reached within one call.
constexpr uint64_t FAR_AWAY = uint64_t{1} << 56;
// Bounces beyond this many within one step only happen with steps far larger than the loop;
// the rest are folded with one division (the 2^-32 per bounce is then dropped).
constexpr int MAX_BOUNCES = 16;

inline float Interpolate(const int16_t* data, uint64_t position) {
    const uint32_t i = static_cast<uint32_t>(position >> 32);
    const float w = static_cast<float>(static_cast<uint32_t>(position) >> 1) * INTERPOLATION_SCALE;
    const float a = data[i];
    return a + (static_cast<float>(data[i + 1]) - a) * w;
}

// How a voice reads its sample at a 32.32 position. `data` is the sample's left (or only)
// channel or its right one.
struct NearestRead {
    float operator()(const int16_t* data, uint64_t position) const {
        return data[static_cast<uint32_t>(position >> 32)];
    }
};

struct LinearRead {
    float operator()(const int16_t* data, uint64_t position) const {
        return Interpolate(data, position);
    }
};

#if defined(__GNUC__)
#define MIXER_INLINE inline __attribute__((always_inline))
#define MIXER_NOINLINE __attribute__((noinline))
#else
#define MIXER_INLINE inline
#define MIXER_NOINLINE
#endif

// Weighs `taps` points (a multiple of eight) by a kernel's phase, in integers: exact, so the
// vector loop and the portable one agree to the bit. A phase's weights add up to at most 1.54
// in magnitude, so a sum stays within 32768 x 16384 x 1.54 (below 2^30): it fits 32 bits.
MIXER_INLINE int32_t Dot(const int16_t* points, const int16_t* weights, int32_t taps) {
#if defined(__SSE2__)
    __m128i sum = _mm_setzero_si128();
    for (int32_t t = 0; t < taps; t += 8)
        sum = _mm_add_epi32(
            sum, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(points + t)),
                                _mm_load_si128(reinterpret_cast<const __m128i*>(weights + t))));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(sum);
#else
    int32_t sum = 0;
    for (int32_t t = 0; t < taps; ++t) sum += int32_t{points[t]} * weights[t];
    return sum;
#endif
}

constexpr float KERNEL_SCALE = 1.0f / KERNEL_ONE;

// Reads through a weight table (the cubic spline, the sinc). Points the kernel reaches beyond
// the sample are what the voice would play there: the loop's continuation (forwards, or mirrored
// in a ping-pong loop), silence before the start and after the end of a sample without a loop.
// Before a loop's start the sample's own points are used, as on the first pass (a loop from the
// sample's first point continues backwards into its end instead). `Taps` fixes the kernel's
// width at compile time (8: the cubic's, and the sinc's for steps up to 1); 0 takes it from the
// kernel.
template <int Taps> struct KernelRead {
    static constexpr bool kernel = true;
    const int16_t* weights;
    int32_t taps;
    int32_t shift;  // the position's fraction to the table's phase
    int32_t before; // points the kernel reaches before the position's point
    const Sample* sample;
    int64_t safeLow;  // positions whose kernel lies wholly within the points that are read as
    int64_t safeHigh; // stored: safeLow <= i < safeHigh

    // The points just before and after the loop's end (or the sample's end) and around the
    // sample's start, as Gather gives them, for kernels that reach across: a voice on a short
    // loop spends much of its time there. Made for the sample's first (or only) channel.
    const int16_t* edgeData;
    int64_t tailFrom; // the first point of `tail`; `head` starts at -taps
    alignas(16) int16_t tail[2 * MAX_KERNEL_TAPS];
    alignas(16) int16_t head[2 * MAX_KERNEL_TAPS];

    KernelRead(const Kernel& kernel, const Sample* s)
        : weights(kernel.weights), taps(Taps ? Taps : kernel.taps), shift(32 - kernel.phaseBits) {
        before = taps / 2 - 1;
        sample = s;
        const bool loops =
            (s->loopKind == LOOP_FORWARD || s->loopKind == LOOP_PINGPONG) && s->loopLength > 0;
        const int64_t end =
            loops ? int64_t{s->loopStart} + s->loopLength : static_cast<int64_t>(s->length);
        safeLow = before;
        safeHigh = end - (taps - before) + 1;
        edgeData = s->data;
        tailFrom = end - taps;
        if (edgeData) {
            Gather(edgeData, tailFrom, tail);
            Gather(edgeData, tailFrom + taps, tail + taps);
            Gather(edgeData, -taps, head);
            Gather(edgeData, 0, head + taps);
        }
    }

    // The points from j on, as the voice plays them, into `points`.
    MIXER_NOINLINE void Gather(const int16_t* data, int64_t j, int16_t* points) const {
        const Sample& s = *sample;
        const bool loops =
            (s.loopKind == LOOP_FORWARD || s.loopKind == LOOP_PINGPONG) && s.loopLength > 0;
        if (!loops) {
            const int64_t length = s.length;
            for (int32_t t = 0; t < taps; ++t, ++j) points[t] = j >= 0 && j < length ? data[j] : 0;
            return;
        }
        const int64_t start = s.loopStart, span = s.loopLength, end = start + span;
        int32_t t = 0;
        for (; t < taps && j >= 0 && j < end; ++t, ++j) points[t] = data[j];
        if (t == taps) return;
        // Beyond the loop's end, or before the sample's start where the loop starts within
        // reach of the kernel: the loop unfolded, its period one loop forwards, or two (there
        // and back) in a ping-pong loop. One division places the first point; the rest step.
        if (s.loopKind == LOOP_FORWARD) {
            int64_t at = start + ((j - start) % span + span) % span;
            for (; t < taps; ++t) {
                points[t] = data[at];
                if (++at == end) at = start;
            }
            return;
        }
        int64_t u = ((j - start) % (2 * span) + 2 * span) % (2 * span);
        for (; t < taps; ++t) {
            points[t] = u < span ? data[start + u] : data[end - 1 - (u - span)];
            if (++u == 2 * span) u = 0;
        }
    }

    MIXER_INLINE int32_t Width() const { return Taps ? Taps : taps; }

    MIXER_INLINE const int16_t* Weights(uint64_t position) const {
        return weights + Width() * static_cast<int32_t>(static_cast<uint32_t>(position) >> shift);
    }

    MIXER_INLINE float operator()(const int16_t* data, uint64_t position) const {
        const int64_t i = static_cast<int64_t>(position >> 32);
        const int32_t n = Taps ? Taps : taps;
        const int16_t* w = Weights(position);
        if (i >= safeLow && i < safeHigh) [[likely]]
            return static_cast<float>(Dot(data + (i - before), w, n)) * KERNEL_SCALE;
        const int64_t j = i - before;
        if (data == edgeData) {
            if (j >= tailFrom && j <= tailFrom + n)
                return static_cast<float>(Dot(tail + (j - tailFrom), w, n)) * KERNEL_SCALE;
            if (j >= -n && j <= 0)
                return static_cast<float>(Dot(head + (j + n), w, n)) * KERNEL_SCALE;
        }
        alignas(16) int16_t points[MAX_KERNEL_TAPS];
        Gather(data, j, points);
        return static_cast<float>(Dot(points, w, n)) * KERNEL_SCALE;
    }
};

// Constant gains, two frames per pass. A stereo sample's left frames (`data`) go to the first
// channel and its right frames (`right`) to the second; a mono sample's to both.
template <bool Stereo, typename Read>
uint64_t MixConstant(const Read& read, const int16_t* data, const int16_t* right, uint64_t position,
                     uint64_t step, bool backwards, float gainLeft, float gainRight, float* out,
                     int32_t n) {
    const uint64_t delta = backwards ? uint64_t{0} - step : step;
    int32_t k = 0;
#if defined(__SSE2__)
    if constexpr (!Stereo && requires { Read::kernel; }) {
        // Four frames per pass while their kernels lie inside the stored points: four sums of
        // products side by side, then the same scaling as the reader's.
        const __m128 gains = _mm_setr_ps(gainLeft, gainRight, gainLeft, gainRight);
        const __m128 scale = _mm_set1_ps(KERNEL_SCALE);
        const int32_t taps = read.Width();
        for (; k + 4 <= n; k += 4) {
            const uint64_t p[4] = {position, position + delta, position + 2 * delta,
                                   position + 3 * delta};
            const int64_t first = static_cast<int64_t>(p[0] >> 32);
            const int64_t last = static_cast<int64_t>(p[3] >> 32);
            const int64_t low = first < last ? first : last, high = first < last ? last : first;
            if (low < read.safeLow || high >= read.safeHigh) {
                for (int j = 0; j < 4; ++j) {
                    const float v = read(data, p[j]);
                    out[2 * j] += v * gainLeft;
                    out[2 * j + 1] += v * gainRight;
                }
            } else {
                __m128i d[4];
                for (int j = 0; j < 4; ++j) {
                    const int16_t* points = data + (static_cast<int64_t>(p[j] >> 32) - read.before);
                    const int16_t* w = read.Weights(p[j]);
                    __m128i sum = _mm_setzero_si128();
                    for (int32_t t = 0; t < taps; t += 8)
                        sum = _mm_add_epi32(
                            sum, _mm_madd_epi16(
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(points + t)),
                                     _mm_load_si128(reinterpret_cast<const __m128i*>(w + t))));
                    d[j] = sum;
                }
                const __m128i t0 =
                    _mm_add_epi32(_mm_unpacklo_epi32(d[0], d[1]), _mm_unpackhi_epi32(d[0], d[1]));
                const __m128i t1 =
                    _mm_add_epi32(_mm_unpacklo_epi32(d[2], d[3]), _mm_unpackhi_epi32(d[2], d[3]));
                const __m128i sums =
                    _mm_add_epi32(_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1));
                const __m128 v = _mm_mul_ps(_mm_cvtepi32_ps(sums), scale);
                _mm_storeu_ps(
                    out, _mm_add_ps(_mm_loadu_ps(out), _mm_mul_ps(_mm_unpacklo_ps(v, v), gains)));
                _mm_storeu_ps(out + 4, _mm_add_ps(_mm_loadu_ps(out + 4),
                                                  _mm_mul_ps(_mm_unpackhi_ps(v, v), gains)));
            }
            position = p[3] + delta;
            out += 8;
        }
    }
#endif
    for (; k + 1 < n; k += 2) {
        const float v0 = read(data, position);
        const float r0 = Stereo ? read(right, position) : v0;
        position += delta;
        const float v1 = read(data, position);
        const float r1 = Stereo ? read(right, position) : v1;
        position += delta;
        out[0] += v0 * gainLeft;
        out[1] += r0 * gainRight;
        out[2] += v1 * gainLeft;
        out[3] += r1 * gainRight;
        out += 4;
    }
    if (k < n) {
        const float v = read(data, position);
        const float r = Stereo ? read(right, position) : v;
        position += delta;
        out[0] += v * gainLeft;
        out[1] += r * gainRight;
    }
    return position;
}

#if defined(__SSE2__)
// Four frames of linear reading from `position` on, with the single-precision operations of
// Interpolate in the same order (the same results to the bit). A point and the next are read
// as one 32-bit word.
// `fractions` holds the four positions' low 32 bits, which advance by plain 32-bit additions.
inline __m128 LinearFour(const int16_t* data, uint64_t position, uint64_t delta,
                         __m128i fractions) {
    const uint64_t p0 = position, p1 = p0 + delta, p2 = p1 + delta, p3 = p2 + delta;
    int32_t w[4];
    std::memcpy(&w[0], data + static_cast<uint32_t>(p0 >> 32), 4);
    std::memcpy(&w[1], data + static_cast<uint32_t>(p1 >> 32), 4);
    std::memcpy(&w[2], data + static_cast<uint32_t>(p2 >> 32), 4);
    std::memcpy(&w[3], data + static_cast<uint32_t>(p3 >> 32), 4);
    const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w));
    const __m128 a = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(pairs, 16), 16));
    const __m128 b = _mm_cvtepi32_ps(_mm_srai_epi32(pairs, 16));
    const __m128 weight =
        _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(fractions, 1)), _mm_set1_ps(INTERPOLATION_SCALE));
    return _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), weight));
}

// The low 32 bits of four successive positions from `position` on.
inline __m128i FirstFractions(uint64_t position, uint64_t delta) {
    const uint32_t f = static_cast<uint32_t>(position), d = static_cast<uint32_t>(delta);
    return _mm_setr_epi32(static_cast<int32_t>(f), static_cast<int32_t>(f + d),
                          static_cast<int32_t>(f + 2 * d), static_cast<int32_t>(f + 3 * d));
}
#endif

#if defined(__SSE2__)
// Linear reading of a mono sample at constant gains, four frames per pass, with the operations
// of MixConstant in the same order: the same results to the bit.
template <>
uint64_t MixConstant<false, LinearRead>(const LinearRead& read, const int16_t* data,
                                        const int16_t* right, uint64_t position, uint64_t step,
                                        bool backwards, float gainLeft, float gainRight, float* out,
                                        int32_t n) {
    (void)right;
    const uint64_t delta = backwards ? uint64_t{0} - step : step;
    const __m128 gains = _mm_setr_ps(gainLeft, gainRight, gainLeft, gainRight);
    __m128i fractions = FirstFractions(position, delta);
    const __m128i fractionStep = _mm_set1_epi32(static_cast<int32_t>(4 * delta));
    int32_t k = 0;
    for (; k + 4 <= n; k += 4) {
        const __m128 v = LinearFour(data, position, delta, fractions);
        fractions = _mm_add_epi32(fractions, fractionStep);
        position += 4 * delta;
        const __m128 first = _mm_mul_ps(_mm_unpacklo_ps(v, v), gains);
        const __m128 second = _mm_mul_ps(_mm_unpackhi_ps(v, v), gains);
        _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), first));
        _mm_storeu_ps(out + 4, _mm_add_ps(_mm_loadu_ps(out + 4), second));
        out += 8;
    }
    for (; k < n; ++k) {
        const float v = read(data, position);
        position += delta;
        out[0] += v * gainLeft;
        out[1] += v * gainRight;
        out += 2;
    }
    return position;
}
#endif

// Ramping gains: each frame uses the gains before its own increment.
template <bool Stereo, typename Read>
uint64_t MixRamp(const Read& read, const int16_t* data, const int16_t* right, uint64_t position,
                 uint64_t step, bool backwards, float& gainLeft, float& gainRight, float stepLeft,
                 float stepRight, float* out, int32_t n) {
    const uint64_t delta = backwards ? uint64_t{0} - step : step;
    float gl = gainLeft, gr = gainRight;
    int32_t k = 0;
#if defined(__SSE2__)
    if constexpr (!Stereo && std::is_same_v<Read, LinearRead>) {
        // Four frames per pass; the gains step one frame at a time, as below.
        __m128i fractions = FirstFractions(position, delta);
        const __m128i fractionStep = _mm_set1_epi32(static_cast<int32_t>(4 * delta));
        for (; k + 4 <= n; k += 4) {
            const __m128 v = LinearFour(data, position, delta, fractions);
            fractions = _mm_add_epi32(fractions, fractionStep);
            position += 4 * delta;
            const float gl1 = gl + stepLeft, gr1 = gr + stepRight;
            const float gl2 = gl1 + stepLeft, gr2 = gr1 + stepRight;
            const float gl3 = gl2 + stepLeft, gr3 = gr2 + stepRight;
            const __m128 first = _mm_mul_ps(_mm_unpacklo_ps(v, v), _mm_setr_ps(gl, gr, gl1, gr1));
            const __m128 second =
                _mm_mul_ps(_mm_unpackhi_ps(v, v), _mm_setr_ps(gl2, gr2, gl3, gr3));
            _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), first));
            _mm_storeu_ps(out + 4, _mm_add_ps(_mm_loadu_ps(out + 4), second));
            gl = gl3 + stepLeft;
            gr = gr3 + stepRight;
            out += 8;
        }
    }
#endif
    for (; k < n; ++k) {
        const float v = read(data, position);
        const float r = Stereo ? read(right, position) : v;
        position += delta;
        out[0] += v * gl;
        out[1] += r * gr;
        gl += stepLeft;
        gr += stepRight;
        out += 2;
    }
    gainLeft = gl;
    gainRight = gr;
    return position;
}

// Signed distance in 32.32 between two positions of one sample (samples are far below 2^31
// frames, so the difference always fits).
inline int64_t Diff(uint64_t a, uint64_t b) {
    return static_cast<int64_t>(a - b);
}

// Reflects a ping-pong position that has reached a loop boundary back inside
// [loopStart, loopEnd), alternating directions while it lies outside.
void Bounce(uint64_t& position, int32_t& direction, uint64_t loopStart, uint64_t loopEnd) {
    for (int bounce = 0; bounce < MAX_BOUNCES; ++bounce) {
        if (direction != 2) {
            if (Diff(position, loopEnd) < 0) return;
            position = 2 * loopEnd - position - 1;
            direction = 2;
        } else {
            if (Diff(position, loopStart) > 0) return;
            // Landing exactly on the loop start is still inside the loop: mirrored with the
            // 2^-32 offset it would fall below the start and bounce outwards for ever, so the
            // voice turns round where it stands.
            if (position == loopStart) {
                direction = 1;
                return;
            }
            position = 2 * loopStart - position - 1;
            direction = 1;
        }
    }
    // Fold what is left into one period of the unfolded loop (forwards, then backwards).
    const int64_t span = static_cast<int64_t>(loopEnd - loopStart);
    const int64_t unfolded =
        direction != 2 ? Diff(position, loopStart) : Diff(loopEnd, position) + span;
    const int64_t m = ((unfolded % (2 * span)) + 2 * span) % (2 * span);
    if (m < span) {
        position = loopStart + static_cast<uint64_t>(m);
        direction = 1;
    } else {
        position = loopStart + static_cast<uint64_t>(2 * span - m);
        if (position >= loopEnd) position = loopEnd - 1;
        direction = 2;
    }
}

} // namespace

namespace {

// The reading a voice's interpolation asks for, for its sample and step.
template <typename Body>
void WithRead(Interpolation interpolation, const Sample* sample, uint64_t step, Body body) {
    switch (interpolation) {
    case Interpolation::None: body(NearestRead{}); break;
    case Interpolation::Cubic: body(KernelRead<8>(CubicKernel(), sample)); break;
    case Interpolation::Sinc: {
        const Kernel& kernel = SincKernel(static_cast<double>(step) * (1.0 / 4294967296.0));
        if (kernel.taps == 8)
            body(KernelRead<8>(kernel, sample));
        else
            body(KernelRead<0>(kernel, sample));
        break;
    }
    case Interpolation::Linear:
    default: body(LinearRead{}); break;
    }
}

// Puts the voice's waiting sample in place of the one whose loop (or end) it has just passed,
// `beyond` (32.32) frames past it: the new sample's loop plays from its start on, as far in;
// a sample without a loop (or without data) stops the voice.
void SwapToPending(Voice* voice, uint64_t beyond) {
    const Sample* next = voice->pendingSample;
    voice->pendingSample = nullptr;
    if (next->loopKind != LOOP_FORWARD || next->loopLength == 0 || !next->data) {
        voice->sample = nullptr;
        voice->position = 0;
        voice->positionFraction = 0;
        return;
    }
    const uint64_t span = uint64_t{next->loopLength} << 32;
    const uint64_t position = (uint64_t{next->loopStart} << 32) + beyond % span;
    voice->sample = next;
    voice->position = static_cast<uint32_t>(position >> 32);
    voice->positionFraction = static_cast<uint32_t>(position);
    voice->direction = 1;
}

// The rest of a call after the switch, from the new sample. Kept out of line, so that the
// switch costs the common call nothing (MixVoice stays free to be inlined into its callers).
MIXER_NOINLINE void MixRestAfterSwap(const MixerState& mixer, Voice* voice, float* destination,
                                     int32_t frames, Interpolation interpolation, bool audible) {
    MixVoice(mixer, voice, destination, frames, interpolation, audible);
}

} // namespace

void MixVoice(const MixerState& mixer, Voice* voice, float* destination, int32_t frames,
              Interpolation interpolation, bool audible) {
    const Sample* sample = voice->sample;
    if (!sample || frames <= 0) return;

    const int16_t* data = sample->data;
    const int16_t* right = sample->right; // only in the standard rules' stereo records
    const uint64_t loopStart = uint64_t{sample->loopStart} << 32;
    const uint64_t loopEnd = (uint64_t{sample->loopStart} + sample->loopLength) << 32;
    uint64_t step =
        uint64_t{static_cast<uint32_t>(voice->increment)} << 32 | voice->incrementFraction;
    uint64_t position = uint64_t{voice->position} << 32 | voice->positionFraction;
    // Steps beyond 2^24 frames per output frame are meaningless and could overflow the 32.32
    // arithmetic; they are held at that value.
    if (step > FAR_AWAY) step = FAR_AWAY;
    // Only a ping-pong loop ever plays backwards; a direction left over from another sample
    // would otherwise walk below the start of this one.
    int32_t direction = sample->loopKind == LOOP_PINGPONG && voice->direction == 2 ? 2 : 1;
    // Backwards at or past the loop end cannot happen in a ping-pong loop; it is bounced like
    // a forward pass reaching the end, so that the interpolation never reads beyond the loop.
    if (direction == 2 && position >= loopEnd) direction = 1;
    // Without sample data there is nothing to read: the voice is silenced like a sample's end.
    if (!data && sample->length > 0) {
        voice->sample = nullptr;
        return;
    }
    // A start far beyond the loop end (an offset past the sample) is folded into the loop at
    // once, so that every later position stays within 2^25 frames of the sample.
    if (position >= loopEnd && position - loopEnd >= FAR_AWAY) {
        if (sample->loopKind == LOOP_NONE || loopEnd <= loopStart || position < loopStart) {
            voice->sample = nullptr;
            voice->position = 0;
            voice->positionFraction = 0;
            return;
        }
        position = loopStart + (position - loopStart) % (loopEnd - loopStart);
        direction = 1;
    }

    float* out = destination;
    bool swapped = false;
    WithRead(interpolation, sample, step, [&](const auto& read) {
        while (frames > 0) {
            int32_t n = frames;

            // Frames to the boundary, by one division.
            const bool backwards = direction == 2;
            uint64_t distance = 0;
            if (!backwards)
                distance = position < loopEnd ? loopEnd - position : 0;
            else
                distance = position > loopStart ? position - loopStart : 0;
            bool boundaryReached = false;
            if (distance < FAR_AWAY) {
                uint64_t k;
                if (distance == 0)
                    k = 0;
                else if (step == 0)
                    k = UINT64_MAX;
                else
                    k = distance / step + (distance % step != 0);
                if (k <= static_cast<uint64_t>(n)) {
                    n = static_cast<int32_t>(k);
                    boundaryReached = true;
                }
            }

            // Ramp: continue the running one, or set up a new one when the targets moved.
            if (!(voice->rampFrames > 0 && voice->volumeLeft == voice->rampTargetLeft &&
                  voice->volumeRight == voice->rampTargetRight)) {
                voice->rampTargetLeft = voice->volumeLeft;
                voice->rampTargetRight = voice->volumeRight;
                const int32_t dl = voice->volumeLeft - voice->currentLeft / 256;
                const int32_t dr = voice->volumeRight - voice->currentRight / 256;
                voice->rampStepLeft =
                    dl != 0 ? static_cast<float>(dl) * GAIN_SCALE * mixer.rampReciprocal : 0.0f;
                voice->rampStepRight =
                    dr != 0 ? static_cast<float>(dr) * GAIN_SCALE * mixer.rampReciprocal : 0.0f;
                voice->rampFrames = dl != 0 || dr != 0 ? mixer.rampLength : 0;
            }
            const bool ramping = voice->rampFrames > 0;
            if (ramping && voice->rampFrames < n) {
                n = voice->rampFrames;
                boundaryReached = false;
            }

            if (n > 0) {
                if (ramping && !audible) {
                    // The ramp runs on unheard, so that unmuting finds the voice where it would be.
                    const float fn = static_cast<float>(n);
                    const float gl =
                        static_cast<float>(voice->currentLeft) * VOLUME_SCALE * GAIN_SCALE +
                        voice->rampStepLeft * fn;
                    const float gr =
                        static_cast<float>(voice->currentRight) * VOLUME_SCALE * GAIN_SCALE +
                        voice->rampStepRight * fn;
                    position += (backwards ? uint64_t{0} - step : step) * static_cast<uint64_t>(n);
                    voice->currentLeft = static_cast<int32_t>(std::lrint(gl * 255.0f * 256.0f));
                    voice->currentRight = static_cast<int32_t>(std::lrint(gr * 255.0f * 256.0f));
                    voice->rampFrames -= n;
                    if (voice->rampFrames == 0) {
                        voice->rampStepLeft = 0.0f;
                        voice->rampStepRight = 0.0f;
                        voice->currentLeft = voice->volumeLeft * 256;
                        voice->currentRight = voice->volumeRight * 256;
                    }
                } else if (ramping) {
                    float gl = static_cast<float>(voice->currentLeft) * VOLUME_SCALE * GAIN_SCALE;
                    float gr = static_cast<float>(voice->currentRight) * VOLUME_SCALE * GAIN_SCALE;
                    position =
                        right ? MixRamp<true>(read, data, right, position, step, backwards, gl, gr,
                                              voice->rampStepLeft, voice->rampStepRight, out, n)
                              : MixRamp<false>(read, data, right, position, step, backwards, gl, gr,
                                               voice->rampStepLeft, voice->rampStepRight, out, n);
                    voice->currentLeft = static_cast<int32_t>(std::lrint(gl * 255.0f * 256.0f));
                    voice->currentRight = static_cast<int32_t>(std::lrint(gr * 255.0f * 256.0f));
                    voice->rampFrames -= n;
                    if (voice->rampFrames == 0) {
                        voice->rampStepLeft = 0.0f;
                        voice->rampStepRight = 0.0f;
                        voice->currentLeft = voice->volumeLeft * 256;
                        voice->currentRight = voice->volumeRight * 256;
                    }
                } else if (!audible || (voice->volumeLeft == 0 && voice->volumeRight == 0)) {
                    // A silent voice adds nothing (only +0.0) to the mix; it just moves on, exactly
                    // as n single steps would.
                    position += (backwards ? uint64_t{0} - step : step) * static_cast<uint64_t>(n);
                } else {
                    const float gl = static_cast<float>(voice->volumeLeft) * GAIN_SCALE;
                    const float gr = static_cast<float>(voice->volumeRight) * GAIN_SCALE;
                    position = right ? MixConstant<true>(read, data, right, position, step,
                                                         backwards, gl, gr, out, n)
                                     : MixConstant<false>(read, data, right, position, step,
                                                          backwards, gl, gr, out, n);
                }
                out += 2 * n;
                frames -= n;
            }
            // A ramp that ended the run simply lets the loop go on with the next frame.
            if (!boundaryReached) continue;
            if (voice->pendingSample && sample->loopKind != LOOP_PINGPONG) [[unlikely]] {
                // The waiting sample takes over where the loop (or the sample) ends; the rest of
                // the call is mixed from it anew, as its loop and reading differ.
                swapped = true;
                break;
            }
            if (sample->loopKind == LOOP_FORWARD && loopEnd > loopStart) {
                // At least once, then as often as needed: the same as a remainder.
                const uint64_t span = loopEnd - loopStart;
                position -= span;
                if (position >= loopEnd) position = loopStart + (position - loopStart) % span;
            } else if (sample->loopKind == LOOP_PINGPONG && loopEnd > loopStart) {
                Bounce(position, direction, loopStart, loopEnd);
            } else {
                voice->sample = nullptr;
                position = 0;
                break;
            }
        }
    });

    if (swapped) [[unlikely]] {
        SwapToPending(voice, position - loopEnd);
        MixRestAfterSwap(mixer, voice, out, frames, interpolation, audible);
        return;
    }
    voice->position = static_cast<uint32_t>(position >> 32);
    voice->positionFraction = static_cast<uint32_t>(position);
    if (sample->loopKind == LOOP_PINGPONG) voice->direction = direction;
}

namespace {

// Track c drives voices c and c + 32 (mixer.h).
bool VoiceAudible(const MixControls& controls, int32_t voiceNumber) {
    const uint32_t bit = uint32_t{1} << (voiceNumber % 32);
    if (controls.muted & bit) return false;
    return controls.solo == 0 || (controls.solo & bit) != 0;
}

void MixVoicesWith(Player* player, const MixControls& controls, float* destination,
                   int32_t frames) {
    const bool everyone = controls.muted == 0 && controls.solo == 0;
    for (int32_t v = 0; v < MIXED_VOICES; ++v) {
        Voice& voice = player->voices[v];
        // Most of the table is silent: those voices are passed over without a call.
        if (!voice.sample) continue;
        MixVoice(player->mixer, &voice, destination, frames, controls.interpolation,
                 everyone || VoiceAudible(controls, v));
    }
}

} // namespace

void MixVoices(Player* player, float* destination, int32_t frames) {
    if (!destination || frames <= 0) return;
    MixVoicesWith(player, player->controls, destination, frames);
}

void ConvertToPcm16(int16_t* destination, const float* source, int32_t frames) {
    if (!destination || !source || frames <= 0) return;
    int32_t k = 0;
#if defined(__SSE2__)
    // Eight values at a time with the same results as below: not-a-number becomes 0, the rest
    // is limited to the 16-bit range and rounded in the default mode (to nearest, ties to even).
    const __m128 low = _mm_set1_ps(-32768.0f), high = _mm_set1_ps(32767.0f);
    for (; k + 8 <= 2 * frames; k += 8) {
        __m128 a = _mm_loadu_ps(source + k), b = _mm_loadu_ps(source + k + 4);
        a = _mm_and_ps(a, _mm_cmpord_ps(a, a));
        b = _mm_and_ps(b, _mm_cmpord_ps(b, b));
        a = _mm_min_ps(_mm_max_ps(a, low), high);
        b = _mm_min_ps(_mm_max_ps(b, low), high);
        const __m128i packed = _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + k), packed);
    }
#endif
    for (; k < 2 * frames; ++k) {
        // The default rounding mode: to nearest, ties to even.
        const float r = std::nearbyint(source[k]);
        int16_t value;
        if (r > 32767.0f)
            value = 32767;
        else if (r < -32768.0f)
            value = -32768;
        else if (r == r)
            value = static_cast<int16_t>(r);
        else
            value = 0; // not a number: silence rather than an undefined conversion
        destination[k] = value;
    }
}

void ConvertToPcm16Limited(int16_t* destination, const float* source, int32_t frames, int32_t rate,
                           float* gain, float* gains) {
    if (!destination || !source || frames <= 0) return;
    // A frame needs less gain only when its louder side would round beyond 32766; it is then
    // brought to 32766, so that no output frame reaches full scale.
    constexpr float THRESHOLD = 32766.5f;
    constexpr float CEILING = 32766.0f;
    // The gain falls by at most a full swing per 5 ms towards a loud frame (it may start falling
    // only within the block, which has been mixed whole before it is converted) and recovers by
    // a full swing per 200 ms after it.
    const float attackStep = 1.0f / (0.005f * static_cast<float>(rate));
    const float releaseStep = 1.0f / (0.2f * static_cast<float>(rate));
    bool limited = false;
    for (int32_t k = 0; k < frames; ++k) {
        const float l = std::fabs(source[2 * k]), r = std::fabs(source[2 * k + 1]);
        const float peak = l > r ? l : r; // not-a-number compares false: no limit needed
        gains[k] = peak > THRESHOLD ? CEILING / peak : 1.0f;
        limited = limited || gains[k] < 1.0f;
    }
    float carried = *gain > 0.0f && *gain <= 1.0f ? *gain : 1.0f;
    if (!limited && carried >= 1.0f) {
        ConvertToPcm16(destination, source, frames);
        *gain = 1.0f;
        return;
    }
    for (int32_t k = frames - 2; k >= 0; --k)
        gains[k] = std::fmin(gains[k], gains[k + 1] + attackStep);
    for (int32_t k = 0; k < frames; ++k) {
        carried = std::fmin(std::fmin(gains[k], carried + releaseStep), 1.0f);
        gains[k] = carried;
    }
    *gain = carried;
    constexpr int32_t CHUNK = 256;
    float scaled[2 * CHUNK];
    for (int32_t at = 0; at < frames; at += CHUNK) {
        const int32_t n = frames - at < CHUNK ? frames - at : CHUNK;
        for (int32_t k = 0; k < n; ++k) {
            scaled[2 * k] = source[2 * (at + k)] * gains[at + k];
            scaled[2 * k + 1] = source[2 * (at + k) + 1] * gains[at + k];
        }
        ConvertToPcm16(destination + 2 * at, scaled, n);
    }
}

namespace {

// The block's ramp length from the listener's setting (-1: the player's own, mixRate * 128 /
// 44100 frames). A ramp already running keeps its step; the next one takes the new length.
void SetRampLength(MixerState& mixer, int32_t rampMs) {
    int64_t frames = rampMs < 0 ? int64_t{mixer.mixRate} * 128 / 44100
                                : int64_t{mixer.mixRate} * std::min(rampMs, MAX_RAMP_MS) / 1000;
    if (frames < 1) frames = 1;
    if (frames != mixer.rampLength) {
        mixer.rampLength = static_cast<int32_t>(frames);
        mixer.rampReciprocal = 1.0f / static_cast<float>(frames);
    }
}

// The rule set's level and the listener's gain and stereo separation, on the block's mix. At
// 0 dB and 100 % nothing is touched, so that the rule set's own output stays as it is. A
// separation below 0 stands for the rule set's own (`ownSeparation`).
void ShapeMix(float* mix, int32_t frames, float levelDb, int32_t ownSeparation,
              const MixControls& controls, float* lastDb, float* lastFactor) {
    // Out of range is held at the range's ends; not a number counts as 0 dB.
    const float listener = controls.gainDb == controls.gainDb
                               ? std::clamp(controls.gainDb, MIN_GAIN_DB, MAX_GAIN_DB)
                               : 0.0f;
    const float gainDb = levelDb + listener;
    const int32_t separation =
        std::clamp(controls.separation < 0 ? ownSeparation : controls.separation, MIN_SEPARATION,
                   MAX_SEPARATION);
    if (separation != 100) {
        // Mid and side: the side signal scaled, 0 % mono, 200 % twice as wide.
        const float width = static_cast<float>(separation) * 0.01f;
        for (int32_t k = 0; k < frames; ++k) {
            const float mid = (mix[2 * k] + mix[2 * k + 1]) * 0.5f;
            const float side = (mix[2 * k] - mix[2 * k + 1]) * 0.5f * width;
            mix[2 * k] = mid + side;
            mix[2 * k + 1] = mid - side;
        }
    }
    if (gainDb != 0.0f) {
        if (gainDb != *lastDb) {
            *lastFactor = std::pow(10.0f, gainDb / 20.0f);
            *lastDb = gainDb;
        }
        const float factor = *lastFactor;
        int32_t k = 0;
#if defined(__SSE2__)
        const __m128 scale = _mm_set1_ps(factor);
        for (; k + 4 <= 2 * frames; k += 4)
            _mm_storeu_ps(mix + k, _mm_mul_ps(_mm_loadu_ps(mix + k), scale));
#endif
        for (; k < 2 * frames; ++k) mix[k] *= factor;
    }
}

} // namespace

void MixBlock(Player* player) {
    MixerState& mixer = player->mixer;
    if (!mixer.mixBuffer || !mixer.outputRing || !mixer.blockPositions || mixer.blockFrames <= 0)
        return;
    const int32_t blocks = mixer.ringFrames / mixer.blockFrames;
    const int32_t first = mixer.fillBlock * mixer.blockFrames;
    float* mix = mixer.mixBuffer + 2 * first;
    for (int32_t k = 0; k < 2 * mixer.blockFrames; ++k) mix[k] = 0.0f;
    // The listener's controls as they stand now hold for the whole block: the pull renderer
    // hands out whole mixed blocks, so a change is heard from the next block on.
    const MixControls controls = player->controls;
    SetRampLength(mixer, controls.rampMs);
    if (player->framesMixed == 0 || !controls.limiter) mixer.limiterGain = 1.0f;

    player->blockStart = player->position;
    player->markCount = 0;
    int32_t done = 0;
    int32_t left = player->tickFramesLeft;
    while (done < mixer.blockFrames) {
        if (left <= 0) {
            if (player->tickHandler) player->tickHandler(player);
            // Remembered for the pull position; past the last mark the latest tick wins.
            const int32_t mark =
                player->markCount < TICK_MARKS ? player->markCount++ : TICK_MARKS - 1;
            player->marks[mark] = TickMark{done, player->position};
            // A tick of no frames (a tempo of 0) would never let the block advance; such a
            // tick lasts one frame.
            left = player->tickFrames >= 1 ? player->tickFrames : 1;
        }
        const int32_t run = left < mixer.blockFrames - done ? left : mixer.blockFrames - done;
        MixVoicesWith(player, controls, mix + 2 * done, run);
        done += run;
        player->framesMixed += run;
        player->elapsedMs += static_cast<int32_t>(
            static_cast<double>(run) * static_cast<double>(mixer.secondsPerFrame) * 1000.0);
        left -= run;
    }
    mixer.blockPositions[mixer.fillBlock] =
        BlockPosition{static_cast<uint8_t>(player->orderPosition),
                      static_cast<uint8_t>(player->row), player->elapsedMs};
    player->tickFramesLeft = left;

    ShapeMix(mix, mixer.blockFrames, player->ruleSet->levelDb, player->ruleSet->defaultSeparation,
             controls, &mixer.shapedDb, &mixer.shapedFactor);
    if (controls.limiter)
        ConvertToPcm16Limited(mixer.outputRing + 2 * first, mix, mixer.blockFrames, mixer.mixRate,
                              &mixer.limiterGain, mixer.limiterGains);
    else
        ConvertToPcm16(mixer.outputRing + 2 * first, mix, mixer.blockFrames);
    mixer.fillBlock += 1;
    if (mixer.fillBlock >= blocks) mixer.fillBlock = 0;
}
