// audio_worklet.js: the audio device's processor on the browser's audio thread. It plays the
// frames the page's main thread sends it and tells the main thread how far it has got.
//
// No memory is shared with the main thread (the page is not cross-origin isolated), so frames
// come by message: {left, right} (Float32Array, one per channel), played in the order they
// come. Every `report` frames the processor posts {played, at, missed}: the frames it has
// taken so far, the audio clock's time when it had (currentTime, seconds), and the frames of
// silence it played for want of frames. From the latest of these the main thread works out how
// many frames are still queued at its own moment and sends what keeps the queue full. A busy
// main thread may read only one message between two of its frames; any one report is enough
// for it to catch up.
'use strict';

class RingPlayer extends AudioWorkletProcessor {
    constructor(options) {
        super();
        const opts = (options && options.processorOptions) || {};
        this.report = opts.report || 1024;
        this.queue = []; // blocks still to play, oldest first
        this.offset = 0; // frames of queue[0] already played
        this.played = 0; // frames taken from the queue
        this.missed = 0; // frames of silence played since the first frames came
        this.received = false;
        this.sinceReport = 0;
        this.stopped = false;
        this.port.onmessage = (event) => {
            const data = event.data;
            if (data.stop) {
                this.stopped = true;
                return;
            }
            this.queue.push(data);
            this.received = true;
        };
        this.post();
    }

    post() {
        this.port.postMessage({played: this.played, at: currentTime, missed: this.missed});
        this.sinceReport = 0;
    }

    process(inputs, outputs) {
        if (this.stopped) return false;
        const left = outputs[0][0];
        const right = outputs[0].length > 1 ? outputs[0][1] : null;
        const n = left.length;
        let done = 0;
        while (done < n && this.queue.length) {
            const block = this.queue[0];
            const take = Math.min(n - done, block.left.length - this.offset);
            left.set(block.left.subarray(this.offset, this.offset + take), done);
            if (right) right.set(block.right.subarray(this.offset, this.offset + take), done);
            done += take;
            this.offset += take;
            if (this.offset === block.left.length) {
                this.queue.shift();
                this.offset = 0;
            }
        }
        this.played += done;
        if (done < n) {
            left.fill(0, done);
            if (right) right.fill(0, done);
            if (this.received) this.missed += n - done;
        }
        this.sinceReport += n;
        if (this.sinceReport >= this.report) this.post();
        return true;
    }
}

registerProcessor('ring-player', RingPlayer);
