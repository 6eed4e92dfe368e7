// core.js: songs and players over an instance of neatxm.wasm. Nothing here needs a page, Node or
// a text decoder, so the same code runs on a page, in Node and inside the audio worklet
// (worklet.js). index.js loads the wasm file and adds the live player.

/** Interpolation modes by name, as the library numbers them. */
const INTERPOLATIONS = ['none', 'linear', 'cubic', 'sinc'];
const RULES = { standard: 0, demo: 1 };
const EVENT_KINDS = ['note', 'row', 'order'];
// The ranges the library's controls accept.
const SEPARATION = [0, 200];
const GAIN_DB = [-60, 24];
const MAX_CHANNELS = 32;
const ERROR_ARGUMENT = 7;
// Frames rendered per call into the wasm memory (the scratch buffer holds this many).
const PIECE = 4096;
const EVENT_WORDS = 10;
const EVENT_ROOM = 256;

/** A failure of the library: `code` is its error code, `message` its sentence. */
export class NeatxmError extends Error {
    constructor(code, message) {
        super(message);
        this.name = 'NeatxmError';
        this.code = code;
    }
}

function argumentError(message) {
    return new NeatxmError(ERROR_ARGUMENT, message);
}

/** The imports a neatxm.wasm instance needs. */
export function wasmImports() {
    return {
        env: { emscripten_notify_memory_growth() {} },
        wasi_snapshot_preview1: {
            proc_exit(code) {
                throw new Error(`the library stopped (exit ${code})`);
            },
        },
    };
}

/** The library over an instance of neatxm.wasm (made with wasmImports()). */
export class Library {
    constructor(instance, module) {
        this.module = module; // the compiled wasm, for players on other threads
        this.x = instance.exports;
        if (this.x._initialize) this.x._initialize();
        this.scratch = this.x.nx_alloc(PIECE * 8);
        this.numbers = this.x.nx_alloc(80);
        this.eventBuffer = this.x.nx_alloc(EVENT_ROOM * EVENT_WORDS * 4);
        this.buffer = null;
        this.views();
    }

    // The memory's views, renewed after it has grown.
    views() {
        const buffer = this.x.memory.buffer;
        if (buffer !== this.buffer) {
            this.buffer = buffer;
            this.u8 = new Uint8Array(buffer);
            this.i16 = new Int16Array(buffer);
            this.i32 = new Int32Array(buffer);
            this.f32 = new Float32Array(buffer);
            this.f64 = new Float64Array(buffer);
        }
        return this;
    }

    // A NUL-terminated string of the wasm memory; the file's names are single bytes (Latin-1).
    text(address) {
        const u8 = this.views().u8;
        let end = address;
        while (u8[end]) ++end;
        let s = '';
        for (let i = address; i < end; i += 4096)
            s += String.fromCharCode.apply(null, u8.subarray(i, Math.min(end, i + 4096)));
        return s;
    }

    error() {
        return new NeatxmError(this.x.nx_error_code(), this.text(this.x.nx_error_message()));
    }

    /** Loads a song from the bytes of a module file; throws NeatxmError with the reason. */
    loadSong(bytes) {
        const data = toBytes(bytes);
        const address = this.x.nx_alloc(data.length);
        if (!address) throw new NeatxmError(5, 'out of memory');
        this.views().u8.set(data, address);
        const handle = this.x.nx_song_load(address, data.length);
        this.x.nx_free(address);
        if (!handle) throw this.error();
        return new Song(this, handle, data);
    }
}

function toBytes(bytes) {
    if (bytes instanceof Uint8Array) return bytes.slice();
    if (bytes instanceof ArrayBuffer) return new Uint8Array(bytes.slice(0));
    if (ArrayBuffer.isView(bytes))
        return new Uint8Array(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength));
    throw new TypeError('a song is loaded from an ArrayBuffer or a typed array of its bytes');
}

/** A loaded song: its facts, names, order list and pattern cells; players are made from it. */
export class Song {
    constructor(library, handle, bytes) {
        this.library = library;
        this.handle = handle;
        this.bytes = bytes; // the file, for players on other threads
        const x = library.x;
        const length = x.nx_song_info(handle, library.numbers);
        const n = library.views().i32.subarray(library.numbers >> 2, (library.numbers >> 2) + 11);
        this.info = {
            format: n[10] === 1 ? 'mod' : 'xm', channels: n[0], orders: n[1], restartPosition: n[2], patterns: n[3],
            instruments: n[4], samples: n[5], linearFrequencies: n[6] === 1,
            speed: n[7], bpm: n[8], version: n[9],
            lengthSeconds: length >= 0 ? length : null,
        };
        this.title = library.text(x.nx_song_title(handle));
        this.tracker = library.text(x.nx_song_tracker(handle));
        this.instruments = [];
        for (let i = 0; i < this.info.instruments; ++i) {
            const samples = [];
            const count = x.nx_instrument_samples(handle, i);
            for (let s = 0; s < count; ++s) samples.push(library.text(x.nx_sample_name(handle, i, s)));
            this.instruments.push({ name: library.text(x.nx_instrument_name(handle, i)), samples });
        }
        this.orders = [];
        for (let o = 0; o < this.info.orders; ++o) this.orders.push(x.nx_song_order(handle, o));
        this.patternCache = new Map();
    }

    live() {
        if (!this.handle) throw argumentError('the song has been freed');
        return this.handle;
    }

    /** A pattern's rows and cells (five bytes a cell, row by row); null when out of range. */
    pattern(index) {
        const handle = this.live();
        if (this.patternCache.has(index)) return this.patternCache.get(index);
        const x = this.library.x;
        const rows = x.nx_pattern_rows(handle, index);
        if (rows < 0) return null;
        const size = rows * this.info.channels * 5;
        const address = x.nx_alloc(size);
        x.nx_pattern_cells(handle, index, address);
        const cells = this.library.views().u8.slice(address, address + size);
        x.nx_free(address);
        const pattern = { index, rows, channels: this.info.channels, cells };
        this.patternCache.set(index, pattern);
        return pattern;
    }

    /** One cell: note (0 none, 1-96, 97 key-off), instrument (0 none), volume column, effect. */
    cell(patternIndex, row, channel) {
        const p = this.pattern(patternIndex);
        if (!p || row < 0 || row >= p.rows || channel < 0 || channel >= p.channels) return null;
        const at = (row * p.channels + channel) * 5;
        const c = p.cells;
        return { note: c[at] === 255 ? 97 : c[at], instrument: c[at + 1], volume: c[at + 2],
                 effect: c[at + 3], parameter: c[at + 4] };
    }

    /** A player of this song (options: rate, rules, interpolation, separation, gain, mute, solo, loop). */
    createPlayer(options = {}) {
        return new Player(this, options);
    }

    /** Frees the song; throws while a player of it still exists. */
    free() {
        if (!this.handle) return;
        const code = this.library.x.nx_song_free(this.handle);
        if (code !== 0) throw new NeatxmError(code, 'the song still has players; destroy them first');
        this.handle = 0;
    }
}

function checkChannel(channel) {
    if (!Number.isInteger(channel) || channel < 0 || channel >= MAX_CHANNELS)
        throw argumentError(`channel ${channel} is not one of 0-${MAX_CHANNELS - 1}`);
}

/** Checks the player options and fills in the defaults. */
export function playerOptions(options = {}) {
    const o = {
        rate: 44100, rules: 'standard', interpolation: 'linear', separation: 100, gain: 0,
        mute: [], solo: [], loop: true, ...options,
    };
    if (!Number.isInteger(o.rate) || o.rate < 50 || o.rate > 384000)
        throw argumentError('the rate must lie between 50 and 384000 Hz');
    if (!(o.rules in RULES)) throw argumentError(`unknown rule set "${o.rules}" (standard or demo)`);
    if (!INTERPOLATIONS.includes(o.interpolation))
        throw argumentError(`unknown interpolation "${o.interpolation}" (${INTERPOLATIONS.join(', ')})`);
    checkRange('separation', o.separation, SEPARATION);
    checkRange('gain', o.gain, GAIN_DB);
    for (const c of [...o.mute, ...o.solo]) checkChannel(c);
    return o;
}

function checkRange(name, value, [low, high]) {
    if (typeof value !== 'number' || !(value >= low && value <= high))
        throw argumentError(`${name} must lie between ${low} and ${high}`);
}

/** A player: renders the song's frames, seeks, reports where it stands and what happened. */
export class Player {
    constructor(song, options = {}) {
        const o = playerOptions(options);
        this.song = song;
        this.library = song.library;
        this.rate = o.rate;
        this.rules = o.rules;
        const x = this.library.x;
        this.handle = x.nx_player_create(song.live(), o.rate, RULES[o.rules], o.loop ? 1 : 0);
        if (!this.handle) throw this.library.error();
        this.loopValue = o.loop;
        this.interpolation = o.interpolation;
        this.separation = o.separation;
        this.gain = o.gain;
        for (const c of o.mute) this.setMute(c, true);
        for (const c of o.solo) this.setSolo(c, true);
    }

    live() {
        if (!this.handle) throw argumentError('the player has been destroyed');
        return this.handle;
    }

    get interpolation() { return this.interpolationValue; }
    set interpolation(name) {
        const mode = INTERPOLATIONS.indexOf(name);
        if (mode < 0) throw argumentError(`unknown interpolation "${name}"`);
        this.library.x.nx_player_set_interpolation(this.live(), mode);
        this.interpolationValue = name;
    }
    get separation() { return this.separationValue; }
    set separation(percent) {
        checkRange('separation', percent, SEPARATION);
        this.library.x.nx_player_set_separation(this.live(), Math.round(percent));
        this.separationValue = Math.round(percent);
    }
    get gain() { return this.gainValue; }
    set gain(decibels) {
        checkRange('gain', decibels, GAIN_DB);
        this.library.x.nx_player_set_gain(this.live(), decibels);
        this.gainValue = decibels;
    }
    get loop() { return this.loopValue; }
    set loop(on) {
        this.library.x.nx_player_set_loop(this.live(), on ? 1 : 0);
        this.loopValue = !!on;
    }
    setMute(channel, on) {
        checkChannel(channel);
        this.library.x.nx_player_set_mute(this.live(), channel, on ? 1 : 0);
    }
    setSolo(channel, on) {
        checkChannel(channel);
        this.library.x.nx_player_set_solo(this.live(), channel, on ? 1 : 0);
    }
    /** Channels muted and soloed, as lists. */
    get muted() { return bits(this.library.x.nx_player_mute_mask(this.live())); }
    get soloed() { return bits(this.library.x.nx_player_solo_mask(this.live())); }

    /** Renders up to `frames` stereo frames, interleaved, full scale 1.0. Fewer only at the end
     * of a song that does not loop. */
    render(frames) {
        const out = new Float32Array(2 * frames);
        const got = this.renderInto(out);
        return got * 2 === out.length ? out : out.slice(0, got * 2);
    }

    /** Renders into an interleaved stereo buffer; returns the frames written. */
    renderInto(out) {
        const want = out.length >> 1;
        return this.pieces(want, (at, got, f32, base) => out.set(f32.subarray(base, base + 2 * got), 2 * at));
    }

    /** Renders into two channel buffers (as an audio callback has them); returns the frames. */
    renderChannels(left, right) {
        return this.pieces(Math.min(left.length, right.length), (at, got, f32, base) => {
            for (let i = 0; i < got; ++i) {
                left[at + i] = f32[base + 2 * i];
                right[at + i] = f32[base + 2 * i + 1];
            }
        });
    }

    pieces(want, take) {
        const x = this.library.x;
        const handle = this.live();
        let done = 0;
        while (done < want) {
            const n = Math.min(PIECE, want - done);
            const got = x.nx_player_render(handle, this.library.scratch, n);
            if (got > 0) take(done, got, this.library.views().f32, this.library.scratch >> 2);
            done += got;
            if (got < n) break;
        }
        return done;
    }

    /** 16-bit frames, as the library's own output has them (rounded and clipped). */
    renderS16(frames) {
        const x = this.library.x;
        const handle = this.live();
        const out = new Int16Array(2 * frames);
        let done = 0;
        while (done < frames) {
            const n = Math.min(PIECE * 2, frames - done);
            const got = x.nx_player_render_s16(handle, this.library.scratch, n);
            const base = this.library.scratch >> 1;
            out.set(this.library.views().i16.subarray(base, base + 2 * got), 2 * done);
            done += got;
            if (got < n) break;
        }
        return done === frames ? out : out.slice(0, 2 * done);
    }

    /** Moves to `seconds` from the song's start, exactly: the frames after it are those a
     * straight render has there. False when the song (not looping) ends before. */
    seek(seconds) {
        this.beginSeek(seconds);
        let left;
        do left = this.stepSeek(1 << 20); while (left > 0);
        return left === 0;
    }

    // A seek in steps (the live player spreads a long one over several audio callbacks).
    beginSeek(seconds) {
        if (typeof seconds !== 'number' || !(seconds >= 0)) throw argumentError('a seek needs a time of 0 s or more');
        const code = this.library.x.nx_player_seek_frame(this.live(), Math.round(seconds * this.rate));
        if (code !== 0) throw this.library.error();
    }
    stepSeek(budget) {
        return this.library.x.nx_player_seek_step(this.live(), budget);
    }

    /** Moves to the first frame of a row of an order position. */
    seekOrder(order, row = 0) {
        if (this.library.x.nx_player_seek_order(this.live(), order, row) !== 0)
            throw argumentError(`order ${order}, row ${row} is not in the song`);
    }

    /** Where the song stands at the last frame rendered. */
    get position() {
        const lib = this.library;
        lib.x.nx_player_position(this.live(), lib.numbers);
        const n = lib.views().f64.subarray(lib.numbers >> 3, (lib.numbers >> 3) + 10);
        return { order: n[0], pattern: n[1], row: n[2], tick: n[3], speed: n[4], bpm: n[5],
                 frame: n[6], seconds: n[7], loops: n[8], ended: n[9] === 1 };
    }

    /** Channel volumes at the last tick, 0-255 (a note at full volume gives about 128). */
    channelVolumes() {
        const lib = this.library;
        const channels = this.song.info.channels;
        lib.x.nx_player_volumes(this.live(), channels, lib.scratch);
        return lib.views().u8.slice(lib.scratch, lib.scratch + channels);
    }

    /** What happened since the last call, oldest first: notes started, rows and orders reached. */
    takeEvents() {
        const lib = this.library;
        const handle = this.live();
        const events = [];
        for (;;) {
            const n = lib.x.nx_player_events(handle, lib.eventBuffer, EVENT_ROOM);
            const w = lib.views().i32;
            for (let i = 0; i < n; ++i) {
                const b = (lib.eventBuffer >> 2) + i * EVENT_WORDS;
                const frame = (w[b] >>> 0) + w[b + 1] * 4294967296;
                const e = { kind: EVENT_KINDS[w[b + 2]], frame, seconds: frame / this.rate,
                            order: w[b + 7], pattern: w[b + 8], row: w[b + 9] };
                if (e.kind === 'note')
                    Object.assign(e, { channel: w[b + 3], note: w[b + 4], instrument: w[b + 5], sample: w[b + 6] });
                events.push(e);
            }
            if (n < EVENT_ROOM) return events;
        }
    }

    /** Events lost because nobody took them in time (the newest 1024 are kept). */
    get eventsDropped() {
        return this.library.x.nx_player_events_dropped(this.live());
    }

    destroy() {
        if (!this.handle) return;
        this.library.x.nx_player_destroy(this.handle);
        this.handle = 0;
    }
}

function bits(mask) {
    const list = [];
    for (let c = 0; c < MAX_CHANNELS; ++c) if (mask & (1 << c)) list.push(c);
    return list;
}
