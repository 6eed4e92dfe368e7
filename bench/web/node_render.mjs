// Render speed of the package in Node: each song from its start to its first return (its
// length), 16-bit at 44100 Hz, best of three runs; processor time of this process.
// node node_render.mjs PACKAGE_DIR RULES SONG...   (prints one JSON line per song)
import { readFileSync } from 'node:fs';
import { basename, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

const [packageDir, rules, ...songs] = process.argv.slice(2);
const { init } = await import(pathToFileURL(resolve(packageDir, 'index.js')).href);
const library = await init();
for (const path of songs) {
    const song = library.loadSong(readFileSync(path));
    const seconds = song.info.lengthSeconds ?? 300;
    const frames = Math.round(seconds * 44100);
    let best = Infinity;
    for (let run = 0; run < 3; ++run) {
        const player = song.createPlayer({ rules });
        const start = process.cpuUsage();
        for (let done = 0; done < frames; done += 8192) player.renderS16(Math.min(8192, frames - done));
        const used = process.cpuUsage(start);
        best = Math.min(best, (used.user + used.system) / 1e6);
        player.destroy();
    }
    console.log(JSON.stringify({ song: basename(path), audio: seconds, cpu: best, times: seconds / best }));
}
