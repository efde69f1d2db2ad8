// What the end-to-end tests share: a private X server with a tray host, the
// program installed in a folder of its own, one user's session of it with its page
// reached through Chromium's remote-debugging port, and the X input a user gives.

import {spawn, spawnSync} from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

export const here = path.dirname(fileURLToPath(import.meta.url));
export const sourceDir = path.resolve(here, '../..');

export function option(name, fallback) {
    const i = process.argv.indexOf(name);
    return i > 0 ? process.argv[i + 1] : fallback;
}

export function skip(reason) {
    console.log(`SKIP: ${reason}`);
    process.exit(77);
}
export function have(command) {
    return spawnSync('sh', ['-c', `command -v ${command}`]).status === 0;
}
export async function loadPuppeteer() {
    try {
        return (await import('puppeteer-core')).default;
    } catch (e) {
        return skip('puppeteer-core is not installed (run npm ci in tests/e2e)');
    }
}

// ---- Helpers --------------------------------------------------------------

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Every wait is for a state of the desktop or the page; its bound only ends a run
// that went wrong. The bounds written at the waits are what an idle machine needs
// at most; beside other builds and tests everything takes several times longer,
// so no wait gives up before `patience` has passed.
export const patience = 30000;
export async function waitFor(what, check, timeout = patience, every = 50) {
    const end = Date.now() + Math.max(timeout, patience);
    for (;;) {
        const value = await check();
        if (value) return value;
        if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
        await sleep(every);
    }
}

// Until the page has painted `count` more frames: whatever an event before this
// set going in the page (a scroll's checks, a hover) has run.
export function frames(page, count = 2) {
    return page.evaluate((n) => new Promise((resolve) => {
        const next = (left) => (left === 0 ? resolve() : window.requestAnimationFrame(() => next(left - 1)));
        next(n);
    }), count);
}

export function freePort() {
    return new Promise((resolve, reject) => {
        const server = net.createServer();
        server.listen(0, '127.0.0.1', () => {
            const {port} = server.address();
            server.close(() => resolve(port));
        });
        server.on('error', reject);
    });
}

const children = [];
let xvfb = null;
// With `report`, the child gets a pipe as its file descriptor 3 too.
export function start(command, args, env, outputFile, report = false) {
    const out = fs.openSync(outputFile, 'w');
    const child = spawn(command, args, {env, stdio: ['ignore', out, out, ...(report ? ['pipe'] : [])]});
    fs.closeSync(out);
    child.exitCode_ = null;
    child.exited = new Promise((resolve) => child.on('exit', (code, signal) => {
        child.exitCode_ = code === null ? `signal ${signal}` : code;
        resolve(child.exitCode_);
    }));
    children.push(child);
    return child;
}
export async function exitCode(child, timeout) {
    return Promise.race([child.exited, sleep(Math.max(timeout, patience)).then(() => 'still running')]);
}

export function read(file) {
    try {
        return fs.readFileSync(file, 'utf8');
    } catch (e) {
        return '';
    }
}

export function x(args, env) {
    const result = spawnSync(args[0], args.slice(1), {env, encoding: 'utf8'});
    return result.status === 0 ? result.stdout : '';
}

// Presses keys that include the copy key. Two copy presses less than half a second
// apart are a double copy, whichever program has the focus, so each call starts
// only once the last one's presses are more than that apart: a rule of the
// program, not a guess at how long something takes.
let lastCopyKeys = 0;
export async function copyKeys(keys, env) {
    const wait = lastCopyKeys + 600 - Date.now();
    if (wait > 0) await sleep(wait);
    const result = x(['xdotool', 'key', ...keys], env);
    lastCopyKeys = Date.now();
    return result;
}

// The program's visible windows (the tray icon sits inside the tray host's
// window, where a search by name does not look), with name and geometry.
export function windowsOf(windowClass, env) {
    const ids = x(['xdotool', 'search', '--onlyvisible', '--class', `^${windowClass}$`], env)
        .split('\n').filter(Boolean);
    return ids.map((id) => {
        const geometry = x(['xdotool', 'getwindowgeometry', '--shell', id], env);
        const value = (key) => Number((geometry.match(new RegExp(`${key}=(-?\\d+)`)) || [])[1]);
        const name = x(['xdotool', 'getwindowname', id], env).trim();
        return {id, name, x: value('X'), y: value('Y'), width: value('WIDTH'), height: value('HEIGHT')};
    });
}
export const mainWindows = (env) => windowsOf('hoardly', env).filter((w) => w.width > 200);
export const trayIcons = (env) => windowsOf('hoardly', env).filter((w) => w.width <= 64 && w.y >= 0 && w.y < 64);

// ---- Checks -----------------------------------------------------------------

let failed = 0;
export const failures = () => failed;
export async function check(name, body) {
    const started = Date.now();
    try {
        await body();
        console.log(`PASS ${name} (${Date.now() - started} ms)`);
    } catch (e) {
        failed++;
        console.log(`FAIL ${name}: ${e.stack || e}`);
    }
}
export function expect(condition, message) {
    if (!condition) throw new Error(message);
}

// ---- The desktop ------------------------------------------------------------

function cleanUp() {
    for (const child of children.reverse()) {
        // The X server ends on SIGTERM too, and takes its lock and socket files along.
        if (child.exitCode_ === null) child.kill(child === xvfb ? 'SIGTERM' : 'SIGKILL');
    }
}
process.on('exit', cleanUp);
process.on('SIGINT', () => process.exit(1));
process.on('SIGTERM', () => process.exit(1));

// An X server on a display no other run uses, with a tray host. Runs on this
// machine may sit in process namespaces of their own, where the X server takes
// another run's lock file for a stale one: so a display number drawn at random
// from a wide range, and none with a lock or socket file. Xvfb names its display
// once it accepts connections (its socket file appears earlier); one that ends at
// once lost its display to a run that started meanwhile: another number, then. It
// never resets: an X server resets whenever its last client leaves, and the
// checks' own short xdotool calls come and go while the tray host connects; with
// resets the tray host at times found no display.
export async function startDesktop(work) {
    let display = null;
    for (let tries = 0; display === null;) {
        const n = 1000 + Math.floor(Math.random() * 30000);
        if (fs.existsSync(`/tmp/.X11-unix/X${n}`) || fs.existsSync(`/tmp/.X${n}-lock`)) continue;
        if (tries++ === 20) throw new Error(`no X server starts: ${read(path.join(work, 'xvfb.txt'))}`);
        xvfb = start('Xvfb', [`:${n}`, '-displayfd', '3', '-nolisten', 'tcp', '-noreset', '-screen', '0', '1280x800x24'],
            {PATH: process.env.PATH}, path.join(work, 'xvfb.txt'), true);
        let said = '';
        xvfb.stdio[3].on('data', (data) => { said += data; });
        await waitFor('Xvfb', () => /^\d+\n/.test(said) || xvfb.exitCode_ !== null);
        if (xvfb.exitCode_ === null) display = said.trim();
    }
    const baseEnv = {PATH: process.env.PATH, LANG: 'C.UTF-8', DISPLAY: `:${display}`};
    const trayer = start('trayer', ['--edge', 'top', '--align', 'right', '--widthtype', 'pixel', '--width', '100',
        '--height', '24'], baseEnv, path.join(work, 'trayer.txt'));
    await waitFor('the tray host', () => windowsOf('trayer', baseEnv).length > 0 || trayer.exitCode_ !== null);
    if (trayer.exitCode_ !== null) throw new Error(`trayer ended: ${read(path.join(work, 'trayer.txt'))}`);
    return {baseEnv, trayer};
}

// A program folder of its own: the program with res/, the help and the web
// renderer's library beside it, as installed. The document under test is the real one when it is there.
export function installProgram(program, folder, fixture) {
    fs.mkdirSync(folder, {recursive: true});
    fs.copyFileSync(program, path.join(folder, 'hoardly'));
    fs.chmodSync(path.join(folder, 'hoardly'), 0o755);
    // The command starts the desktop program beside it.
    const desktop = path.join(path.dirname(program), 'hoardly-desktop');
    if (fs.existsSync(desktop)) {
        fs.copyFileSync(desktop, path.join(folder, 'hoardly-desktop'));
        fs.chmodSync(path.join(folder, 'hoardly-desktop'), 0o755);
    }
    fs.cpSync(path.join(path.dirname(program), 'res'), path.join(folder, 'res'), {recursive: true});
    for (const file of ['Hoardly Help.html', 'DragMgr.xml', 'libhoardly-web.so']) {
        const source = path.join(path.dirname(program), file);
        if (fs.existsSync(source)) fs.copyFileSync(source, path.join(folder, file));
    }
    const document = path.join(folder, 'res', 'mainform.htm');
    if (fixture || !fs.existsSync(document)) {
        fs.copyFileSync(path.join(here, 'fixture', 'mainform.htm'), document);
        return 'test document';
    }
    return 'real document';
}

// One user: private data, runtime and home folders under `work`/`name`, the
// shared default files from the source tree. `prepare(root)` may change the
// folders before the program first starts.
const sessions = [];
export async function openSession({work, name, program, baseEnv, puppeteer, fixture = false, prepare,
    renderer = 'web'}) {
    // A failed check may have left an earlier session's program running: it would
    // hold the copy keys and the tray, and its window would stand in the way.
    for (const earlier of sessions) {
        if (earlier.process.exitCode_ === null) {
            earlier.process.kill('SIGKILL');
            await earlier.process.exited;
        }
    }
    const root = path.join(work, name);
    for (const folder of ['home', 'data', 'run', 'share']) fs.mkdirSync(path.join(root, folder), {recursive: true});
    fs.chmodSync(path.join(root, 'run'), 0o700);
    fs.cpSync(path.join(sourceDir, 'share', 'Hoardly'), path.join(root, 'share', 'Hoardly'), {recursive: true});
    if (prepare) prepare(root);
    const documentKind = installProgram(program, path.join(root, 'app'), fixture);
    const port = await freePort();
    const env = {
        ...baseEnv,
        HOME: path.join(root, 'home'),
        XDG_DATA_HOME: path.join(root, 'data'),
        XDG_DATA_DIRS: path.join(root, 'share'),
        XDG_RUNTIME_DIR: path.join(root, 'run'),
        QTWEBENGINE_CHROMIUM_FLAGS: `--disable-gpu --remote-debugging-port=${port} --remote-debugging-address=127.0.0.1`,
    };
    if (process.getuid && process.getuid() === 0) env.QTWEBENGINE_DISABLE_SANDBOX = '1';
    const socket = path.join(root, 'run', 'reader.sock');
    env.HOARDLY_RENDERER = renderer;
    if (renderer === 'native') env.HOARDLY_TEST_SOCKET = socket;
    const s = {
        root, env, port, documentKind, renderer,
        log: path.join(root, 'data', 'Hoardly', 'logs', 'application.log'),
        output: path.join(root, 'output.txt'),
        appLog() { return read(this.log); },
        launch(output = this.output) { return start(path.join(root, 'app', 'hoardly'), [], env, output); },
    };
    const launched = Date.now();
    s.process = s.launch();
    sessions.push(s);
    await waitFor('Init complete', () => s.appLog().includes('Init complete\n') || s.process.exitCode_ !== null, 20000);
    expect(s.process.exitCode_ === null, `the program ended: ${read(s.output)}`);
    if (renderer === 'native') {
        s.view = await nativeView(socket);
        s.disconnect = () => s.view.close();
        await waitFor('the first rows', async () => (await s.view.all('#thequotelist tr')).length > 0, 10000);
        s.startupMs = Date.now() - launched;
        return s;
    }
    s.browser = await waitFor('the debugging port', async () => {
        try {
            return await puppeteer.connect({browserURL: `http://127.0.0.1:${port}`, defaultViewport: null});
        } catch (e) {
            return null;
        }
    }, 15000, 200);
    s.page = await waitFor('the renderer page', async () =>
        (await s.browser.pages()).find((p) => p.url() === 'hoardly://app/renderer.html'), 10000);
    await waitFor('the first batch', () => s.page.evaluate(() =>
        window.hoardlyRenderer && window.hoardlyRenderer.batches > 0), 10000);
    s.view = webView(s);
    s.disconnect = () => s.browser.disconnect();
    s.startupMs = Date.now() - launched;
    return s;
}

// ---- What the window shows --------------------------------------------------
//
// The same reads of either renderer's window: the web page through the debugging
// port, the native one through the program's test reading channel, which reads
// the program's own element tree. An element reads as {id, tag, cls, state, row,
// text, attributes, box}: `state` its state names ("focus current checked ..."),
// `row` those of the table row around it (itself included), `box` where it shows
// on screen ({x, y, width, height}) or null.
//   all(selector), first(selector, text?), focused(), popup() (the open pop-up
//   with its item texts, or null), list(selector) ({above, rows, below} of a long
//   list), screenshot(file), close().

function webView(s) {
    const offset = () => {
        const [window] = mainWindows(s.env);
        return window ? {x: window.x, y: window.y} : {x: 0, y: 0};
    };
    const records = async (selector) => {
        const at = offset();
        const found = await s.page.evaluate((sel) => [...document.querySelectorAll(sel)].map((e) => {
            const r = e.getBoundingClientRect();
            const row = e.closest('tr');
            return {id: e.id, tag: e.tagName.toLowerCase(), cls: e.getAttribute('class') || '',
                state: e.getAttribute('data-state') || '', row: (row && row.getAttribute('data-state')) || '',
                text: e.textContent, attributes: Object.fromEntries(e.getAttributeNames().map((n) => [n, e.getAttribute(n)])),
                box: r.width > 0 || r.height > 0 ? {x: r.x, y: r.y, width: r.width, height: r.height} : null};
        }), selector);
        for (const e of found) if (e.box) e.box = {...e.box, x: e.box.x + at.x, y: e.box.y + at.y};
        return found;
    };
    return {
        all: records,
        async first(selector, text) {
            return (await records(selector)).find((e) => !text || e.text.trim() === text) || null;
        },
        async focused() {
            return (await records('[data-state~="focus"]'))[0] || null;
        },
        async popup() {
            const [popup] = await records('[data-popup]');
            if (!popup) return null;
            const items = await records('[data-popup] li');
            return {...popup, items: items.map((i) => i.text.trim())};
        },
        async list(selector) {
            const room = await s.page.evaluate((sel) => window.hoardlyRenderer.windowOf(document.querySelector(sel)), selector);
            return room && {above: room.above, rows: room.rows, below: room.below};
        },
        screenshot: (file) => s.page.screenshot({path: file}),
        close: () => s.browser.disconnect(),
    };
}

export async function nativeView(socketPath) {
    const socket = await waitFor('the reading channel', () => new Promise((resolve) => {
        const c = net.createConnection(socketPath);
        c.once('connect', () => resolve(c));
        c.once('error', () => resolve(null));
    }), 10000, 100);
    let buffer = '';
    const waiting = [];
    socket.setEncoding('utf8');
    socket.on('data', (data) => {
        buffer += data;
        for (let end = buffer.indexOf('\n'); end >= 0; end = buffer.indexOf('\n')) {
            const line = buffer.slice(0, end);
            buffer = buffer.slice(end + 1);
            const next = waiting.shift();
            if (next) next.resolve(JSON.parse(line));
        }
    });
    const failAll = () => { for (const w of waiting.splice(0)) w.reject(new Error('the reading channel closed')); };
    socket.on('close', failAll);
    socket.on('error', failAll);
    const ask = (request) => new Promise((resolve, reject) => {
        if (socket.destroyed) return reject(new Error('the reading channel is closed'));
        waiting.push({resolve, reject});
        socket.write(`${request}\n`);
    }).then((answer) => {
        if (answer && answer.error) throw new Error(`reading channel: ${answer.error}`);
        return answer;
    });
    const shape = (e) => e && {id: e.id, tag: e.tag, cls: e.class, state: e.state, row: e.row, text: e.text,
        attributes: e.attributes, ring: e.ring, box: e.box && {x: e.box[0], y: e.box[1], width: e.box[2], height: e.box[3]}};
    const all = async (selector) => (await ask(`query ${selector}`)).map(shape);
    return {
        all,
        async first(selector, text) {
            return (await all(selector)).find((e) => !text || e.text.trim() === text) || null;
        },
        async focused() {
            return shape(await ask('focus'));
        },
        async popup() {
            const popups = await ask('popups');
            if (popups.length === 0) return null;
            const popup = shape(popups.at(-1));
            const items = await all(`#${popup.id} li`);
            return {...popup, items: items.map((i) => i.text.trim())};
        },
        async list(selector) {
            const room = await ask(`list ${selector}`);
            return {above: room.first_held, rows: room.held, below: room.count - room.first_held - room.held};
        },
        async screenshot(file) {
            expect(await ask(`shot ${file}`) === true, `a picture saved to ${file}`);
        },
        // The pointer's shape over the window, as a CSS cursor name.
        cursor: () => ask('cursor'),
        // The frames painted lately: {layout, quotes, done} (done: ms since the epoch).
        async paints() {
            return (await ask('paints')).map(([layout, quotes, done]) => ({layout, quotes, done}));
        },
        close: () => socket.destroy(),
    };
}

// ---- A user's hands ---------------------------------------------------------

// The centre of the first element matching `selector` (with `text`, if given), in
// screen coordinates.
export async function centreOf(s, selector, text) {
    const e = await s.view.first(selector, text);
    expect(e && e.box, `no ${selector} ${text || ''} in view`);
    const r = e.box;
    return {x: Math.round(r.x + Math.min(40, r.width / 2)), y: Math.round(r.y + Math.min(20, r.height / 2))};
}

export function click(s, point, button = '1', repeat = 1) {
    x(['xdotool', 'mousemove', String(point.x), String(point.y), 'click', '--repeat', String(repeat),
        '--delay', '80', button], s.env);
}
// `before` (if given) runs once the pointer is over `to`, before the release.
export async function dragWithMouse(s, from, to, steps = 6, before = null) {
    x(['xdotool', 'mousemove', String(from.x), String(from.y)], s.env);
    await sleep(100);
    x(['xdotool', 'mousedown', '1'], s.env);
    for (let i = 1; i <= steps; i++) {
        await sleep(60);
        x(['xdotool', 'mousemove', String(Math.round(from.x + ((to.x - from.x) * i) / steps)),
            String(Math.round(from.y + ((to.y - from.y) * i) / steps))], s.env);
    }
    await sleep(150);
    if (before) await before();
    x(['xdotool', 'mouseup', '1'], s.env);
}

// Copies the text with xclip and presses Ctrl+C twice in another program that has
// the focus, as a user would.
export async function capture(s, text, focusWindowProgram) {
    const before = s.appLog().split('Captured text:').length;
    const output = path.join(s.root, `other-${before}.txt`);
    const other = start(focusWindowProgram, [], s.env, output);
    await waitFor('the other program', () => read(output).includes('ready\n'));
    const clip = spawnSync('xclip', ['-selection', 'clipboard', '-i'],
        {env: s.env, input: text, stdio: ['pipe', 'ignore', 'ignore'], timeout: 5000});
    expect(clip.status === 0, 'xclip sets the clipboard');
    await copyKeys(['--delay', '150', 'ctrl+c', 'ctrl+c'], s.env);
    await waitFor('the capture', () => s.appLog().split('Captured text:').length > before, 5000);
    other.kill('SIGTERM');
}
