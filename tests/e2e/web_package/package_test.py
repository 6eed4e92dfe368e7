#!/usr/bin/env python3
"""The npm package from its tarball: packed with `npm pack`, installed into a fresh folder, then
run by Node (package_test.mjs: the demo's song under the demo's rules equal to xmrender's bytes,
a corpus song under the standard rules equal to xmrender's 16-bit frames and its float frames
within half a step of them, seeking, events, cells, errors) and its declarations checked by
the TypeScript compiler (types_check.ts). The compiler comes from the npm registry into a
tools folder kept between runs; without the registry that check is skipped with a message.

Exit status 0 when all checks pass, 1 when one fails, 77 (skipped) without the web build.
"""
import argparse
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS_SONG = 'rhino_sting.xm'
TYPESCRIPT = 'typescript@5'


def run(command, cwd=None, timeout=300):
    return subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=timeout)


def typescript(tools):
    """The compiler in `tools`, installed from the registry when it is not there yet."""
    tsc = os.path.join(tools, 'node_modules', 'typescript', 'bin', 'tsc')
    if not os.path.exists(tsc):
        os.makedirs(tools, exist_ok=True)
        r = run(['npm', 'install', '--prefix', tools, '--no-audit', '--no-fund', '--no-save', TYPESCRIPT],
                timeout=180)
        if r.returncode != 0 or not os.path.exists(tsc):
            print(r.stdout[-1500:])
            return None
    return tsc


def main():
    sys.stdout.reconfigure(line_buffering=True)
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--package', required=True, help='the web build\'s package folder')
    ap.add_argument('--xmrender', required=True)
    ap.add_argument('--data', required=True, help='the data folder (Zarq-Neat.xm)')
    ap.add_argument('--corpus', required=True, help='folder of corpus songs')
    ap.add_argument('--tools', required=True, help='folder for the TypeScript compiler')
    ap.add_argument('--keep', help='work in this folder and keep it')
    args = ap.parse_args()
    for name in ('package', 'xmrender', 'data', 'corpus', 'tools'):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    if not os.path.exists(os.path.join(args.package, 'neatxm.wasm')):
        print('SKIPPED: no package in %s (cmake --preset web && cmake --build --preset web'
              ' --target neatxm_package)' % args.package)
        return SKIP
    if not shutil.which('node') or not shutil.which('npm'):
        print('SKIPPED: no node or npm')
        return SKIP
    corpus_song = os.path.join(args.corpus, CORPUS_SONG)
    if not os.path.exists(corpus_song):
        print('SKIPPED: the corpus song %s is not in %s' % (CORPUS_SONG, args.corpus))
        return SKIP
    work = args.keep or tempfile.mkdtemp(prefix='package-test-')
    os.makedirs(work, exist_ok=True)
    try:
        # The tarball, and a fresh folder it is installed into (no registry needed: the
        # package has no dependencies).
        r = run(['npm', 'pack', '--pack-destination', work, args.package])
        tarballs = glob.glob(os.path.join(work, 'neatxm-*.tgz'))
        if r.returncode != 0 or not tarballs:
            print(r.stdout)
            print('FAILED  npm pack')
            return 1
        app = os.path.join(work, 'app')
        os.makedirs(app, exist_ok=True)
        with open(os.path.join(app, 'package.json'), 'w') as f:
            json.dump({'name': 'package-test', 'private': True, 'type': 'module'}, f)
        r = run(['npm', 'install', '--no-audit', '--no-fund', '--offline', tarballs[0]], cwd=app)
        if r.returncode != 0:
            print(r.stdout)
            print('FAILED  npm install of the tarball into a fresh folder')
            return 1
        print('ok      %s installed into a fresh folder' % os.path.basename(tarballs[0]))

        zarq = os.path.join(args.data, 'Zarq-Neat.xm')
        zarq_wav = os.path.join(work, 'zarq.wav')
        corpus_wav = os.path.join(work, 'corpus.wav')
        subprocess.run([args.xmrender, '--seconds', '30', '--rules', 'demo', zarq, zarq_wav],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run([args.xmrender, '--rules', 'standard', corpus_song, corpus_wav],
                       check=True, stdout=subprocess.DEVNULL)
        bad = os.path.join(work, 'truncated.xm')
        with open(zarq, 'rb') as f:
            head = f.read(300)
        with open(bad, 'wb') as f:
            f.write(head)
        said = run([args.xmrender, bad, os.path.join(work, 'bad.wav')])
        paths = {'zarq': zarq, 'zarqWav': zarq_wav, 'corpus': corpus_song, 'corpusWav': corpus_wav,
                 'corpusName': CORPUS_SONG, 'bad': bad, 'badMessage': said.stdout}
        test = os.path.join(app, 'package_test.mjs')
        shutil.copy(os.path.join(HERE, 'package_test.mjs'), test)
        r = subprocess.run(['node', test, json.dumps(paths)], cwd=app, timeout=600)
        failed = r.returncode != 0

        tsc = typescript(args.tools)
        if tsc is None:
            print('SKIPPED the type check: the TypeScript compiler could not be installed from the'
                  ' npm registry (%s)' % TYPESCRIPT)
        else:
            shutil.copy(os.path.join(HERE, 'types_check.ts'), os.path.join(app, 'types_check.ts'))
            r = run(['node', tsc, '--noEmit', '--strict', '--target', 'es2020', '--lib', 'es2020,dom',
                     '--module', 'nodenext', '--moduleResolution', 'nodenext', 'types_check.ts'], cwd=app)
            version = run(['node', tsc, '--version']).stdout.strip()
            if r.returncode == 0:
                print('ok      the declarations type-check a page\'s and a program\'s uses (%s, strict)' % version)
            else:
                print(r.stdout)
                print('FAILED  the declarations (%s)' % version)
                failed = True
        return 1 if failed else 0
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
