// figures.cpp: mix figures of rendered stereo (see figures.h). Spectra come from Hann-windowed
// 8192-point transforms over the whole stretch; the band shares are ratios of their sums.
#include "figures.h"

#include <cmath>
#include <complex>
#include <cstdio>

namespace compose {

namespace {

constexpr int FFT_SIZE = 8192;

constexpr double PI = 3.141592653589793;

// In-place radix-2 transform; `data.size()` is a power of two.
void Transform(std::vector<std::complex<double>>& data) {
    size_t n = data.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(data[i], data[j]);
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        double angle = -2.0 * PI / double(length);
        std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t start = 0; start < n; start += length) {
            std::complex<double> w(1.0, 0.0);
            for (size_t k = 0; k < length / 2; ++k) {
                std::complex<double> a = data[start + k], b = data[start + k + length / 2] * w;
                data[start + k] = a + b;
                data[start + k + length / 2] = a - b;
                w *= step;
            }
        }
    }
}

double Decibels(double ratio) {
    return ratio > 0 ? 10.0 * std::log10(ratio) : -999.0;
}

} // namespace

MixFigures MeasureMix(const int16_t* frames, int64_t frameCount, int rate) {
    MixFigures figures{};
    double ll = 0, rr = 0, lr = 0;
    for (int64_t i = 0; i < frameCount; ++i) {
        double l = frames[2 * i], r = frames[2 * i + 1];
        ll += l * l;
        rr += r * r;
        lr += l * r;
    }
    double count = double(frameCount > 0 ? frameCount : 1);
    figures.rmsDb = Decibels((ll + rr) / (2.0 * count) / (32768.0 * 32768.0));
    figures.correlation = ll > 0 && rr > 0 ? lr / std::sqrt(ll * rr) : 1.0;
    // mid = (l + r) / 2 and side = (l - r) / 2, so their energies follow from the sums above.
    figures.sideDb = Decibels((ll + rr - 2 * lr) / (ll + rr + 2 * lr));

    // Power spectra of both sides, summed: a swap of the sides changes nothing.
    std::vector<double> window(FFT_SIZE);
    for (int i = 0; i < FFT_SIZE; ++i) window[i] = 0.5 - 0.5 * std::cos(2.0 * PI * i / FFT_SIZE);
    std::vector<std::complex<double>> data(FFT_SIZE);
    double total = 0, low = 0, high = 0;
    double binHz = double(rate) / FFT_SIZE;
    for (int64_t start = 0; start + FFT_SIZE <= frameCount; start += FFT_SIZE / 2) {
        for (int side = 0; side < 2; ++side) {
            for (int i = 0; i < FFT_SIZE; ++i)
                data[i] = window[i] * double(frames[2 * (start + i) + side]);
            Transform(data);
            for (int k = 1; k < FFT_SIZE / 2; ++k) {
                double power = std::norm(data[k]);
                double hz = k * binHz;
                total += power;
                if (hz >= 40.0 && hz < 80.0) low += power;
                if (hz >= 2500.0) high += power;
            }
        }
    }
    figures.lowShare = total > 0 ? low / total : 0;
    figures.highDb = Decibels(total > 0 ? high / total : 0);
    return figures;
}

const std::vector<SongSection>& SongSections() {
    static const std::vector<SongSection> sections = {
        {"title", 0.0, 5.0, false},        {"build", 5.0, 30.0, false},
        {"first theme", 30.0, 54.9, true}, {"second theme", 54.9, 80.0, true},
        {"bridge", 80.0, 95.3, false},     {"breakdown", 95.3, 110.6, false},
        {"lift", 110.6, 125.0, false},     {"peak", 125.0, 155.7, true},
        {"descent", 155.7, 164.4, false},  {"credits", 164.4, 0.0, false},
    };
    return sections;
}

const std::vector<SceneChange>& ShowSceneChanges() {
    static const std::vector<SceneChange> changes = {
        {"build", 5.0},    {"hats", 12.7},         {"claps", 20.4},    {"cubes", 30.0},
        {"theme 2", 54.9}, {"phrase", 65.0},       {"bridge", 80.0},   {"particles", 95.3},
        {"lift", 110.6},   {"flash, peak", 125.0}, {"credits", 164.4},
    };
    return changes;
}

std::string FiguresTable(const int16_t* frames, int64_t frameCount, int rate) {
    std::string table = "| section | seconds | RMS dB | 40-80 Hz | >2.5 kHz dB | L/R corr. | "
                        "side/mid dB |\n|---|---|---|---|---|---|---|\n";
    for (const SongSection& section : SongSections()) {
        int64_t first = int64_t(section.start * rate);
        int64_t last = section.end > 0 ? int64_t(section.end * rate) : frameCount;
        if (last > frameCount) last = frameCount;
        if (first >= last) continue;
        MixFigures f = MeasureMix(frames + 2 * first, last - first, rate);
        char line[256];
        std::snprintf(line, sizeof line,
                      "| %s%s | %.1f-%.1f | %.1f | %.0f %% | %.1f | %.3f | %.1f |\n", section.name,
                      section.full ? " (full)" : "", double(first) / rate, double(last) / rate,
                      f.rmsDb, 100.0 * f.lowShare, f.highDb, f.correlation, f.sideDb);
        table += line;
    }
    return table;
}

} // namespace compose
