// committed_song.cpp: reads and renders the committed song once for the checks (see
// committed_song.h).
#include "committed_song.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>

#include "memory_files.h"
#include "music/module.h"
#include "render.h"

namespace song_check {

namespace {

const char SONG_NAME[] = "Zarq-Neat.xm";

bool Collect(const RenderedBlock& block, void* context) {
    Song& song = *static_cast<Song*>(context);
    song.blockStart.push_back(int64_t(song.frames.size() / 2));
    song.frames.insert(song.frames.end(), block.frames, block.frames + 2 * block.frameCount);
    song.blockEnd.push_back({block.position.order, block.position.row});
    return true;
}

void ReadInstruments(const Module& module, Song& song) {
    for (int i = 0; i < module.instrumentCount; ++i) {
        const Instrument& source = module.instruments[i];
        InstrumentData instrument;
        for (int s = 0; s < source.sampleCount; ++s) {
            const Sample& sample = *source.samples[s];
            SampleData data;
            if (sample.data) data.frames.assign(sample.data, sample.data + sample.length);
            data.relativeNote = sample.relativeNote;
            data.finetune = sample.finetune;
            data.loops = sample.loopKind != LOOP_NONE;
            instrument.samples.push_back(std::move(data));
        }
        std::copy(source.sampleMap, source.sampleMap + 96, instrument.sampleMap);
        uint8_t flags = source.volumeEnvelopeFlags;
        instrument.envelopeEnds = (flags & ENVELOPE_ON) &&
                                  !(flags & (ENVELOPE_SUSTAIN | ENVELOPE_LOOP)) &&
                                  source.volumePointCount > 0 &&
                                  source.volumeEnvelope[source.volumePointCount - 1].y == 0;
        song.instruments.push_back(std::move(instrument));
    }
}

Song Load(bool render) {
    Song song;
    Module* module = LoadModuleBytes(CommittedBytes());
    if (!module) return song;
    song.loaded = true;
    ReadInstruments(*module, song);
    song.channels = module->channelCount;
    song.restartPosition = module->restartPosition;
    for (int i = 0; i < module->songLength; ++i) song.orders.push_back(module->orders[i]);
    for (int p = 0; p < module->patternCount; ++p) {
        const ::Pattern& source = module->patterns[p];
        Pattern pattern{source.rowCount, {}};
        for (int i = 0; i < source.rowCount * module->channelCount; ++i) {
            const PatternCell& c = source.cells[i];
            // The loader keeps key-off as 255; the file and the checks write it as 97.
            uint8_t note = c.note == 255 ? 97 : c.note;
            pattern.cells.push_back(
                {note, c.instrument, c.volumeColumn, c.effect, c.effectParameter});
        }
        song.patterns.push_back(std::move(pattern));
    }
    song.rate = RENDER_RATE;
    if (!render) {
        FreeModule(module);
        return song;
    }
    RenderSummary summary{};
    song.rendered =
        RenderModule(module, PlayerRules::Demo, RenderLimits{0, 0}, Collect, &song, &summary);
    song.wrapped = summary.wrapped;
    song.wrapBlock = summary.wrapBlock;
    song.wrapOrder = summary.wrapOrder;
    song.wrapRow = summary.wrapRow;
    FreeModule(module);
    return song;
}

bool Flow(const PatternCell& c) {
    // Effects that steer the song rather than a channel's sound: jumps, breaks, tempo, global
    // volume, pattern loops and delays.
    return c.effect == 0xB || c.effect == 0xD || c.effect == 0xF || c.effect == 0x10 ||
           c.effect == 0x11 ||
           (c.effect == 0xE && ((c.effectParameter >> 4) == 6 || (c.effectParameter >> 4) == 0xE));
}

} // namespace

double SampleData::Rate(int note) const {
    return 8363.0 * std::pow(2.0, (note - 1 + relativeNote - 48) / 12.0 + finetune / 1536.0);
}

double InstrumentData::RingSeconds(int note) const {
    int s = sampleMap[note - 1];
    if (s >= int(samples.size())) return 0;
    const SampleData& sample = samples[size_t(s)];
    if (sample.loops && !envelopeEnds) return std::numeric_limits<double>::infinity();
    return double(sample.frames.size()) / sample.Rate(note);
}

const std::vector<PlayedRow>& PlayedRows() {
    static const std::vector<PlayedRow> rows = [] {
        std::vector<PlayedRow> out;
        const Song& song = Committed();
        if (!song.loaded) return out;
        std::vector<Voice> voices(size_t(song.channels));
        int speed = 6, bpm = 125;
        double now = 0;
        int startRow = 0;
        for (size_t order = 0; order < song.orders.size(); ++order) {
            int p = song.orders[order];
            const Pattern& pattern = song.patterns[size_t(p)];
            std::vector<int> loopStart(size_t(song.channels), 0),
                loopLeft(size_t(song.channels), 0);
            int row = startRow;
            startRow = 0;
            while (row < pattern.rows) {
                int next = row + 1;
                bool broke = false;
                for (int ch = 0; ch < song.channels; ++ch) {
                    const Cell& c = song.At(p, row, ch);
                    if (c.effect == 0xF && c.parameter)
                        (c.parameter < 32 ? speed : bpm) = c.parameter;
                }
                PlayedRow played{int(order), p, row, now, speed * 2.5 / bpm, {}};
                for (int ch = 0; ch < song.channels; ++ch) {
                    const Cell& c = song.At(p, row, ch);
                    Voice& v = voices[size_t(ch)];
                    if (c.instrument) v.instrument = c.instrument;
                    if (c.note >= 1 && c.note <= 96 && (c.effect != 3 || !v.note)) {
                        v.note = c.note;
                        v.startRow = int64_t(out.size());
                        v.startSeconds = now;
                    }
                    bool silenced = c.note == 97 || c.volume == 0x10 ||
                                    (c.effect == 0xC && !c.parameter) || c.effect == 0x14 ||
                                    (c.effect == 0xE && (c.parameter >> 4) == 0xC);
                    if (silenced) v.note = 0;
                    if (v.note && v.instrument && v.instrument <= int(song.instruments.size()) &&
                        now - v.startSeconds >=
                            song.instruments[v.instrument - 1].RingSeconds(v.note))
                        v.note = 0;
                    if (c.effect == 0xE && (c.parameter >> 4) == 6) {
                        int x = c.parameter & 15;
                        int& left = loopLeft[size_t(ch)];
                        if (!x) {
                            loopStart[size_t(ch)] = row;
                        } else if (left == 0) {
                            left = x;
                            next = loopStart[size_t(ch)];
                        } else if (--left > 0) {
                            next = loopStart[size_t(ch)];
                        }
                    }
                    if (c.effect == 0xD) {
                        broke = true;
                        startRow = (c.parameter >> 4) * 10 + (c.parameter & 15);
                    }
                }
                played.voices = voices;
                out.push_back(std::move(played));
                now += speed * 2.5 / bpm;
                if (broke) break;
                row = next;
            }
        }
        return out;
    }();
    return rows;
}

std::vector<int16_t> RenderPart(const std::vector<int>& instruments) {
    std::vector<int16_t> frames;
    const Song& song = Committed();
    if (!song.loaded) return frames;
    std::set<int> keep(instruments.begin(), instruments.end());
    Module* module = LoadModuleBytes(CommittedBytes());
    if (!module) return frames;
    // Each channel's instrument follows the order list; every pattern of this song is played in
    // one order position, or with the same instruments in each.
    std::vector<int> current(size_t(module->channelCount), 0);
    std::set<int> done;
    for (int order = 0; order < module->songLength; ++order) {
        int p = module->orders[order];
        if (!done.insert(p).second) continue;
        ::Pattern& pattern = module->patterns[p];
        for (int row = 0; row < pattern.rowCount; ++row)
            for (int ch = 0; ch < module->channelCount; ++ch) {
                PatternCell& c = pattern.cells[size_t(row) * module->channelCount + ch];
                if (c.instrument) current[size_t(ch)] = c.instrument;
                if (keep.count(current[size_t(ch)])) continue;
                PatternCell flow = c;
                c = PatternCell{};
                if (Flow(flow)) {
                    c.effect = flow.effect;
                    c.effectParameter = flow.effectParameter;
                }
            }
    }
    Song part;
    RenderSummary summary{};
    RenderModule(module, PlayerRules::Demo, RenderLimits{0, 0}, Collect, &part, &summary);
    FreeModule(module);
    return part.frames;
}

std::string CommittedPath() {
    return std::string(DEMO_DATA_DIR) + "/" + SONG_NAME;
}

std::vector<uint8_t> CommittedBytes() {
    std::ifstream in(CommittedPath(), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

const Song& Committed() {
    static const Song song = Load(false);
    return song;
}

const Song& CommittedRendering() {
    static const Song song = Load(true);
    return song;
}

} // namespace song_check
