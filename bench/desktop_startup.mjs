// Whole-program figures of the desktop, for the default collection and for
// collections of N generated quotes: start to the first rows shown and to the whole
// list usable (the list reports its full length; rows come as the page asks for
// them, so that is the same moment); the proportional memory (PSS) of the program
// with its web engine processes; and the capture latency, from the second Ctrl+C
// (pressed through XTEST while another program has the focus; the program decides
// on the press and releases the keyboard at once) to the frame that shows the new
// quote, with the keyboard hold the program reports for those presses. Each run
// starts on a fresh copy of the same collection, already made once (a generated
// collection is made by tests/e2e's make_collection and kept in the cache folder).
// With --renderer native the window is painted by the program itself: it has no
// web engine processes, and the times come from its own record of the frames it
// painted (its test reading channel), the first frame with rows for a start and
// the first frame with the list one longer for a capture.
// A measurement, not a test: run by hand, never by CTest.
//
// Usage: node bench/desktop_startup.mjs --program build/hoardly [--renderer web|native]
//        [--quotes default,10000,100000,1000000]
//        [--runs 3] [--captures 0] [--double-copy build/bench/bench_double_copy]
//        [--focus-window build/tests/e2e/e2e_focus_window]
//        [--make-collection build/tests/e2e/e2e_make_collection] [--cache <folder>]
// Needs Xvfb, xclip and tests/e2e's node_modules (npm ci there).

import {spawn, spawnSync} from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';
import {createRequire} from 'node:module';

const here = path.dirname(fileURLToPath(import.meta.url));
const sourceDir = path.resolve(here, '..');
const require = createRequire(path.join(sourceDir, 'tests', 'e2e', 'package.json'));
const puppeteer = require('puppeteer-core');
const {nativeView} = await import(path.join(sourceDir, 'tests', 'e2e', 'desktop.mjs'));

function option(name, fallback) {
    const i = process.argv.indexOf(name);
    return i > 0 ? process.argv[i + 1] : fallback;
}
const program = path.resolve(option('--program', path.join(sourceDir, 'build', 'hoardly')));
// "default": the default collection a first start makes.
const sizes = option('--quotes', 'default,10000,100000,1000000').split(',')
    .map((n) => (n === 'default' ? n : Number(n)));
const runs = Number(option('--runs', '3'));
const native = option('--renderer', 'web') === 'native';
const captures = Number(option('--captures', '0'));
const makeCollection = path.resolve(option('--make-collection',
    path.join(path.dirname(program), 'tests', 'e2e', 'e2e_make_collection')));
const cache = path.resolve(option('--cache', path.join(os.tmpdir(), 'hoardly-bench-cache')));
const doubleCopy = path.resolve(option('--double-copy', path.join(path.dirname(program), 'bench', 'bench_double_copy')));
const focusWindow = path.resolve(option('--focus-window', path.join(path.dirname(program), 'tests', 'e2e', 'e2e_focus_window')));

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
async function waitFor(what, check, timeout) {
    const end = Date.now() + timeout;
    for (;;) {
        const value = await check();
        if (value) return value;
        if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
        await sleep(20);
    }
}
const freePort = () => new Promise((resolve) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
        const {port} = server.address();
        server.close(() => resolve(port));
    });
});

// The processes of the tree under `pid`, itself included.
function processTree(pid) {
    const children = new Map();
    for (const entry of fs.readdirSync('/proc')) {
        if (!/^\d+$/.test(entry)) continue;
        try {
            const stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
            const parent = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
            if (!children.has(parent)) children.set(parent, []);
            children.get(parent).push(Number(entry));
        } catch (e) { /* gone */ }
    }
    const all = [];
    const walk = (p) => {
        all.push(p);
        for (const c of children.get(p) || []) walk(c);
    };
    walk(pid);
    return all;
}

// Proportional memory of one process in MiB: its own pages whole, shared ones
// divided among their sharers, so a sum over processes counts each page once.
function pss(pid) {
    try {
        const rollup = fs.readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8');
        return Number((rollup.match(/^Pss:\s+(\d+)/m) || [0, 0])[1]) / 1024;
    } catch (e) {
        return 0;  // gone
    }
}
// Of the program's PSS: its anonymous pages, and the pages of the collection file
// SQLite has mapped.
function programParts(pid) {
    const rollup = fs.readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8');
    const anon = Number((rollup.match(/^Pss_Anon:\s+(\d+)/m) || [0, NaN])[1]) / 1024;
    let collection = 0;
    let inCollection = false;
    for (const line of fs.readFileSync(`/proc/${pid}/smaps`, 'utf8').split('\n')) {
        if (/^[0-9a-f]+-[0-9a-f]+ /.test(line)) inCollection = /\/hoardly\.fdb(-shm)?$/.test(line);
        else if (inCollection && line.startsWith('Pss:')) collection += Number(line.split(/\s+/)[1]) / 1024;
    }
    return {anon, collection};
}
const treePss = (pid) => processTree(pid).reduce((sum, p) => sum + pss(p), 0);

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'hoardly-startup-'));
let display = 300 + (process.pid % 300);
while (fs.existsSync(`/tmp/.X11-unix/X${display}`)) display++;
const xvfb = spawn('Xvfb', [`:${display}`, '-nolisten', 'tcp', '-screen', '0', '1280x800x24'], {stdio: 'ignore'});
await waitFor('Xvfb', () => fs.existsSync(`/tmp/.X11-unix/X${display}`), 10000);

function environment(root, port) {
    const env = {
        PATH: process.env.PATH, LANG: 'C.UTF-8', DISPLAY: `:${display}`,
        HOME: path.join(root, 'home'), XDG_DATA_HOME: path.join(root, 'data'),
        XDG_DATA_DIRS: path.join(sourceDir, 'share'), XDG_RUNTIME_DIR: path.join(root, 'run'),
        QTWEBENGINE_CHROMIUM_FLAGS: `--disable-gpu --remote-debugging-port=${port}`,
    };
    if (process.getuid() === 0) env.QTWEBENGINE_DISABLE_SANDBOX = '1';
    env.HOARDLY_RENDERER = native ? 'native' : 'web';
    if (native) env.HOARDLY_TEST_SOCKET = path.join(root, 'run', 'reader.sock');
    return env;
}

// One start on the collection in `root`; `length`: the list's length to wait for
// (0: whatever the first rows say).
async function runOnce(root, length) {
    const port = await freePort();
    const started = Date.now();
    const child = spawn(program, [], {env: environment(root, port), stdio: 'ignore'});
    if (native) return runNative(root, length, child, started);
    const browser = await waitFor('the debugging port', async () => {
        try {
            return await puppeteer.connect({browserURL: `http://127.0.0.1:${port}`, defaultViewport: null});
        } catch (e) {
            return null;
        }
    }, 60000);
    const page = await waitFor('the page', async () =>
        (await browser.pages()).find((p) => p.url() === 'hoardly://app/renderer.html'), 60000);
    // The page notes when the first rows and the list's length arrived: the
    // debugging connection itself may lag behind.
    const listLength = () => page.evaluate(() => (window.hoardlyRenderer || {}).lastLength || 0);
    const count = await waitFor('the list', async () => {
        const now = await listLength();
        return (length === 0 ? now > 0 : now === length) && now;
    }, 120000);
    const times = await page.evaluate(() => [window.hoardlyRenderer.firstRowsAt, window.hoardlyRenderer.lastLengthAt]);
    const firstMs = Math.round(times[0] - started);
    const usableMs = Math.round(times[1] - started);
    await sleep(1000);  // whatever the start left to settle
    const memory = treePss(child.pid);
    const programMemory = pss(child.pid);
    const parts = programParts(child.pid);
    const latencies = await measureCaptures(page, root, port);
    browser.disconnect();
    child.kill('SIGTERM');
    await new Promise((resolve) => child.on('exit', resolve));
    const log = fs.readFileSync(path.join(root, 'data', 'Hoardly', 'logs', 'application.log'), 'utf8');
    const hold = log.match(/Copy keys: (\d+) presses decided, the longest held (\d+) us/);
    return {firstMs, usableMs, memory, programMemory, parts, count, latencies, hold: hold ? Number(hold[2]) : NaN};
}

// The same for the native renderer, read through its reading channel.
async function runNative(root, length, child, started) {
    const view = await waitFor('the reading channel', () => nativeView(path.join(root, 'run', 'reader.sock'))
        .catch(() => null), 60000);
    const count = await waitFor('the list', async () => {
        const now = (await view.list('#thequotelist'));
        const total = now.above + now.rows + now.below;
        return (length === 0 ? total > 0 : total === length) && total;
    }, 120000);
    const paints = await view.paints();
    const firstMs = Math.round(paints.find((p) => p.quotes > 0).done - started);
    const usableMs = Math.round(paints.find((p) => p.quotes === count).done - started);
    await sleep(1000);  // whatever the start left to settle
    // The launcher runs the desktop program in its own process (exec).
    const memory = treePss(child.pid);
    const programMemory = pss(child.pid);
    const parts = programParts(child.pid);
    const latencies = await measureNativeCaptures(view, root);
    view.close();
    child.kill('SIGTERM');
    await new Promise((resolve) => child.on('exit', resolve));
    const log = fs.readFileSync(path.join(root, 'data', 'Hoardly', 'logs', 'application.log'), 'utf8');
    const hold = log.match(/Copy keys: (\d+) presses decided, the longest held (\d+) us/);
    return {firstMs, usableMs, memory, programMemory, parts, count, latencies, hold: hold ? Number(hold[2]) : NaN};
}

async function measureNativeCaptures(view, root) {
    if (captures === 0 || !fs.existsSync(doubleCopy) || !fs.existsSync(focusWindow)) return [];
    const env = environment(root, 0);
    const other = spawn(focusWindow, [], {env, stdio: ['ignore', 'pipe', 'ignore']});
    await new Promise((resolve) => other.stdout.once('data', resolve));
    const latencies = [];
    const length = async () => {
        const now = await view.list('#thequotelist');
        return now.above + now.rows + now.below;
    };
    for (let i = 0; i < captures; i++) {
        const text = `Bench capture ${i} at ${Date.now()}`;
        spawnSync('xclip', ['-selection', 'clipboard', '-i'],
            {env, input: text, stdio: ['pipe', 'ignore', 'ignore'], timeout: 5000});
        await sleep(700);  // apart from the last presses
        const before = await length();
        const pressed = Number(spawnSync(doubleCopy, [], {env, encoding: 'utf8'}).stdout);
        await waitFor('the captured quote', async () => {
            const top = await view.first('#thequotelist td.text');
            return top && top.text === text;
        }, 10000);
        await sleep(100);
        const shown = (await view.paints()).find((p) => p.quotes === before + 1 && p.done >= pressed);
        latencies.push(shown.done - pressed);
    }
    other.kill('SIGTERM');
    return latencies;
}

// Captures `captures` clips while another program has the focus; returns the
// latency of each in milliseconds.
async function measureCaptures(page, root, port) {
    if (captures === 0 || !fs.existsSync(doubleCopy) || !fs.existsSync(focusWindow)) return [];
    const env = environment(root, port);
    const other = spawn(focusWindow, [], {env, stdio: ['ignore', 'pipe', 'ignore']});
    await new Promise((resolve) => other.stdout.once('data', resolve));
    const latencies = [];
    for (let i = 0; i < captures; i++) {
        const text = `Bench capture ${i} at ${Date.now()}`;
        spawnSync('xclip', ['-selection', 'clipboard', '-i'],
            {env, input: text, stdio: ['pipe', 'ignore', 'ignore'], timeout: 5000});
        await sleep(700);  // apart from the last presses
        const pressed = Number(spawnSync(doubleCopy, [], {env, encoding: 'utf8'}).stdout);
        await waitFor('the captured quote', () => page.evaluate((t) => {
            const top = document.querySelector('#thequotelist td.text');
            return top && top.textContent === t;
        }, text), 10000);
        await sleep(100);
        const shown = await page.evaluate(() => window.hoardlyRenderer.lastLengthFrameAt);
        latencies.push(shown - pressed);
    }
    other.kill('SIGTERM');
    return latencies;
}

function freshRoot(name) {
    const root = path.join(work, name);
    fs.rmSync(root, {recursive: true, force: true});
    for (const folder of ['home', 'data', 'run']) fs.mkdirSync(path.join(root, folder), {recursive: true});
    fs.chmodSync(path.join(root, 'run'), 0o700);
    return root;
}

// The files of the collection each run of `n` starts from, in a folder.
async function collectionFor(n) {
    if (n === 'default') {
        // A first start makes it from the shared default files; later starts are timed.
        const root = freshRoot('first-start');
        await runOnce(root, 0);
        return path.join(root, 'data', 'Hoardly');
    }
    const folder = path.join(cache, `desktop-${n}`);
    const made = spawnSync(makeCollection, [folder, String(n)], {encoding: 'utf8'});
    if (made.status !== 0) throw new Error(`${makeCollection}: ${made.stderr}`);
    return folder;
}

const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];
const rows = [];
for (const n of sizes) {
    const source = await collectionFor(n);
    const figures = [];
    for (let i = 0; i < runs; i++) {
        const root = freshRoot(`n${n}-${i}`);
        const data = path.join(root, 'data', 'Hoardly');
        fs.mkdirSync(path.join(data, 'logs'), {recursive: true, mode: 0o700});
        fs.chmodSync(data, 0o700);
        for (const file of ['hoardly.fdb', 'defaulttags.xml', 'defaultquotes.xml']) {
            fs.copyFileSync(path.join(source, file), path.join(data, file));
        }
        figures.push(await runOnce(root, n === 'default' ? 0 : n));
        fs.rmSync(root, {recursive: true, force: true});
    }
    const row = {n, count: figures[0].count, first: median(figures.map((f) => f.firstMs)),
        usable: median(figures.map((f) => f.usableMs)), memory: median(figures.map((f) => f.memory)),
        program: median(figures.map((f) => f.programMemory)),
        anon: median(figures.map((f) => f.parts.anon)), mapped: median(figures.map((f) => f.parts.collection)),
        firsts: figures.map((f) => f.firstMs)};
    rows.push(row);
    console.log(`${n}: ${row.count} quotes; first rows shown ${row.first} ms (runs: ${row.firsts.join(', ')}), ` +
        `whole list usable ${row.usable} ms; PSS program + web engine ${row.memory.toFixed(0)} MiB, ` +
        `of which the program's own process ${row.program.toFixed(0)} MiB (anonymous ${row.anon.toFixed(0)}, ` +
        `the collection file mapped by SQLite ${row.mapped.toFixed(0)}; medians of ${runs})`);
    const latencies = figures.flatMap((f) => f.latencies).sort((a, b) => a - b);
    if (latencies.length) {
        console.log(`${n}: capture, second copy key to the frame showing the quote: ` +
            `min ${latencies[0].toFixed(1)} / median ${latencies[latencies.length >> 1].toFixed(1)} / ` +
            `max ${latencies.at(-1).toFixed(1)} ms over ${latencies.length} captures; ` +
            `longest keyboard hold ${Math.max(...figures.map((f) => f.hold))} us`);
    }
}

// The table, each size against the default collection when it was measured.
const base = rows.find((r) => r.n === 'default');
console.log('\n| quotes | first rows shown | whole list usable | PSS (program + web engine) | program process PSS |');
console.log('|---|---|---|---|---|');
for (const r of rows) {
    const vs = (value, of, unit) => `${value.toFixed(0)} ${unit}` + (base && r !== base
        ? (unit === 'ms' ? ` (${(value / of).toFixed(2)}x)` : ` (+${(value - of).toFixed(0)} MiB)`) : '');
    console.log(`| ${r.n === 'default' ? `default (${r.count})` : r.n} | ${vs(r.first, base && base.first, 'ms')} | ` +
        `${vs(r.usable, base && base.usable, 'ms')} | ${vs(r.memory, base && base.memory, 'MiB')} | ` +
        `${vs(r.program, base && base.program, 'MiB')} |`);
}
xvfb.kill('SIGTERM');
fs.rmSync(work, {recursive: true, force: true});
