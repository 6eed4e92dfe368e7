// page.js: the page's side of the demo: fetches the data files into the program's file system,
// waits for the user's gesture (browsers start sound only after one) and then starts clock and
// music together, toggles full screen for F1, and shows what the program says.
//
// Test runs (URL parameters): fps=N runs the show on a frame clock of N frames a second from
// the start, without waiting for a gesture; at=T1,T2,... (program-clock seconds) reads those
// frames back; music=S renders the first S seconds of the music through the program's output;
// report=1 posts all of it, and the page's state, to /report/... on the server of the page.
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
        // Made inside the gesture so that the browser lets it play; the program's audio device
        // takes it when the music starts.
        if (fps === 0 && !Module.audioContext) {
            try {
                Module.audioContext = new AudioContext({sampleRate: 44100});
                Module.audioContext.resume();
            } catch (e) {
                note('No sound: this browser refused an audio context at 44100 Hz.');
            }
        }
        overlay.classList.add('hidden');
        canvas.focus();
        startResolve(fps);
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

    function finishTestRun() {
        const summary = {
            webgl: Module.gl11 ? Module.gl11.version : 0,
            firstFrameMs: Module.firstFrameMs,
            captures: captures,
            musicFrames: 0,
            elapsedMs: Math.round(performance.now()),
            audio: Module.audioStats
                ? {
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
            post('state', 'running', 'text/plain');
        }
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

    function onShowEnded(exitCode) {
        overlay.classList.add('hidden');
        note(exitCode === 0 ? 'The show has ended.' : 'The show could not start.');
        post('state', 'ended', 'text/plain');
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
            if (fps > 0) {
                start();
            } else {
                prompt.textContent = 'click or press a key to start';
            }
        },
        demoStart: demoStart,
        toggleFullScreen: toggleFullScreen,
        showMessage: note,
        pageStatus: note,
        onFramePresented: onFramePresented,
        onShowEnded: onShowEnded,
    };
    window.addEventListener('keydown', start, true);
    overlay.addEventListener('click', start);
})();
