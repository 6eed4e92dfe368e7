// player.js: the module player's page. The songs are read in the page (the library's main-thread
// instance gives the facts, the cells and the error of a bad file); the one playing is played by
// a live player node, whose reports move the seek bar, the pattern view and the meters.
import { createPlayerNode, init, preparePlayerNodes } from '../neatxm/index.js';

const $ = (id) => document.getElementById(id);
const NOTES = ['C-', 'C#', 'D-', 'D#', 'E-', 'F-', 'F#', 'G-', 'G#', 'A-', 'A#', 'B-'];
const EFFECTS = '0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ';
const VOLUME_COMMANDS = '-+DUSVPLRM'; // volume column 0x60-0xff, one letter per 16 values
const LONG_SONG = 20 * 60; // the seek bar's range for a song that does not end

const page = {
    library: null,
    context: null,
    output: null, // gain (the volume keys) -> analyser -> destination
    analyser: null,
    list: [], // { name, bytes, song, error }
    current: -1,
    node: null,
    loop: false,
    volume: 100,
    dragging: false,
    pattern: -1,
    row: -1,
    clickAt: 0,
    latencies: [], // ms from a play click to the first frame the worklet handed out
    seeks: [], // { seconds, position } of each seek done
    reports: 0,
};
window.modulePlayer = page; // for the browser's console and the page's test

function status(text, bad = false) {
    $('status').textContent = text;
    $('status').classList.toggle('error', bad);
}

function clock(seconds) {
    const s = Math.max(0, Math.floor(seconds));
    return `${Math.floor(s / 60)}:${String(s % 60).padStart(2, '0')}`;
}

const hex = (value, digits) => value.toString(16).toUpperCase().padStart(digits, '0');

function cellText(c) {
    const note = c.note === 0 ? '...' : c.note === 97 ? '===' :
        NOTES[(c.note - 1) % 12] + Math.floor((c.note - 1) / 12);
    const instrument = c.instrument ? hex(c.instrument, 2) : '..';
    let volume = '..';
    if (c.volume >= 0x10 && c.volume <= 0x50) volume = hex(c.volume - 0x10, 2);
    else if (c.volume >= 0x60) volume = VOLUME_COMMANDS[(c.volume >> 4) - 6] + hex(c.volume & 15, 1);
    const effect = c.effect === 0 && c.parameter === 0 ? '...' :
        (EFFECTS[c.effect] || '?') + hex(c.parameter, 2);
    return `${note} ${instrument} ${volume} ${effect}`;
}

// ---- Audio ----

async function audio() {
    if (page.context) return page.context;
    const Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) throw new Error('This browser has no Web Audio.');
    const context = new Context({ latencyHint: 'interactive' });
    if (!context.audioWorklet)
        throw new Error('This page needs an audio worklet, which browsers offer only on https: or localhost.');
    page.output = context.createGain();
    page.analyser = context.createAnalyser();
    page.analyser.fftSize = 2048;
    page.output.connect(page.analyser).connect(context.destination);
    page.context = context;
    return context;
}

// The output's largest sample over the analyser's last 2048 frames (both channels mixed).
page.outputPeak = () => {
    if (!page.analyser) return 0;
    const data = new Float32Array(page.analyser.fftSize);
    page.analyser.getFloatTimeDomainData(data);
    return data.reduce((peak, v) => Math.max(peak, Math.abs(v)), 0);
};

// ---- Playlist ----

async function add(files) {
    const start = page.list.length;
    for (const file of files) {
        try {
            page.list.push({ name: file.name, bytes: new Uint8Array(await file.arrayBuffer()) });
        } catch (e) {
            page.list.push({ name: file.name, error: `cannot read the file: ${e.message}` });
        }
    }
    drawPlaylist();
    if (page.current < 0 || !page.node) await choose(start, false);
}

function drawPlaylist() {
    const ol = $('playlist');
    ol.replaceChildren(...page.list.map((entry, i) => {
        const li = document.createElement('li');
        li.textContent = entry.name;
        li.classList.toggle('current', i === page.current);
        if (entry.error) {
            li.classList.add('bad');
            const why = document.createElement('span');
            why.className = 'why';
            why.textContent = entry.error;
            li.append(why);
        } else {
            li.addEventListener('click', () => choose(i, true));
        }
        return li;
    }));
}

// Makes entry `index` (or the next good one after it, going `step`) the current song; plays it
// when `play`. A bad file keeps its message in the playlist and the next one is taken.
async function choose(index, play, step = 1) {
    for (let tries = 0; tries < page.list.length; ++tries, index += step) {
        if (index < 0 || index >= page.list.length) return;
        const entry = page.list[index];
        if (entry.error) continue;
        if (!entry.song) {
            try {
                entry.song = page.library.loadSong(entry.bytes);
            } catch (e) {
                entry.error = e.message;
                status(`${entry.name}: ${e.message}`, true);
                drawPlaylist();
                continue;
            }
        }
        await start(index, play);
        return;
    }
}

async function start(index, play) {
    stop();
    const entry = page.list[index];
    page.current = index;
    drawPlaylist();
    const song = entry.song;
    showFacts(entry.name, song);
    drawChannels(song);
    page.pattern = page.row = -1;
    try {
        const context = await audio();
        const node = await createPlayerNode(context, song, {
            loop: page.loop, interpolation: $('interpolation').value,
            separation: Number($('separation').value), connect: false,
        });
        if (page.current !== index) return node.destroy(); // another song was chosen meanwhile
        node.connect(page.output);
        page.node = node;
        node.addEventListener('position', (e) => follow(e.detail));
        node.addEventListener('seeked', (e) => seeked(e.detail.position));
        node.addEventListener('started', () => {
            if (page.clickAt) page.latencies.push(performance.now() - page.clickAt);
            page.clickAt = 0;
        });
        node.addEventListener('ended', () => {
            setPlayButton(false);
            if (page.current < page.list.length - 1) next(1, true);
        });
        node.addEventListener('error', (e) => status(e.detail.message, true));
        $('play').disabled = false;
        $('seek').disabled = false;
        const length = song.info.lengthSeconds;
        $('seek').max = String(length || LONG_SONG);
        $('length').textContent = length ? clock(length) : '\u221e';
        showRow(song.orders[0] ?? -1, 0);
        status(`${entry.name}: ${song.title.trim() || 'untitled'}`);
        if (play) togglePlay(true);
        else setPlayButton(false);
    } catch (e) {
        status(e.message, true);
    }
}

function stop() {
    if (page.node) {
        page.node.destroy();
        page.node = null;
    }
    setPlayButton(false);
}

function next(step, play) {
    if (page.list.length === 0) return;
    choose(page.current + step, play ?? !!(page.node && page.node.playing), step);
}

// The transport's symbols, drawn (a font may lack the media symbols).
const ICONS = {
    play: '<path d="M5 3l11 7-11 7z"/>',
    pause: '<path d="M4 3h4v14H4zM12 3h4v14h-4z"/>',
    previous: '<path d="M3 3h2v14H3zM17 3v14L6 10z"/>',
    next: '<path d="M15 3h2v14h-2zM3 3v14l11-7z"/>',
};
const icon = (name) => `<svg viewBox="0 0 20 20" width="18" height="18" fill="currentColor" aria-hidden="true">${ICONS[name]}</svg>`;

function setPlayButton(playing) {
    $('play').innerHTML = icon(playing ? 'pause' : 'play');
    $('play').setAttribute('aria-label', playing ? 'Pause' : 'Play');
}

function togglePlay(on) {
    const node = page.node;
    if (!node) return;
    const play = on ?? !node.playing;
    if (play && node.position && node.position.ended) return start(page.current, true); // again
    if (play) {
        page.clickAt = performance.now();
        node.play();
    } else {
        node.pause();
    }
    setPlayButton(play);
}

// ---- Facts, channels, pattern ----

function showFacts(name, song) {
    const i = song.info;
    const facts = [
        ['file', name], ['title', song.title.trim() || '(none)'], ['tracker', song.tracker.trim() || '(none)'],
        ['format', i.format === 'mod' ? 'MOD' : `XM ${i.version >> 8}.${hex(i.version & 255, 2)}`],
        ['channels', i.channels], ['orders', `${i.orders} (restart at ${i.restartPosition})`],
        ['patterns', i.patterns], ['instruments', `${i.instruments} (${i.samples} samples)`],
        ['tempo', `speed ${i.speed}, ${i.bpm} bpm`],
        ['frequencies', i.linearFrequencies ? 'linear' : 'periods'],
        ['length', i.lengthSeconds ? clock(i.lengthSeconds) : 'does not end'],
    ];
    $('facts').replaceChildren(...facts.flatMap(([term, value]) => {
        const dt = document.createElement('dt');
        dt.textContent = term;
        const dd = document.createElement('dd');
        dd.textContent = String(value);
        return [dt, dd];
    }));
    $('instruments').replaceChildren(...song.instruments.map((instrument) => {
        const li = document.createElement('li');
        li.textContent = [instrument.name, ...instrument.samples.map((s) => '  ' + s)].join('\n');
        return li;
    }));
}

function drawChannels(song) {
    const row = $('channels');
    const corner = document.createElement('div');
    corner.className = 'rownum';
    const cells = [corner];
    for (let c = 0; c < song.info.channels; ++c) {
        const box = document.createElement('div');
        box.className = 'ch';
        box.dataset.channel = String(c);
        box.setAttribute('role', 'button');
        box.setAttribute('aria-label', `channel ${c + 1}: mute`);
        box.innerHTML = `<span class="label">${c + 1}</span><button class="solo" aria-label="solo channel ${c + 1}">S</button><span class="meter"></span>`;
        box.addEventListener('click', (e) => {
            if (e.target.classList.contains('solo')) toggle(box, 'soloed', (on) => page.node?.setSolo(c, on));
            else toggle(box, 'muted', (on) => page.node?.setMute(c, on));
        });
        cells.push(box);
    }
    row.replaceChildren(...cells);
}

function toggle(box, name, apply) {
    const on = !box.classList.contains(name);
    box.classList.toggle(name, on);
    apply(on);
}

function showPattern(index) {
    const entry = page.list[page.current];
    const pattern = entry.song.pattern(index);
    page.pattern = index;
    const rows = [];
    for (let r = 0; pattern && r < pattern.rows; ++r) {
        const line = document.createElement('div');
        line.className = 'prow';
        line.dataset.row = String(r);
        const number = document.createElement('span');
        number.className = 'rownum';
        number.textContent = hex(r, 2);
        line.append(number);
        for (let c = 0; c < pattern.channels; ++c) {
            const cell = document.createElement('span');
            cell.className = 'ch';
            cell.textContent = cellText(entry.song.cell(index, r, c));
            line.append(cell);
        }
        rows.push(line);
    }
    $('pattern').replaceChildren(...rows);
}

// Shows row `row` of pattern `pattern` in the middle of the view, highlighted.
function showRow(pattern, row) {
    if (pattern < 0) return;
    if (pattern !== page.pattern) {
        showPattern(pattern);
        page.row = -1;
    }
    if (row === page.row) return;
    const view = $('pattern');
    view.querySelector('.prow.current')?.classList.remove('current');
    const line = view.children[row];
    if (line) {
        line.classList.add('current');
        view.scrollTop = line.offsetTop - (view.clientHeight - line.offsetHeight) / 2;
    }
    page.row = row;
}

function follow(report) {
    page.reports += 1;
    const p = report.position;
    showRow(p.pattern, p.row);
    if (!page.dragging) $('seek').value = String(p.seconds);
    $('time').textContent = clock(p.seconds);
    const boxes = $('channels').querySelectorAll('.ch');
    report.volumes.forEach((v, c) => {
        const box = boxes[c];
        if (!box) return;
        box.querySelector('.meter').style.width = `${Math.min(100, (v * 100) / 128)}%`;
        box.classList.toggle('silent', v === 0);
    });
}

function seeked(position) {
    showRow(position.pattern, position.row);
    const shown = $('pattern').querySelector('.prow.current');
    page.seeks.push({ position, shown: [page.pattern, shown ? Number(shown.dataset.row) : -1] });
    $('time').textContent = clock(position.seconds);
    if (!page.dragging) $('seek').value = String(position.seconds);
}

function seekOrder(step) {
    const node = page.node;
    if (!node || !node.position) return;
    const order = Math.min(Math.max(node.position.order + step, 0), node.song.info.orders - 1);
    node.seekOrder(order, 0);
}

function setVolume(percent) {
    page.volume = Math.min(200, Math.max(0, percent));
    if (page.output) page.output.gain.value = page.volume / 100;
    $('volume-value').textContent = `${page.volume}%`;
}

// ---- Wiring ----

function wire() {
    $('previous').innerHTML = icon('previous');
    $('next').innerHTML = icon('next');
    setPlayButton(false);
    $('open').addEventListener('change', (e) => {
        add([...e.target.files]);
        e.target.value = '';
    });
    $('play').addEventListener('click', () => togglePlay());
    $('next').addEventListener('click', () => next(1));
    $('previous').addEventListener('click', () => next(-1));
    $('loop').addEventListener('click', () => setLoop(!page.loop));
    const seek = $('seek');
    seek.addEventListener('input', () => {
        page.dragging = true;
        $('time').textContent = clock(Number(seek.value));
    });
    seek.addEventListener('change', () => {
        page.dragging = false;
        page.node?.seek(Number(seek.value));
    });
    $('interpolation').addEventListener('change', (e) => {
        if (page.node) page.node.interpolation = e.target.value;
    });
    $('separation').addEventListener('input', (e) => {
        $('separation-value').textContent = `${e.target.value}%`;
        if (page.node) page.node.separation = Number(e.target.value);
    });
    // A clicked button gives the focus back, so that space stays the pause key.
    document.addEventListener('click', (e) => e.target.closest?.('button')?.blur());
    document.addEventListener('keydown', (e) => {
        if (e.target.tagName === 'INPUT' && e.target.type !== 'range' && e.target.type !== 'file') return;
        if (e.ctrlKey || e.metaKey || e.altKey) return;
        const act = {
            ' ': () => togglePlay(), ArrowLeft: () => seekOrder(-1), ArrowRight: () => seekOrder(1),
            n: () => next(1), N: () => next(1), p: () => next(-1), P: () => next(-1),
            '+': () => setVolume(page.volume + 10), '=': () => setVolume(page.volume + 10),
            '-': () => setVolume(page.volume - 10), _: () => setVolume(page.volume - 10),
            l: () => setLoop(!page.loop), L: () => setLoop(!page.loop),
            q: () => stopSong(), Q: () => stopSong(), Escape: () => stopSong(),
        }[e.key];
        if (act) {
            e.preventDefault();
            act();
        }
    });
    // Files dropped anywhere on the page join the playlist.
    let depth = 0;
    document.addEventListener('dragenter', (e) => {
        e.preventDefault();
        if (++depth === 1) $('drop').classList.remove('hidden');
    });
    document.addEventListener('dragleave', () => {
        if (--depth === 0) $('drop').classList.add('hidden');
    });
    document.addEventListener('dragover', (e) => e.preventDefault());
    document.addEventListener('drop', (e) => {
        e.preventDefault();
        depth = 0;
        $('drop').classList.add('hidden');
        if (e.dataTransfer.files.length) add([...e.dataTransfer.files]);
    });
}

function setLoop(on) {
    page.loop = on;
    $('loop').setAttribute('aria-pressed', String(on));
    if (page.node) page.node.loop = on;
}

// q and Escape: the song stops and goes back to its start, as a new choice of it would.
function stopSong() {
    if (page.current >= 0 && page.node) start(page.current, false);
}

// Songs named in the address (?song=a.xm&song=b.xm, on this same server) join the playlist.
async function fromAddress() {
    const names = new URLSearchParams(location.search).getAll('song');
    const files = [];
    for (const name of names) {
        try {
            const response = await fetch(name);
            if (!response.ok) throw new Error(`${response.status} ${response.statusText}`);
            files.push(new File([await response.arrayBuffer()], name.split('/').pop()));
        } catch (e) {
            page.list.push({ name, error: `cannot fetch it: ${e.message}` });
        }
    }
    if (files.length || page.list.length) await add(files);
}

async function main() {
    wire();
    setVolume(100);
    try {
        page.library = await init();
    } catch (e) {
        status(`The player could not start: ${e.message}`, true);
        return;
    }
    try {
        await audio(); // the worklet's code loads now, so a click starts the sound at once
        await preparePlayerNodes(page.context);
    } catch (e) {
        status(e.message, true);
    }
    await fromAddress();
    page.ready = true;
}

main();
