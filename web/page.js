// page.js: the page's side of the demo: fetches the data files into the program's file system,
// waits for the user's gesture (browsers start sound only after one) and then starts clock and
// music together, toggles full screen for F1, and shows what the program says.
//
// Test runs (URL parameters): fps=N runs the show on a frame clock of N frames a second from
// the start, without waiting for a gesture; at=T1,T2,... (program-clock seconds) reads those
// frames back; music=S renders the first S seconds of the music through the program's output;
// report=1 posts all of it, and the page's state, to /report/... on the server of the page;
// rate=N makes the audio context at N Hz, as a browser that will not play at 44100 Hz does;
// audio=script plays through the script processor, as where the worklet cannot load;
// bench=1 (with fps=N) times every frame, waiting for each as the desktop's bench does, and
// posts the frame rate per part of the show when the show ends.
'use strict';

(function () {
    const params = new URLSearchParams(location.search);
    const fps = Math.max(0, parseInt(params.get('fps') || '0', 10) || 0);
    const captureMs = (params.get('at') || '')
        .split(',')
        .filter((s) => s.trim() !== '')
        .map((s) => Math.round(parseFloat(s) * 1000))
        .filter((ms) => ms >= 0)
        .sort((a, b) => a - b);
    const musicSeconds = Math.max(0, parseFloat(params.get('music') || '0') || 0);
    const report = params.get('report') === '1';
    const forcedRate = Math.max(0, parseInt(params.get('rate') || '0', 10) || 0);
    const worklet = params.get('audio') !== 'script';
    const bench = fps > 0 && params.get('bench') === '1';
    // When the page's steps happened (ms after navigation), for the load-time figures.
    const timing = {pageScript: performance.now()};

    const canvas = document.getElementById('canvas');
    const overlay = document.getElementById('overlay');
    const prompt = document.getElementById('prompt');
    const status = document.getElementById('status');
    const notes = [];

    function post(path, body, type) {
        if (!report) return Promise.resolve();
        return fetch('/report/' + path, {
            method: 'POST',
            headers: {'Content-Type': type || 'application/octet-stream'},
            body: body,
        }).catch(() => {});
    }

    // Lines the program prints (its messages: "Error loading song" and the like) stay on the page.
    function note(line) {
        notes.push(line);
        status.textContent = notes.slice(-4).join('\n');
        post('log', line, 'text/plain');
    }

    let startResolve;
    const demoStart = new Promise((resolve) => (startResolve = resolve));
    let started = false;

    function start() {
        if (started) return;
        started = true;
        window.removeEventListener('keydown', start, true);
        overlay.removeEventListener('click', start);
        // Resumed inside the gesture so that the browser lets it play; the program's audio
        // device takes it when the music starts. The program starts once the worklet's
        // processor has loaded or failed to (the device then falls back to a script processor).
        const loaded = prepareAudio();
        if (Module.audioContext) Module.audioContext.resume();
        overlay.classList.add('hidden');
        canvas.focus();
        timing.gesture = performance.now();
        loaded.then(() => {
            timing.programStart = performance.now();
            startResolve(fps);
        });
    }

    // The audio context and its worklet's processor, made while the page waits for the gesture
    // (a context made before it stays suspended until the gesture resumes it), so that the
    // loading does not delay the start. Resolves when the processor has loaded or failed to.
    let audioPrepared = null;
    function prepareAudio() {
        if (audioPrepared) return audioPrepared;
        if (!Module.audioContext) Module.audioContext = makeAudioContext(44100);
        const context = Module.audioContext;
        audioPrepared = Promise.resolve();
        if (context && worklet && window.isSecureContext && context.audioWorklet) {
            audioPrepared = context.audioWorklet
                .addModule('audio_worklet.js')
                .then(() => (Module.audioWorkletLoaded = true))
                .catch(() => {});
        }
        return audioPrepared;
    }

    // The audio context at the rate the music is made at, where the browser allows one (current
    // browsers take the rate as an option); else at the browser's own rate, which the music
    // then follows.
    function makeAudioContext(rate) {
        const Context = window.AudioContext || window.webkitAudioContext;
        if (!Context) {
            note('No sound: this browser has no Web Audio.');
            return null;
        }
        try {
            return new Context({sampleRate: forcedRate || rate});
        } catch (e) {
            try {
                return new Context();
            } catch (e2) {
                note('No sound: this browser refused an audio context.');
                return null;
            }
        }
    }

    function fetchData() {
        Module.addRunDependency('data');
        Module.FS.mkdir('/Data');
        const files = ['Zarq-Neat.xm', 'Data/Particle.bmp'];
        const missing = [];
        Promise.all(
            files.map((name) =>
                fetch(name)
                    .then((r) => (r.ok ? r.arrayBuffer() : null))
                    .catch(() => null)
                    .then((data) => {
                        if (data) Module.FS.writeFile('/' + name, new Uint8Array(data));
                        else missing.push(name);
                    })
            )
        ).then(() => {
            if (missing.length) note('Not found beside the page: ' + missing.join(', '));
            timing.dataInFileSystem = performance.now();
            Module.removeRunDependency('data');
        });
    }

    // ---- Test runs: frames and music back to the server ---------------------------------------

    let nextCapture = 0;
    const captures = [];

    function readFrame() {
        const gl = Module.gl11.gl;
        const w = gl.drawingBufferWidth, h = gl.drawingBufferHeight;
        const rgba = new Uint8Array(w * h * 4);
        gl.readPixels(0, 0, w, h, gl.RGBA, gl.UNSIGNED_BYTE, rgba);
        // Top row first, RGB, as the capture tool writes its frames.
        const rgb = new Uint8Array(w * h * 3);
        for (let y = 0; y < h; ++y)
            for (let x = 0; x < w; ++x) {
                const from = ((h - 1 - y) * w + x) * 4, to = (y * w + x) * 3;
                rgb[to] = rgba[from];
                rgb[to + 1] = rgba[from + 1];
                rgb[to + 2] = rgba[from + 2];
            }
        return {rgb: rgb, width: w, height: h};
    }

    // Each file's fetch, from the browser's own records: [start, end] in ms after navigation.
    function fetchTimes() {
        const times = {};
        for (const entry of performance.getEntriesByType('navigation'))
            times['index.html'] = [entry.startTime, entry.responseEnd];
        for (const entry of performance.getEntriesByType('resource'))
            times[entry.name.replace(/\?.*$/, '').replace(/^.*\//, '')] = [
                entry.startTime,
                entry.responseEnd,
            ];
        return times;
    }

    // ---- Frame rate per part of the show (bench=1) ---------------------------------------------

    const parts = [];
    let benchLast = 0;
    let benchPart = -1;

    function benchFrame(index) {
        // As the desktop's bench does: the frame counts once it is drawn.
        Module.gl11.gl.finish();
        const now = performance.now();
        const part = Module._web_show_segment();
        if (part !== benchPart) {
            // The server notes the browser's processor time at each change of part.
            benchPart = part;
            post('part?n=' + part, '', 'text/plain');
        }
        if (index > 0) {
            // The interval since the previous frame: its hand-over, then this frame's drawing.
            if (!parts[part])
                parts[part] = {
                    part: part,
                    name: Module.UTF8ToString(Module._web_show_segment_name(part)),
                    frames: 0,
                    ms: 0,
                    slowestMs: 0,
                };
            const t = parts[part], dt = now - benchLast;
            t.frames += 1;
            t.ms += dt;
            t.slowestMs = Math.max(t.slowestMs, dt);
        }
        benchLast = now;
    }

    function finishTestRun() {
        const summary = {
            webgl: Module.gl11 ? Module.gl11.version : 0,
            firstFrameMs: Module.firstFrameMs,
            timing: timing,
            fetches: fetchTimes(),
            parts: bench ? parts.filter((p) => p) : [],
            captures: captures,
            musicFrames: 0,
            elapsedMs: Math.round(performance.now()),
            audio: Module.audioStats
                ? {
                      rate: Module.audioStats.rate,
                      device: Module.audioStats.device,
                      missed: Module.audioStats.missed,
                      queue: Module.audioStats.queue || 0,
                      contextRate: Module.audioContext ? Module.audioContext.sampleRate : 0,
                      frames: Module.audioStats.frames,
                      callbackMs: Math.round(Module.audioStats.ms),
                      overMs: Math.round(performance.now() - Module.audioStats.since),
                      state: Module.audioContext ? Module.audioContext.state : 'none',
                  }
                : null,
        };
        let sent = Promise.resolve();
        if (musicSeconds > 0) {
            const frames = Math.round(musicSeconds * 44100);
            const ptr = Module._web_render_music(frames);
            if (ptr) {
                summary.musicFrames = frames;
                const bytes = Module.HEAPU8.slice(ptr, ptr + frames * 4);
                sent = post('music', bytes);
            }
        }
        sent.then(() => post('done', JSON.stringify(summary), 'application/json'));
    }

    function onFramePresented(index, programMs) {
        if (index === 0) {
            Module.firstFrameMs = Math.round(performance.now());
            timing.firstFrame = performance.now();
            post('state', 'running', 'text/plain');
        }
        if (bench) benchFrame(index);
        if (fps === 0 || nextCapture >= captureMs.length) return;
        let frame = null;
        while (nextCapture < captureMs.length && programMs >= captureMs[nextCapture]) {
            if (!frame) frame = readFrame();
            const at = captureMs[nextCapture++];
            captures.push({at: at, frame: index, programMs: programMs});
            post('frame?at=' + at + '&w=' + frame.width + '&h=' + frame.height, frame.rgb);
        }
        if (nextCapture >= captureMs.length) finishTestRun();
    }

    function toggleFullScreen() {
        const stage = document.getElementById('stage');
        if (document.fullscreenElement) {
            document.exitFullscreen().catch(() => {});
        } else if (stage.requestFullscreen) {
            stage.requestFullscreen().catch(() => note('The browser refused full screen.'));
        }
    }
    // What the page observes of F1 (the browser's own full screen), for a test run.
    document.addEventListener('fullscreenchange', () =>
        post('state', document.fullscreenElement ? 'fullscreen' : 'windowed', 'text/plain')
    );

    function onShowEnded(exitCode) {
        overlay.classList.add('hidden');
        note(exitCode === 0 ? 'The show has ended.' : 'The show could not start.');
        post('state', 'ended', 'text/plain');
        if (bench) finishTestRun();
    }

    if (typeof WebAssembly !== 'object') {
        prompt.textContent = 'This browser cannot run WebAssembly, which the demo needs.';
        return;
    }

    window.Module = {
        canvas: canvas,
        print: (line) => {
            console.log(line);
            note(line);
        },
        printErr: (line) => console.warn(line),
        preRun: [fetchData],
        onRuntimeInitialized: () => {
            timing.runtimeReady = performance.now();
            if (fps > 0) {
                start();
            } else {
                prepareAudio();
                prompt.textContent = 'click or press a key to start';
                post('state', 'ready', 'text/plain');
            }
        },
        demoStart: demoStart,
        makeAudioContext: makeAudioContext,
        toggleFullScreen: toggleFullScreen,
        showMessage: note,
        pageStatus: note,
        onFramePresented: onFramePresented,
        onShowEnded: onShowEnded,
    };
    window.addEventListener('keydown', start, true);
    overlay.addEventListener('click', start);
})();
