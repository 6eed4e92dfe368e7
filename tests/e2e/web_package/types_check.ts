// Compiled (not run) by the TypeScript compiler against the installed package's declarations:
// the uses a page or a Node program makes of the package type-check, and wrong ones do not.
import { createPlayerNode, init, NeatxmError, type Player, type PlayerEvent, type Position } from 'neatxm';

export async function render(bytes: Uint8Array): Promise<Float32Array> {
    const library = await init();
    const song = library.loadSong(bytes);
    const length: number | null = song.info.lengthSeconds;
    const player: Player = song.createPlayer({ rate: 48000, rules: 'demo', interpolation: 'sinc',
                                               separation: 50, gain: -3, mute: [0], solo: [1, 2],
                                               loop: length === null });
    player.seek(1.5);
    player.seekOrder(2, 16);
    const at: Position = player.position;
    const events: PlayerEvent[] = player.takeEvents();
    const notes = events.filter((e) => e.kind === 'note').map((e) => e.note ?? 0);
    player.interpolation = 'cubic';
    player.setMute(3, true);
    const s16: Int16Array = player.renderS16(100);
    const cell = song.cell(song.orders[0], at.row, 0);
    void [notes, s16, cell?.note, song.pattern(0)?.cells.length, player.channelVolumes()[0]];
    // @ts-expect-error: the rule sets are named
    song.createPlayer({ rules: 1 });
    // @ts-expect-error: no such interpolation
    player.interpolation = 'spline';
    return player.render(4096);
}

export async function live(context: AudioContext, bytes: ArrayBuffer): Promise<void> {
    const library = await init({ wasm: new URL('https://example.invalid/neatxm.wasm') });
    try {
        const node = await createPlayerNode(context, library.loadSong(bytes), { loop: true, separation: 100 });
        node.addEventListener('position', (e) => console.log(e.detail.position.row, e.detail.volumes[0]));
        node.addEventListener('ended', (e) => console.log(e.detail.position.seconds));
        node.play();
        node.seek(30);
        node.loop = false;
        node.interpolation = 'none';
        // @ts-expect-error: a live player takes its context's rate
        await createPlayerNode(context, library.loadSong(bytes), { rate: 44100 });
    } catch (e) {
        if (e instanceof NeatxmError) console.log(e.code, e.message);
    }
}
