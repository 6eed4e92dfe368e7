// Declarations of the neatxm package (index.js and core.js).
/// <reference lib="dom" />

/** A failure of the library: `code` is its error code, `message` one sentence for people. */
export declare class NeatxmError extends Error {
    readonly code: number;
    constructor(code: number, message: string);
}

export type Rules = 'standard' | 'demo';
export type Interpolation = 'none' | 'linear' | 'cubic' | 'sinc';

export interface PlayerOptions {
    /** Frames a second, 50 to 384000 (default 44100; a live player takes its context's). */
    rate?: number;
    /** 'standard' (the format's rules, the default) or 'demo' (the demo's soundtrack bit for bit). */
    rules?: Rules;
    /** How a voice reads between a sample's points (default 'linear'). */
    interpolation?: Interpolation;
    /** Stereo separation in percent: 0 mono, 100 as the song pans (default), up to 200. */
    separation?: number;
    /** Master gain in dB, -60 to +24 (default 0). */
    gain?: number;
    /** Channels (from 0) that start muted. */
    mute?: number[];
    /** Channels (from 0) that start soloed: when any is, only those sound. */
    solo?: number[];
    /** Whether the song goes on when it comes back to a place it has played (default true);
     * false ends it there. */
    loop?: boolean;
}

export interface SongInfo {
    format: 'xm' | 'mod';
    channels: number;
    orders: number;
    restartPosition: number;
    patterns: number;
    instruments: number;
    samples: number;
    linearFrequencies: boolean;
    speed: number;
    bpm: number;
    /** The XM format version (e.g. 0x0104); 0 for MOD. */
    version: number;
    /** Seconds until the song first comes back to a place it has played; null when it does not
     * within 20 minutes. */
    lengthSeconds: number | null;
}

export interface Instrument {
    name: string;
    samples: string[];
}

export interface Pattern {
    index: number;
    rows: number;
    channels: number;
    /** rows x channels cells of five bytes: note, instrument, volume column, effect, parameter. */
    cells: Uint8Array;
}

export interface Cell {
    /** 0 none, 1-96 notes (1 is C-0), 97 key-off. */
    note: number;
    /** 0 none, 1-128. */
    instrument: number;
    volume: number;
    effect: number;
    parameter: number;
}

export interface Position {
    order: number;
    pattern: number;
    row: number;
    tick: number;
    speed: number;
    bpm: number;
    /** Frames since the song's start. */
    frame: number;
    seconds: number;
    /** Times the song came back to a place it had played. */
    loops: number;
    /** A song that does not loop has ended. */
    ended: boolean;
}

export interface PlayerEvent {
    kind: 'note' | 'row' | 'order';
    /** Frame (from the song's start) at which it happens, and the same in seconds. */
    frame: number;
    seconds: number;
    order: number;
    pattern: number;
    row: number;
    /** Notes only. */
    channel?: number;
    note?: number;
    instrument?: number;
    sample?: number;
}

export declare class Library {
    /** The compiled wasm, which live players instantiate on the audio thread. */
    readonly module: WebAssembly.Module;
    /** The wasm's bytes when init() read them (sent to a worklet that cannot take the module). */
    wasmBytes: ArrayBuffer | ArrayBufferView | null;
    /** Loads a song from the bytes of a module file; throws NeatxmError with the reason. */
    loadSong(bytes: ArrayBuffer | ArrayBufferView): Song;
}

export declare class Song {
    readonly library: Library;
    readonly info: SongInfo;
    readonly title: string;
    readonly tracker: string;
    readonly instruments: Instrument[];
    /** The pattern played at each order position. */
    readonly orders: number[];
    /** The file's bytes (a copy). */
    readonly bytes: Uint8Array;
    pattern(index: number): Pattern | null;
    cell(pattern: number, row: number, channel: number): Cell | null;
    createPlayer(options?: PlayerOptions): Player;
    /** Frees the song's memory; throws while a player of it still exists. */
    free(): void;
}

export declare class Player {
    readonly song: Song;
    readonly rate: number;
    readonly rules: Rules;
    interpolation: Interpolation;
    separation: number;
    gain: number;
    loop: boolean;
    readonly muted: number[];
    readonly soloed: number[];
    setMute(channel: number, on: boolean): void;
    setSolo(channel: number, on: boolean): void;
    /** Up to `frames` stereo frames, interleaved, full scale 1.0 (fewer only at the end of a
     * song that does not loop). */
    render(frames: number): Float32Array;
    /** Renders into an interleaved stereo buffer; returns the frames written. */
    renderInto(interleaved: Float32Array): number;
    /** Renders into two channel buffers; returns the frames written. */
    renderChannels(left: Float32Array, right: Float32Array): number;
    /** 16-bit frames, interleaved, as the library's own 16-bit output. */
    renderS16(frames: number): Int16Array;
    /** Exact seek by time: the frames after it are a straight render's. False when a song that
     * does not loop ends before. */
    seek(seconds: number): boolean;
    /** To the first frame of a row of an order position. */
    seekOrder(order: number, row?: number): void;
    readonly position: Position;
    /** Channel volumes at the last tick, 0-255 (a note at full volume gives about 128). */
    channelVolumes(): Uint8Array;
    /** Events since the last call, oldest first. */
    takeEvents(): PlayerEvent[];
    readonly eventsDropped: number;
    destroy(): void;
}

export interface InitOptions {
    /** Where neatxm.wasm is (URL or path), its bytes, or the compiled module; by default the
     * file beside index.js. */
    wasm?: string | URL | ArrayBuffer | ArrayBufferView | WebAssembly.Module;
}

/** Loads the library. */
export declare function init(options?: InitOptions): Promise<Library>;

export interface PlayerNodeOptions extends Omit<PlayerOptions, 'rate'> {
    /** Connect the node to the context's destination (default true). */
    connect?: boolean;
    /** Where worklet.js is, when a bundler has moved it. */
    workletUrl?: string | URL;
}

export interface PlayerNodeStats {
    /** Audio callbacks played, frames handed out, callbacks short of frames. */
    quanta: number;
    frames: number;
    short: number;
    /** The clock (milliseconds) when the processor was made, and at the report. */
    since: number;
    /** The context's frame at the first frame handed out; -1 before. */
    firstAt: number;
    currentFrame: number;
    now: number;
}

export interface PositionReport {
    position: Position;
    volumes: Uint8Array;
    events: PlayerEvent[];
    playing: boolean;
    stats: PlayerNodeStats;
}

export interface PlayerNodeEventMap {
    position: CustomEvent<PositionReport>;
    started: CustomEvent<{ currentFrame: number }>;
    seeked: CustomEvent<{ position: Position }>;
    ended: CustomEvent<{ position: Position }>;
    error: CustomEvent<{ code: number; message: string }>;
}

/** The live player: an AudioWorkletNode with two output channels. */
export declare class PlayerNode extends AudioWorkletNode {
    readonly song: Song;
    readonly playing: boolean;
    /** The latest report's position; null before the first. */
    readonly position: Position | null;
    readonly volumes: Uint8Array;
    readonly stats: PlayerNodeStats | null;
    loop: boolean;
    set interpolation(name: Interpolation);
    set separation(percent: number);
    set gain(decibels: number);
    /** Starts or goes on; resumes the context (call it from a user gesture). */
    play(): void;
    pause(): void;
    /** Exact seek by time; 'seeked' follows. */
    seek(seconds: number): void;
    seekOrder(order: number, row?: number): void;
    setMute(channel: number, on: boolean): void;
    setSolo(channel: number, on: boolean): void;
    destroy(): void;
    addEventListener<K extends keyof PlayerNodeEventMap>(
        type: K, listener: (this: PlayerNode, ev: PlayerNodeEventMap[K]) => unknown,
        options?: boolean | AddEventListenerOptions): void;
    addEventListener(type: string, listener: EventListenerOrEventListenerObject,
                     options?: boolean | AddEventListenerOptions): void;
}

/** Loads the live player's processor into `context` ahead of the first node. */
export declare function preparePlayerNodes(context: BaseAudioContext, workletUrl?: string | URL): Promise<void>;

/** A live player of `song` on `context`, connected to its destination, paused. */
export declare function createPlayerNode(context: BaseAudioContext, song: Song,
                                         options?: PlayerNodeOptions): Promise<PlayerNode>;
