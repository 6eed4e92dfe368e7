// player_events.cpp: the song's events as ticks play them (a bounded queue that drops its oldest
// when full) and each track's state after the last tick. Runs on the thread that renders the
// player; the queue is taken on the same thread between renders.
#include "music/player_events.h"

#include <algorithm>
#include <iterator>

#include "music/module.h"
#include "music/player.h"
#include "music/sequencer_internal.h"

namespace {

void Push(Player* player, const PlayerEvent& event) {
    PlayerEventQueue& queue = player->events;
    if (queue.count == PLAYER_EVENT_QUEUE) {
        // Full: the oldest goes, so that a caller who reads late still gets the latest events.
        queue.first = (queue.first + 1) % PLAYER_EVENT_QUEUE;
        queue.count -= 1;
        queue.dropped += 1;
    }
    queue.events[(queue.first + queue.count) % PLAYER_EVENT_QUEUE] = event;
    queue.count += 1;
}

// The event's place in the song: the order position and row the last row tick read.
PlayerEvent At(const Player* player, PlayerEventKind kind) {
    const int32_t order = player->orderPosition;
    PlayerEvent event{};
    event.frame = player->framesMixed + player->seek.songFrameBase;
    event.kind = kind;
    event.channel = event.note = event.instrument = event.sample = -1;
    event.order = order;
    event.pattern = order >= 0 && order < 256 ? player->module->orders[order] : -1;
    event.row = player->playingRow;
    return event;
}

// The instrument a note on the track takes, as the player's rule set keeps it (null when none).
const Instrument* InstrumentOf(const Player* player, const MusicChannel& channel) {
    const Module* module = player->module;
    if (!module->instruments) return nullptr;
    const Instrument* instrument = nullptr;
    if (player->rules == PlayerRules::Standard) {
        instrument = channel.standard.note.instrument;
    } else if (channel.demo.instrumentIndex < module->instrumentCount) {
        instrument = &module->instruments[channel.demo.instrumentIndex];
    }
    if (instrument < module->instruments ||
        instrument >= module->instruments + module->instrumentCount)
        return nullptr;
    return instrument;
}

// The note 1-96 a track starts, as the rule set keeps it; -1 when it holds none.
int32_t NoteOf(const Player* player, const MusicChannel& channel) {
    const int32_t note = player->rules == PlayerRules::Standard ? channel.standard.note.lastNote
                                                                : channel.demo.noteIndex + 1;
    return note >= 1 && note <= 96 ? note : -1;
}

// The sample's slot in its instrument (a stereo sample as either of its two records); -1 when
// it is not one of them (the shared silent sample).
int32_t SampleSlot(const Instrument* instrument, const Sample* sample) {
    if (!instrument || !sample) return -1;
    const int32_t count = std::min<int32_t>(instrument->sampleCount, MAX_INSTRUMENT_SAMPLES);
    for (int32_t j = 0; j < count; ++j) {
        const Sample* own = instrument->samples[j];
        if (own && (own == sample || own->stereo == sample)) return j;
    }
    return -1;
}

} // namespace

void RecordRowEvents(Player* player) {
    if (player->events.quiet) return;
    if (player->events.orderEntered) Push(player, At(player, PlayerEventKind::OrderChanged));
    Push(player, At(player, PlayerEventKind::RowChanged));
}

void RecordNoteStarted(Player* player, const MusicChannel* channel, const Sample* sample) {
    PlayerEvent event = At(player, PlayerEventKind::NoteStarted);
    const int32_t c = static_cast<int32_t>(channel - player->channels);
    const Instrument* instrument = InstrumentOf(player, *channel);
    event.channel = c;
    event.note = NoteOf(player, *channel);
    event.instrument =
        instrument ? static_cast<int32_t>(instrument - player->module->instruments) + 1 : -1;
    event.sample = SampleSlot(instrument, sample);
    PlayerEventQueue& queue = player->events;
    if (c >= 0 && c < MAX_CHANNELS) {
        queue.lastNote[c] = static_cast<int16_t>(event.note);
        queue.lastInstrument[c] = static_cast<int16_t>(event.instrument);
        queue.lastSample[c] = static_cast<int16_t>(event.sample);
    }
    if (!queue.quiet) Push(player, event);
}

int32_t TakePlayerEvents(Player* player, PlayerEvent* out, int32_t capacity) {
    if (!player || !out || capacity <= 0) return 0;
    PlayerEventQueue& queue = player->events;
    const int32_t n = std::min(capacity, queue.count);
    for (int32_t k = 0; k < n; ++k) out[k] = queue.events[(queue.first + k) % PLAYER_EVENT_QUEUE];
    queue.first = (queue.first + n) % PLAYER_EVENT_QUEUE;
    queue.count -= n;
    return n;
}

uint64_t PlayerEventsDropped(const Player* player) {
    return player ? player->events.dropped : 0;
}

void ClearPlayerEvents(Player* player) {
    player->events.first = 0;
    player->events.count = 0;
}

void ResetPlayerEvents(Player* player) {
    ClearPlayerEvents(player);
    PlayerEventQueue& queue = player->events;
    std::fill(std::begin(queue.lastNote), std::end(queue.lastNote), int16_t{-1});
    std::fill(std::begin(queue.lastInstrument), std::end(queue.lastInstrument), int16_t{-1});
    std::fill(std::begin(queue.lastSample), std::end(queue.lastSample), int16_t{-1});
}

bool GetChannelState(const Player* player, int32_t channel, ChannelState* out) {
    if (!player || !out || channel < 0 || channel >= TrackCount(player->module)) return false;
    const MusicChannel& track = player->channels[channel];
    const PlayerEventQueue& queue = player->events;
    const Voice* voice = track.voice;
    ChannelState state{};
    state.note = queue.lastNote[channel];
    state.instrument = queue.lastInstrument[channel];
    state.sample = queue.lastSample[channel];
    state.volume = std::clamp(track.volume, 0, 64);
    state.panning = std::clamp(track.panning, 0, 255);
    // Sounding: a voice with sample data that the mixer has not stopped.
    state.active = voice && voice->sample && voice->sample->length > 0;
    if (state.active) {
        const double step = voice->increment + voice->incrementFraction / 4294967296.0;
        state.frequency = step * player->mixer.mixRate;
    }
    *out = state;
    return true;
}
