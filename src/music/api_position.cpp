// api_position.cpp: the public C interface's view of a playing song: the position, seeking by
// time and to an order's row, each channel's state and the events since the last call. Each
// player on one thread at a time.
#include "neatxm.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "music/api_internal.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/player_events.h"
#include "music/seeking.h"

static_assert(static_cast<int>(PlayerEventKind::NoteStarted) == NEATXM_EVENT_NOTE &&
              static_cast<int>(PlayerEventKind::RowChanged) == NEATXM_EVENT_ROW &&
              static_cast<int>(PlayerEventKind::OrderChanged) == NEATXM_EVENT_ORDER);

namespace {

SeekMode ModeOf(neatxm_seek mode) {
    return mode == NEATXM_SEEK_FAST ? SeekMode::Fast : SeekMode::Exact;
}
bool KnownMode(neatxm_seek mode) {
    return mode == NEATXM_SEEK_EXACT || mode == NEATXM_SEEK_FAST;
}

neatxm_event Public(const PlayerEvent& e) {
    neatxm_event out{};
    out.frame = e.frame;
    out.kind = static_cast<int32_t>(e.kind);
    out.channel = e.channel;
    out.note = e.note;
    out.instrument = e.instrument;
    out.sample = e.sample;
    out.order = e.order;
    out.pattern = e.pattern;
    out.row = e.row;
    return out;
}

} // namespace

extern "C" {

neatxm_error neatxm_player_get_position(const neatxm_player* player, neatxm_position* position) {
    if (!player || !position) return NEATXM_ERROR_ARGUMENT;
    if (!api::OutputUsable(position)) return NEATXM_ERROR_RECORD_SIZE;
    const Player* p = player->player;
    const PlayerPosition& heard = p->heard;
    const PlayerProgress progress = GetPlayerProgress(p);
    neatxm_position full{};
    full.size = sizeof full;
    full.order = heard.order;
    full.pattern = heard.pattern;
    full.row = heard.row;
    full.tick = heard.tick;
    full.speed = heard.speed;
    full.bpm = heard.bpm;
    full.passes = progress.passes;
    full.frame = progress.frames;
    full.seconds = static_cast<double>(progress.frames) / p->mixer.mixRate;
    full.ended = progress.ended ? 1 : 0;
    api::CopyOut(full, position);
    return NEATXM_OK;
}

neatxm_error neatxm_player_seek_frame(neatxm_player* player, int64_t frame, neatxm_seek mode) {
    if (!player || !KnownMode(mode)) return NEATXM_ERROR_ARGUMENT;
    if (frame < 0) return NEATXM_ERROR_RANGE;
    return SeekFrame(player->player, frame, ModeOf(mode)) ? NEATXM_OK : NEATXM_ERROR_RANGE;
}

neatxm_error neatxm_player_seek_seconds(neatxm_player* player, double seconds, neatxm_seek mode) {
    if (!player || !KnownMode(mode)) return NEATXM_ERROR_ARGUMENT;
    // Beyond a few thousand years of frames, or NaN: no song gets there.
    const double frame = std::floor(seconds * player->player->mixer.mixRate);
    if (!(frame >= 0.0 && frame < 9.0e15)) return NEATXM_ERROR_RANGE;
    return neatxm_player_seek_frame(player, static_cast<int64_t>(frame), mode);
}

neatxm_error neatxm_player_seek_order(neatxm_player* player, int32_t order, int32_t row) {
    if (!player) return NEATXM_ERROR_ARGUMENT;
    return SeekOrderRow(player->player, order, row) ? NEATXM_OK : NEATXM_ERROR_RANGE;
}

neatxm_error neatxm_player_get_channel(const neatxm_player* player, int32_t channel,
                                       neatxm_channel_state* state) {
    if (!player || !state) return NEATXM_ERROR_ARGUMENT;
    if (!api::OutputUsable(state)) return NEATXM_ERROR_RECORD_SIZE;
    const Player* p = player->player;
    ChannelState inner{};
    if (channel < 0 || channel >= MAX_CHANNELS || !GetChannelState(p, channel, &inner))
        return NEATXM_ERROR_RANGE;
    neatxm_channel_state full{};
    full.size = sizeof full;
    full.active = inner.active ? 1 : 0;
    full.note = inner.note;
    full.instrument = inner.instrument;
    full.sample = inner.sample;
    full.volume = inner.volume;
    full.panning = inner.panning;
    const Voice* voice = p->channels[channel].voice;
    full.level = voice && voice->sample ? voice->mixVolume : 0;
    full.frequency = inner.frequency;
    api::CopyOut(full, state);
    return NEATXM_OK;
}

neatxm_error neatxm_player_take_events(neatxm_player* player, void* events, size_t eventSize,
                                       int32_t capacity, int32_t* count) {
    if (count) *count = 0;
    if (!player || !count || capacity < 0 || (!events && capacity > 0))
        return NEATXM_ERROR_ARGUMENT;
    // The caller's record must hold the frame and the kind at least.
    if (eventSize < offsetof(neatxm_event, kind) + sizeof(int32_t)) return NEATXM_ERROR_RECORD_SIZE;
    const size_t copied = std::min(eventSize, sizeof(neatxm_event));
    auto* out = static_cast<unsigned char*>(events);
    // Taken in pieces through a small buffer, so that nothing is allocated.
    PlayerEvent taken[64];
    int32_t total = 0;
    while (total < capacity) {
        const int32_t want = std::min<int32_t>(capacity - total, 64);
        const int32_t got = TakePlayerEvents(player->player, taken, want);
        for (int32_t i = 0; i < got; ++i) {
            const neatxm_event e = Public(taken[i]);
            std::memcpy(out + static_cast<size_t>(total + i) * eventSize, &e, copied);
        }
        total += got;
        if (got < want) break;
    }
    *count = total;
    return NEATXM_OK;
}

uint64_t neatxm_player_events_dropped(const neatxm_player* player) {
    return player ? PlayerEventsDropped(player->player) : 0;
}

} // extern "C"
