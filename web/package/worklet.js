// worklet.js: the live player's processor, on the audio thread. It runs its own instance of
// neatxm.wasm with its own copy of the song (the page shares no memory with it), renders each
// callback's frames straight into the output, and reports by message where it stands.
import { Library, wasmImports } from './core.js';

// A position report every this many frames (about 23 ms at 44100 Hz): what a pattern view and
// meters need to follow the song smoothly.
const REPORT_FRAMES = 1024;
// Frames a seek plays through (unheard) per callback: a long seek takes several callbacks, and
// the output is silent meanwhile, so the audio thread is never held for long.
const SEEK_BUDGET = 32768;

class PlayerProcessor extends AudioWorkletProcessor {
    constructor(options) {
        super();
        const { module: compiled, bytes, song, options: o } = options.processorOptions;
        this.playing = false;
        this.seeking = false;
        this.alive = true;
        this.sinceReport = 0;
        this.stats = { quanta: 0, frames: 0, short: 0, firstAt: -1, since: Date.now() };
        try {
            const module = compiled instanceof WebAssembly.Module ? compiled : new WebAssembly.Module(bytes);
            const library = new Library(new WebAssembly.Instance(module, wasmImports()), module);
            this.song = library.loadSong(song);
            this.player = this.song.createPlayer(o);
        } catch (e) {
            this.alive = false;
            this.port.postMessage({ type: 'error', code: e.code || 0, message: e.message });
            return;
        }
        this.port.onmessage = (message) => this.command(message.data);
        this.port.postMessage({ type: 'ready', position: this.player.position });
    }

    command(m) {
        const p = this.player;
        try {
            switch (m.type) {
            case 'play': this.playing = true; break;
            case 'pause': this.playing = false; this.report(); break;
            case 'seek': p.beginSeek(m.seconds); this.seeking = true; break;
            case 'seekOrder': p.seekOrder(m.order, m.row); this.seeked(); break;
            case 'mute': p.setMute(m.channel, m.on); break;
            case 'solo': p.setSolo(m.channel, m.on); break;
            case 'set': p[m.name] = m.value; break;
            case 'destroy':
                this.alive = false;
                p.destroy();
                this.song.free();
                break;
            }
        } catch (e) {
            this.port.postMessage({ type: 'error', code: e.code || 0, message: e.message });
        }
    }

    seeked() {
        this.player.takeEvents(); // what the seek played through was not heard
        this.port.postMessage({ type: 'seeked', position: this.player.position });
        this.report();
    }

    report() {
        const p = this.player;
        this.sinceReport = 0;
        this.port.postMessage({
            type: 'position', position: p.position, volumes: p.channelVolumes(),
            events: p.takeEvents(), playing: this.playing,
            stats: { ...this.stats, currentFrame, now: Date.now() },
        });
    }

    process(inputs, outputs) {
        if (!this.alive) return false;
        const out = outputs[0];
        const left = out[0];
        const right = out[1] || out[0];
        if (this.seeking) {
            const left_ = this.player.stepSeek(SEEK_BUDGET);
            if (left_ <= 0) {
                this.seeking = false;
                this.seeked();
            }
            return true;
        }
        if (!this.playing) return true;
        const got = this.player.renderChannels(left, right);
        this.stats.quanta += 1;
        this.stats.frames += got;
        if (this.stats.firstAt < 0) {
            this.stats.firstAt = currentFrame;
            this.port.postMessage({ type: 'started', currentFrame });
        }
        this.sinceReport += left.length;
        if (got < left.length) {
            left.fill(0, got);
            right.fill(0, got);
            if (this.player.position.ended) {
                this.playing = false;
                this.report();
                this.port.postMessage({ type: 'ended', position: this.player.position });
                return true;
            }
            this.stats.short += 1;
        }
        if (this.sinceReport >= REPORT_FRAMES) this.report();
        return true;
    }
}

registerProcessor('neatxm-player', PlayerProcessor);
