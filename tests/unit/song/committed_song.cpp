// committed_song.cpp: reads and renders the committed song once for the checks (see
// committed_song.h).
#include "committed_song.h"

#include <fstream>
#include <iterator>

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

Song Load(bool render) {
    Song song;
    Module* module = LoadModuleBytes(CommittedBytes());
    if (!module) return song;
    song.loaded = true;
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

} // namespace

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
