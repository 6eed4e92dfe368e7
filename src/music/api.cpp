// api.cpp: the public C interface (include/neatxm.h) over the loader and the player. Loading and
// song queries on any thread; each player on one thread at a time. Rendering allocates nothing.
#include "neatxm.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "music/file_access.h"
#include "music/module.h"
#include "music/player.h"
#include "music/song_handle.h"

struct neatxm_song {
    Module* module;
    double lengthSeconds;
};

struct neatxm_player {
    Player* player;
};

// The loader's codes are the API's codes; keep them in step.
constexpr bool SameCode(neatxm_error_code api, LoadErrorCode loader) {
    return static_cast<int>(api) == static_cast<int>(loader);
}
static_assert(SameCode(NEATXM_OK, LOAD_OK) &&
              SameCode(NEATXM_ERROR_CANNOT_OPEN, LOAD_CANNOT_OPEN) &&
              SameCode(NEATXM_ERROR_NOT_XM, LOAD_NOT_XM) &&
              SameCode(NEATXM_ERROR_TRUNCATED, LOAD_TRUNCATED) &&
              SameCode(NEATXM_ERROR_UNSUPPORTED, LOAD_UNSUPPORTED) &&
              SameCode(NEATXM_ERROR_OUT_OF_MEMORY, LOAD_OUT_OF_MEMORY) &&
              SameCode(NEATXM_ERROR_INVALID, LOAD_INVALID));

namespace {

constexpr int32_t LENGTH_RATE = 44100;
constexpr int64_t LENGTH_LIMIT_FRAMES = int64_t{20} * 60 * LENGTH_RATE;

int Fail(neatxm_error* error, int code, const char* message) {
    if (error) {
        error->code = code;
        std::snprintf(error->message, sizeof error->message, "%s", message);
    }
    return code;
}

void Succeed(neatxm_error* error) {
    if (error) {
        error->code = NEATXM_OK;
        error->message[0] = '\0';
    }
}

// The caller's public operations as the loader's set: the context is the caller's record, and
// each operation hands on to the one in it.
const neatxm_file_callbacks& Public(void* context) {
    return *static_cast<const neatxm_file_callbacks*>(context);
}
FileCallbacks OverPublic(const neatxm_file_callbacks* files) {
    FileCallbacks set{};
    SetFileCallbacks(
        &set, [](void* c, const char* name) { return Public(c).open(name); },
        [](void* c, void* handle) { return Public(c).close(handle); },
        [](void* c, void* buffer, int32_t count, void* handle) {
            return Public(c).read(buffer, count, handle);
        },
        [](void* c, void* handle, int32_t offset, int origin) {
            return Public(c).seek(handle, offset, origin);
        },
        [](void* c, void* handle) { return Public(c).tell(handle); },
        const_cast<neatxm_file_callbacks*>(files));
    return set;
}

// Wraps a loaded module; the length to the first wrap is found once, here.
neatxm_song* Wrap(Module* module, const LoadError& loaded, neatxm_error* error) {
    if (!module) {
        Fail(error, loaded.code, loaded.message);
        return nullptr;
    }
    auto* song = new (std::nothrow) neatxm_song{module, -1.0};
    if (!song) {
        FreeModule(module);
        Fail(error, NEATXM_ERROR_OUT_OF_MEMORY, "out of memory");
        return nullptr;
    }
    // Under the library's default rules: the length a player made with them plays.
    const int64_t frames =
        FramesToFirstWrap(module, LENGTH_RATE, LENGTH_LIMIT_FRAMES, PlayerRules::Standard);
    song->lengthSeconds = frames >= 0 ? static_cast<double>(frames) / LENGTH_RATE : -1.0;
    Succeed(error);
    return song;
}

const Instrument* InstrumentAt(const neatxm_song* song, int instrument) {
    if (!song || instrument < 0 || instrument >= song->module->instrumentCount ||
        !song->module->instruments)
        return nullptr;
    return &song->module->instruments[instrument];
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

} // namespace

extern "C" {

neatxm_song* neatxm_load_file(const char* path, neatxm_error* error) {
    if (!path) return Fail(error, NEATXM_ERROR_ARGUMENT, "no file name given"), nullptr;
    LoadError loaded{};
    return Wrap(LoadModule(&standardFileCallbacks, path, nullptr, &loaded), loaded, error);
}

neatxm_song* neatxm_load_memory(const void* data, size_t size, neatxm_error* error) {
    if (!data && size > 0) return Fail(error, NEATXM_ERROR_ARGUMENT, "no data given"), nullptr;
    LoadError loaded{};
    return Wrap(LoadModuleFromMemory(data, size, nullptr, &loaded), loaded, error);
}

neatxm_song* neatxm_load_callbacks(const neatxm_file_callbacks* files, const char* name,
                                   neatxm_error* error) {
    if (!files || !files->open || !files->close || !files->read || !files->seek || !files->tell)
        return Fail(error, NEATXM_ERROR_ARGUMENT, "an incomplete set of file operations"), nullptr;
    const FileCallbacks set = OverPublic(files);
    LoadError loaded{};
    return Wrap(LoadModule(&set, name, nullptr, &loaded), loaded, error);
}

int neatxm_song_free(neatxm_song* song) {
    if (!song) return NEATXM_ERROR_ARGUMENT;
    if (!FreeModule(song->module)) return NEATXM_ERROR_IN_USE;
    delete song;
    return NEATXM_OK;
}

int neatxm_song_get_info(const neatxm_song* song, neatxm_song_info* info) {
    if (!song || !info) return NEATXM_ERROR_ARGUMENT;
    const Module* m = song->module;
    *info = neatxm_song_info{};
    info->channels = m->channelCount;
    info->orders = m->songLength;
    info->restart_position = m->restartPosition;
    info->patterns = m->patternCount;
    info->instruments = m->instrumentCount;
    info->samples = m->sampleCount;
    info->linear_frequencies = (m->flags & MODULE_LINEAR_FREQUENCIES) ? 1 : 0;
    info->default_speed = m->defaultSpeed;
    info->default_bpm = m->defaultBpm;
    info->version = m->version;
    info->length_seconds = song->lengthSeconds;
    return NEATXM_OK;
}

const char* neatxm_song_title(const neatxm_song* song) {
    return song ? song->module->title : "";
}

const char* neatxm_song_tracker(const neatxm_song* song) {
    return song ? song->module->trackerName : "";
}

const char* neatxm_instrument_name(const neatxm_song* song, int instrument) {
    const Instrument* found = InstrumentAt(song, instrument);
    return found ? found->name : "";
}

int neatxm_instrument_samples(const neatxm_song* song, int instrument) {
    const Instrument* found = InstrumentAt(song, instrument);
    return found ? found->sampleCount : 0;
}

const char* neatxm_sample_name(const neatxm_song* song, int instrument, int sample) {
    const Instrument* found = InstrumentAt(song, instrument);
    if (!found || sample < 0 || sample >= found->sampleCount) return "";
    return found->samples[sample]->name;
}

int neatxm_song_order(const neatxm_song* song, int position) {
    if (!song || position < 0 || position >= song->module->songLength) return -1;
    return song->module->orders[position];
}

neatxm_player* neatxm_player_create(const neatxm_song* song, int rate, neatxm_rules rules,
                                    neatxm_error* error) {
    if (!song) return Fail(error, NEATXM_ERROR_ARGUMENT, "no song given"), nullptr;
    if (rate < LOWEST_RATE || rate > HIGHEST_RATE)
        return Fail(error, NEATXM_ERROR_ARGUMENT, "the rate must lie between 50 and 384000 Hz"),
               nullptr;
    if (rules != NEATXM_RULES_STANDARD && rules != NEATXM_RULES_DEMO)
        return Fail(error, NEATXM_ERROR_ARGUMENT, "unknown rule set"), nullptr;
    if (rules == NEATXM_RULES_DEMO && song->module->format == ModuleFormat::Mod)
        return Fail(error, NEATXM_ERROR_ARGUMENT,
                    "the demo's rules play XM songs only; play a MOD song with the standard rules"),
               nullptr;
    auto* handle = new (std::nothrow) neatxm_player{nullptr};
    if (handle)
        handle->player =
            CreatePlayer(song->module, rate,
                         rules == NEATXM_RULES_DEMO ? PlayerRules::Demo : PlayerRules::Standard);
    if (!handle || !handle->player) {
        delete handle;
        return Fail(error, NEATXM_ERROR_OUT_OF_MEMORY, "out of memory"), nullptr;
    }
    Succeed(error);
    return handle;
}

void neatxm_player_destroy(neatxm_player* player) {
    if (!player) return;
    DestroyPlayer(player->player);
    delete player;
}

size_t neatxm_render_s16(neatxm_player* player, int16_t* interleaved, size_t frames) {
    return RenderInPieces(player, interleaved, frames, RenderPcm16);
}

size_t neatxm_render_float(neatxm_player* player, float* interleaved, size_t frames) {
    return RenderInPieces(player, interleaved, frames, RenderFloat);
}

int neatxm_player_position(const neatxm_player* player, neatxm_position* position) {
    if (!player || !position) return NEATXM_ERROR_ARGUMENT;
    const Player* p = player->player;
    const PlayerPosition& heard = p->heard;
    *position = neatxm_position{};
    position->order = heard.order;
    position->pattern = heard.pattern;
    position->row = heard.row;
    position->tick = heard.tick;
    position->speed = heard.speed;
    position->bpm = heard.bpm;
    position->frames = static_cast<uint64_t>(p->framesPulled);
    position->seconds = static_cast<double>(p->framesPulled) / p->mixer.mixRate;
    position->loops = p->watch.wraps;
    position->ended = PlayerEnded(p) ? 1 : 0;
    return NEATXM_OK;
}

int neatxm_player_seek(neatxm_player* player, int order) {
    if (!player || !SeekOrder(player->player, order)) return NEATXM_ERROR_ARGUMENT;
    return NEATXM_OK;
}

int neatxm_player_set_end(neatxm_player* player, neatxm_end end) {
    if (!player || (end != NEATXM_END_WRAP && end != NEATXM_END_STOP)) return NEATXM_ERROR_ARGUMENT;
    player->player->endMode = end == NEATXM_END_STOP ? EndMode::Stop : EndMode::Wrap;
    return NEATXM_OK;
}

int neatxm_player_channel_volume(const neatxm_player* player, int channel) {
    if (!player || channel < 0 || channel >= player->player->module->channelCount ||
        channel >= MAX_CHANNELS)
        return 0;
    const Voice* voice = player->player->channels[channel].voice;
    return voice && voice->sample ? voice->mixVolume : 0;
}

} // extern "C"

const Module* SongModule(const neatxm_song* song) {
    return song ? song->module : nullptr;
}
