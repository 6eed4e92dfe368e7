// api_player.cpp: the public C interface's players: making them from a configuration, their
// controls while they play, and rendering. Each player on one thread at a time.
#include "neatxm.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "music/api_internal.h"
#include "music/mix_controls.h"
#include "music/module.h"
#include "music/player.h"
#include "music/seeking.h"

static_assert(NEATXM_MIN_RATE == LOWEST_RATE && NEATXM_MAX_RATE == HIGHEST_RATE);
static_assert(NEATXM_MAX_SEPARATION == MAX_SEPARATION && MIN_SEPARATION == 0);
static_assert(NEATXM_MIN_GAIN_DB == MIN_GAIN_DB && NEATXM_MAX_GAIN_DB == MAX_GAIN_DB);
static_assert(NEATXM_MAX_RAMP_MS == MAX_RAMP_MS && NEATXM_MAX_CHANNELS == MAX_CHANNELS);
static_assert(static_cast<int>(Interpolation::Sinc) == NEATXM_INTERPOLATION_SINC &&
              static_cast<int>(Interpolation::None) == NEATXM_INTERPOLATION_NONE);

namespace {

// The configuration's defaults, which the fields an older caller's record lacks keep.
constexpr neatxm_player_config DEFAULT_CONFIG = NEATXM_PLAYER_CONFIG_INIT;

bool KnownInterpolation(int32_t value) {
    return value >= NEATXM_INTERPOLATION_NONE && value <= NEATXM_INTERPOLATION_SINC;
}
bool SeparationInRange(int32_t percent) {
    return percent >= MIN_SEPARATION && percent <= MAX_SEPARATION;
}
// NaN is outside every range.
bool GainInRange(float db) {
    return db >= MIN_GAIN_DB && db <= MAX_GAIN_DB;
}
bool RampInRange(int32_t ms) {
    return ms == -1 || (ms >= 0 && ms <= MAX_RAMP_MS);
}

// The fields of the caller's record that its size reaches, over the defaults.
neatxm_player_config ReadConfig(const neatxm_player_config* given) {
    neatxm_player_config config = DEFAULT_CONFIG;
    if (!given) return config;
#define NEATXM_TAKE(field)                                                                         \
    if (NEATXM_RECORD_HOLDS(given, neatxm_player_config, field)) config.field = given->field
    NEATXM_TAKE(rate);
    NEATXM_TAKE(rules);
    NEATXM_TAKE(interpolation);
    NEATXM_TAKE(separation);
    NEATXM_TAKE(gain_db);
    NEATXM_TAKE(ramp_ms);
    NEATXM_TAKE(limiter);
    NEATXM_TAKE(repeat);
#undef NEATXM_TAKE
    return config;
}

// A sentence for the first field out of range, or null when all are fine.
const char* ConfigProblem(const neatxm_player_config& c, neatxm_error* code) {
    *code = NEATXM_ERROR_ARGUMENT;
    if (c.rules != NEATXM_RULES_STANDARD && c.rules != NEATXM_RULES_DEMO) return "unknown rule set";
    if (!KnownInterpolation(c.interpolation)) return "unknown interpolation";
    *code = NEATXM_ERROR_RANGE;
    if (c.rate < LOWEST_RATE || c.rate > HIGHEST_RATE)
        return "the rate must lie between 50 and 384000 Hz";
    if (c.separation != -1 && !SeparationInRange(c.separation))
        return "the separation must be -1 or lie between 0 and 200 %";
    if (!GainInRange(c.gain_db)) return "the gain must lie between -60 and +24 dB";
    if (!RampInRange(c.ramp_ms)) return "the ramp must be -1 or lie between 0 and 100 ms";
    if (c.repeat < 0) return "the repeat count must be 0 (for ever) or more";
    *code = NEATXM_OK;
    return nullptr;
}

void ApplyRepeat(neatxm_player* handle, int32_t count) {
    handle->repeat = count;
    SetRepeatCount(handle->player, count);
}

neatxm_error Refuse(neatxm_error code, char* message, size_t messageSize, const char* text) {
    api::Tell(message, messageSize, text);
    return code;
}

// The player counts frames in int32 per call; larger requests are served in pieces.
template <typename Sample, typename Render>
size_t RenderInPieces(neatxm_player* player, Sample* interleaved, size_t frames, Render render) {
    if (!player || !interleaved) return 0;
    size_t done = 0;
    while (done < frames) {
        const int32_t piece = static_cast<int32_t>(std::min<size_t>(frames - done, 1 << 24));
        const int32_t got = render(player->player, interleaved + 2 * done, piece);
        done += static_cast<size_t>(got);
        if (got < piece) break;
    }
    return done;
}

uint32_t ChannelBit(int32_t channel) {
    return uint32_t{1} << channel;
}

// Sets a control the mixer reads. The frames mixed so far were mixed with the old value, so
// they are no longer what a straight render with the controls of now gives: an exact seek must
// then mix from the song's start rather than go on from here.
template <typename Value> void SetControl(neatxm_player* player, Value& control, Value value) {
    if (control == value) return;
    control = value;
    player->player->seek.straight = false;
}

} // namespace

extern "C" {

neatxm_error neatxm_player_create(const neatxm_song* song, const neatxm_player_config* given,
                                  neatxm_player** out, char* message, size_t messageSize) {
    if (out) *out = nullptr;
    if (!song || !out)
        return Refuse(NEATXM_ERROR_ARGUMENT, message, messageSize,
                      !song ? "no song given" : "no place given for the player");
    if (given && !api::OutputUsable(given))
        return Refuse(NEATXM_ERROR_RECORD_SIZE, message, messageSize,
                      "the configuration's size field is too small");
    const neatxm_player_config config = ReadConfig(given);
    neatxm_error code = NEATXM_OK;
    if (const char* problem = ConfigProblem(config, &code))
        return Refuse(code, message, messageSize, problem);

    if (config.rules == NEATXM_RULES_DEMO && api::FormatOf(song->module) != NEATXM_FORMAT_XM)
        return Refuse(NEATXM_ERROR_RULES_MISMATCH, message, messageSize,
                      "the demo's rules play XM songs only; play a MOD song with the standard "
                      "rules");
    auto* handle = new (std::nothrow) neatxm_player{nullptr, 0};
    if (handle)
        handle->player = CreatePlayer(song->module, config.rate,
                                      config.rules == NEATXM_RULES_DEMO ? PlayerRules::Demo
                                                                        : PlayerRules::Standard);
    if (!handle || !handle->player) {
        delete handle;
        return Refuse(NEATXM_ERROR_OUT_OF_MEMORY, message, messageSize, "out of memory");
    }
    MixControls& controls = handle->player->controls;
    controls.interpolation = static_cast<Interpolation>(config.interpolation);
    // -1 keeps the rule set's own, which the player starts with.
    if (config.separation != -1) controls.separation = config.separation;
    controls.gainDb = config.gain_db;
    controls.rampMs = config.ramp_ms;
    controls.limiter = config.limiter != 0;
    ApplyRepeat(handle, config.repeat);
    api::Tell(message, messageSize, "");
    *out = handle;
    return NEATXM_OK;
}

void neatxm_player_free(neatxm_player* player) {
    if (!player) return;
    DestroyPlayer(player->player);
    delete player;
}

neatxm_error neatxm_player_get_config(const neatxm_player* player, neatxm_player_config* config) {
    if (!player || !config) return NEATXM_ERROR_ARGUMENT;
    if (!api::OutputUsable(config)) return NEATXM_ERROR_RECORD_SIZE;
    const Player* p = player->player;
    neatxm_player_config full = DEFAULT_CONFIG;
    full.rate = p->mixer.mixRate;
    full.rules = p->rules == PlayerRules::Demo ? NEATXM_RULES_DEMO : NEATXM_RULES_STANDARD;
    full.interpolation = static_cast<int32_t>(p->controls.interpolation);
    full.separation = p->controls.separation;
    full.gain_db = p->controls.gainDb;
    full.ramp_ms = p->controls.rampMs;
    full.limiter = p->controls.limiter ? 1 : 0;
    full.repeat = player->repeat;
    api::CopyOut(full, config);
    return NEATXM_OK;
}

size_t neatxm_player_render_s16(neatxm_player* player, int16_t* interleaved, size_t frames) {
    return RenderInPieces(player, interleaved, frames, RenderPcm16);
}

size_t neatxm_player_render_float(neatxm_player* player, float* interleaved, size_t frames) {
    return RenderInPieces(player, interleaved, frames, RenderFloat);
}

neatxm_error neatxm_player_set_interpolation(neatxm_player* player,
                                             neatxm_interpolation interpolation) {
    if (!player || !KnownInterpolation(interpolation)) return NEATXM_ERROR_ARGUMENT;
    SetControl(player, player->player->controls.interpolation,
               static_cast<Interpolation>(interpolation));
    return NEATXM_OK;
}

neatxm_error neatxm_player_set_separation(neatxm_player* player, int32_t percent) {
    if (!player) return NEATXM_ERROR_ARGUMENT;
    if (!SeparationInRange(percent)) return NEATXM_ERROR_RANGE;
    SetControl(player, player->player->controls.separation, percent);
    return NEATXM_OK;
}

neatxm_error neatxm_player_set_gain(neatxm_player* player, float db) {
    if (!player) return NEATXM_ERROR_ARGUMENT;
    if (!GainInRange(db)) return NEATXM_ERROR_RANGE;
    SetControl(player, player->player->controls.gainDb, db);
    return NEATXM_OK;
}

neatxm_error neatxm_player_set_ramp(neatxm_player* player, int32_t ms) {
    if (!player) return NEATXM_ERROR_ARGUMENT;
    if (!RampInRange(ms)) return NEATXM_ERROR_RANGE;
    SetControl(player, player->player->controls.rampMs, ms);
    return NEATXM_OK;
}

neatxm_error neatxm_player_set_limiter(neatxm_player* player, int32_t on) {
    if (!player) return NEATXM_ERROR_ARGUMENT;
    SetControl(player, player->player->controls.limiter, on != 0);
    return NEATXM_OK;
}

neatxm_error neatxm_player_set_repeat(neatxm_player* player, int32_t count) {
    if (!player) return NEATXM_ERROR_ARGUMENT;
    if (count < 0) return NEATXM_ERROR_RANGE;
    ApplyRepeat(player, count);
    return NEATXM_OK;
}

neatxm_error neatxm_player_set_mute(neatxm_player* player, int32_t channel, int32_t on) {
    if (!player) return NEATXM_ERROR_ARGUMENT;
    if (channel < 0 || channel >= player->player->module->channelCount) return NEATXM_ERROR_RANGE;
    uint32_t& muted = player->player->controls.muted;
    SetControl(player, muted, on ? muted | ChannelBit(channel) : muted & ~ChannelBit(channel));
    return NEATXM_OK;
}

neatxm_error neatxm_player_set_solo(neatxm_player* player, int32_t channel, int32_t on) {
    if (!player) return NEATXM_ERROR_ARGUMENT;
    if (channel < 0 || channel >= player->player->module->channelCount) return NEATXM_ERROR_RANGE;
    uint32_t& solo = player->player->controls.solo;
    SetControl(player, solo, on ? solo | ChannelBit(channel) : solo & ~ChannelBit(channel));
    return NEATXM_OK;
}

} // extern "C"
