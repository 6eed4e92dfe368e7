// index.js: the package's entry. init() loads neatxm.wasm (in Node from the package's folder, on
// a page from beside this script) and gives the library; createPlayerNode() makes a live player
// on an audio context, an AudioWorkletNode whose processor (worklet.js) runs its own instance of
// the same wasm on the audio thread.
import { Library, NeatxmError, playerOptions, wasmImports } from './core.js';

export { Library, NeatxmError, Player, Song } from './core.js';

const isNode = typeof process === 'object' && !!(process.versions && process.versions.node);

async function wasmBytes(source) {
    const url = source instanceof URL ? source : new URL(source, import.meta.url);
    if (url.protocol === 'file:' && isNode) {
        const { readFile } = await import('node:fs/promises');
        return readFile(url);
    }
    const response = await fetch(url);
    if (!response.ok) throw new Error(`cannot fetch ${url}: ${response.status} ${response.statusText}`);
    return response.arrayBuffer();
}

// The compiled module, and its bytes when known (for a browser that cannot hand a compiled
// module to its audio worklet).
async function compile(source) {
    if (source instanceof WebAssembly.Module) return { module: source, bytes: null };
    const bytes = source instanceof ArrayBuffer || ArrayBuffer.isView(source) ? source
        : await wasmBytes(source || './neatxm.wasm');
    return { module: await WebAssembly.compile(bytes), bytes };
}

/**
 * Loads the library. `options.wasm`: where neatxm.wasm is (a URL or path, its bytes, or the
 * compiled module); by default the file beside this script.
 */
export async function init(options = {}) {
    const { module, bytes } = await compile(options.wasm);
    const instance = await WebAssembly.instantiate(module, wasmImports());
    const library = new Library(instance, module);
    library.wasmBytes = bytes;
    return library;
}

const registered = new WeakMap(); // audio context -> the processor's registration

function register(context, url) {
    if (!registered.has(context)) registered.set(context, context.audioWorklet.addModule(url));
    return registered.get(context);
}

/** Loads the live player's processor into `context` ahead of the first player node (optional:
 * createPlayerNode does it too, but then the first node waits for it). */
export function preparePlayerNodes(context, workletUrl) {
    return register(context, workletUrl || new URL('./worklet.js', import.meta.url));
}

/**
 * A live player of `song` on `context`: an AudioWorkletNode with two output channels, already
 * connected to the context's destination unless options.connect is false. It starts paused.
 */
export async function createPlayerNode(context, song, options = {}) {
    if (!context || !context.audioWorklet)
        throw new Error('this audio context has no audio worklet (a secure context is needed)');
    const { connect = true, workletUrl, ...rest } = options;
    const o = playerOptions({ ...rest, rate: context.sampleRate });
    await preparePlayerNodes(context, workletUrl);
    let node;
    try {
        node = new PlayerNode(context, song, o, { module: song.library.module });
    } catch (e) {
        // A browser that cannot send a compiled module to the worklet gets the bytes.
        if (e.name !== 'DataCloneError' || !song.library.wasmBytes) throw e;
        node = new PlayerNode(context, song, o, { bytes: song.library.wasmBytes });
    }
    await node.ready;
    if (connect) node.connect(context.destination);
    return node;
}

// Outside a browser there is no AudioWorkletNode; the class is then only a name.
const NodeBase = typeof AudioWorkletNode === 'function' ? AudioWorkletNode : class {};

/** The live player: play, pause, seek, loop, controls; events 'position', 'started', 'ended', 'seeked', 'error'. */
export class PlayerNode extends NodeBase {
    constructor(context, song, options, wasm) {
        super(context, 'neatxm-player', {
            numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
            processorOptions: { ...wasm, song: song.bytes, options },
        });
        this.song = song;
        this.options = options;
        this.playing = false;
        this.loopValue = options.loop;
        this.position = null;
        this.volumes = new Uint8Array(song.info.channels);
        this.stats = null;
        this.ready = new Promise((resolve, reject) => {
            this.settle = { resolve, reject };
        });
        this.port.onmessage = (message) => this.receive(message.data);
    }

    receive(m) {
        if (m.type === 'ready') this.settle.resolve(this);
        else if (m.type === 'error') {
            this.settle.reject(new NeatxmError(m.code, m.message));
            this.dispatchEvent(new CustomEvent('error', { detail: m }));
        } else if (m.type === 'position') {
            this.position = m.position;
            this.volumes = m.volumes;
            this.stats = m.stats;
            this.dispatchEvent(new CustomEvent('position', { detail: m }));
        } else if (m.type === 'ended') {
            this.playing = false;
            this.dispatchEvent(new CustomEvent('ended', { detail: m }));
        } else if (m.type === 'started') {
            this.dispatchEvent(new CustomEvent('started', { detail: m }));
        } else if (m.type === 'seeked') {
            this.position = m.position;
            this.dispatchEvent(new CustomEvent('seeked', { detail: m }));
        }
    }

    send(type, data = {}) {
        this.port.postMessage({ type, ...data });
    }

    /** Starts or goes on (resumes the context too: call it from a user gesture). */
    play() {
        if (this.context.state !== 'running') this.context.resume();
        this.playing = true;
        this.send('play');
    }
    pause() {
        this.playing = false;
        this.send('pause');
    }
    /** Exact seek by time; 'seeked' follows when the player stands there. */
    seek(seconds) {
        if (typeof seconds !== 'number' || !(seconds >= 0)) throw new RangeError('a seek needs a time of 0 s or more');
        this.send('seek', { seconds });
    }
    seekOrder(order, row = 0) {
        this.send('seekOrder', { order, row });
    }
    get loop() { return this.loopValue; }
    set loop(on) {
        this.loopValue = !!on;
        this.send('set', { name: 'loop', value: !!on });
    }
    setMute(channel, on) { this.send('mute', { channel, on: !!on }); }
    setSolo(channel, on) { this.send('solo', { channel, on: !!on }); }
    set interpolation(name) { playerOptions({ interpolation: name }); this.send('set', { name: 'interpolation', value: name }); }
    set separation(percent) { playerOptions({ separation: percent }); this.send('set', { name: 'separation', value: percent }); }
    set gain(decibels) { playerOptions({ gain: decibels }); this.send('set', { name: 'gain', value: decibels }); }
    /** Stops the processor for good and disconnects the node. */
    destroy() {
        this.send('destroy');
        this.disconnect();
    }
}
