// Whole-program figures of the desktop, for collections of N quotes: start to a
// filled, shown window; the memory of the program with its web view; and the
// capture latency, from the second Ctrl+C (pressed through XTEST while another
// program has the focus; the program decides on the press and releases the
// keyboard at once) to the frame that shows the new quote,
// with the keyboard hold the program reports for those presses.
// A measurement, not a test: run by hand, never by CTest.
//
// Usage: node bench/desktop_startup.mjs --program build/hoardly [--quotes 10000,100000] [--runs 3]
//        [--captures 5] [--double-copy build/bench/bench_double_copy]
//        [--focus-window build/tests/e2e/e2e_focus_window]
// Needs Xvfb, xclip, sqlite3 and tests/e2e's node_modules (npm ci there).

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

function option(name, fallback) {
    const i = process.argv.indexOf(name);
    return i > 0 ? process.argv[i + 1] : fallback;
}
const program = path.resolve(option('--program', path.join(sourceDir, 'build', 'hoardly')));
const sizes = option('--quotes', '10000,100000').split(',').map(Number);
const runs = Number(option('--runs', '3'));
const captures = Number(option('--captures', '5'));
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

// Resident memory of one process, in MiB.
function ownRss(pid) {
    try {
        const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
        return Number((status.match(/VmRSS:\s+(\d+)/) || [0, 0])[1]) / 1024;
    } catch (e) {
        return NaN;
    }
}

// Resident memory of a process and all its descendants, in MiB.
function treeRss(pid) {
    let total = 0;
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
    const walk = (p) => {
        try {
            const status = fs.readFileSync(`/proc/${p}/status`, 'utf8');
            total += Number((status.match(/VmRSS:\s+(\d+)/) || [0, 0])[1]);
        } catch (e) { /* gone */ }
        for (const c of children.get(p) || []) walk(c);
    };
    walk(pid);
    return total / 1024;
}

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
    return env;
}

async function runOnce(root) {
    const port = await freePort();
    const started = Date.now();
    const child = spawn(program, [], {env: environment(root, port), stdio: 'ignore'});
    const browser = await waitFor('the debugging port', async () => {
        try {
            return await puppeteer.connect({browserURL: `http://127.0.0.1:${port}`, defaultViewport: null});
        } catch (e) {
            return null;
        }
    }, 60000);
    const page = await waitFor('the page', async () =>
        (await browser.pages()).find((p) => p.url() === 'hoardly://app/renderer.html'), 60000);
    // The page notes when the first rows and the list's final length arrived: the
    // debugging connection itself may lag while the program fills the list.
    const listLength = () => page.evaluate(() => (window.hoardlyRenderer || {}).lastLength || 0);
    await waitFor('a filled list', listLength, 120000);
    let count = await listLength();
    for (;;) {
        await sleep(300);
        const now = await listLength();
        if (now === count) break;
        count = now;
    }
    const times = await page.evaluate(() => [window.hoardlyRenderer.firstRowsAt, window.hoardlyRenderer.lastLengthAt]);
    const firstMs = Math.round(times[0] - started);
    const filledMs = Math.round(times[1] - started);
    await sleep(500);
    const rss = treeRss(child.pid);
    const programRss = ownRss(child.pid);
    const latencies = await measureCaptures(page, root, port);
    browser.disconnect();
    child.kill('SIGTERM');
    await new Promise((resolve) => child.on('exit', resolve));
    const log = fs.readFileSync(path.join(root, 'data', 'Hoardly', 'logs', 'application.log'), 'utf8');
    const hold = log.match(/Copy keys: (\d+) presses decided, the longest held (\d+) us/);
    return {firstMs, filledMs, rss, programRss, count, latencies, hold: hold ? Number(hold[2]) : NaN};
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

for (const n of sizes) {
    const root = path.join(work, `n${n}`);
    for (const folder of ['home', 'data', 'run']) fs.mkdirSync(path.join(root, folder), {recursive: true});
    fs.chmodSync(path.join(root, 'run'), 0o700);
    await runOnce(root);  // the first start creates the collection
    const db = path.join(root, 'data', 'Hoardly', 'hoardly.fdb');
    const sql = `INSERT INTO quote(m_id, m_utftext, m_stamp)
        WITH RECURSIVE c(x) AS (SELECT 1000 UNION ALL SELECT x + 1 FROM c WHERE x < ${999 + n})
        SELECT x, 'A captured clip of a sentence or two, long enough to wrap once in the list ' || x,
               1700000000 + x FROM c;`;
    const result = spawnSync('sqlite3', [db, sql], {encoding: 'utf8'});
    if (result.status !== 0) throw new Error(result.stderr);
    const figures = [];
    for (let i = 0; i < runs; i++) figures.push(await runOnce(root));
    figures.sort((a, b) => a.filledMs - b.filledMs);
    const median = figures[Math.floor(figures.length / 2)];
    const firsts = figures.map((f) => f.firstMs).sort((a, b) => a - b);
    console.log(`N=${n}: a list of ${median.count} quotes shown; start to filled window ` +
        `min ${figures[0].filledMs} / median ${median.filledMs} / max ${figures.at(-1).filledMs} ms ` +
        `(first quotes in view: min ${firsts[0]} / median ${firsts[firsts.length >> 1]} / max ${firsts.at(-1)} ms); ` +
        `memory (program + web engine) ${median.rss.toFixed(0)} MiB, of which the program's own process ` +
        `${median.programRss.toFixed(0)} MiB`);
    const latencies = figures.flatMap((f) => f.latencies).sort((a, b) => a - b);
    if (latencies.length) {
        console.log(`N=${n}: capture, second copy key to the frame showing the quote: ` +
            `min ${latencies[0].toFixed(1)} / median ${latencies[latencies.length >> 1].toFixed(1)} / ` +
            `max ${latencies.at(-1).toFixed(1)} ms over ${latencies.length} captures; ` +
            `longest keyboard hold ${Math.max(...figures.map((f) => f.hold))} us`);
    }
}
xvfb.kill('SIGTERM');
fs.rmSync(work, {recursive: true, force: true});
