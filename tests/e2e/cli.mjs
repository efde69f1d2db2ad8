// End-to-end test of the command line against the real program on a private X
// server: every option, sent while the program runs (the quote shows in the page
// and lands in the collection file), a start through --add and --hidden, and the
// wrong uses (contradicting options, too much on standard input, nothing running).
// Prints the round trip of --add and --capture. Exit code 0: passed; 1: failed;
// 77: cannot run here.
//
// Usage: node cli.mjs --program build/hoardly --artifacts <folder>

import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {check, exitCode, expect, failures, have, loadPuppeteer, mainWindows, openSession, option, read,
    skip, sourceDir, start, startDesktop, waitFor} from './desktop.mjs';

const program = path.resolve(option('--program', path.join(sourceDir, 'build/hoardly')));
const artifacts = path.resolve(option('--artifacts', path.join(os.tmpdir(), 'hoardly-cli-artifacts')));
for (const tool of ['Xvfb', 'trayer', 'xdotool', 'xclip']) {
    if (!have(tool)) skip(`${tool} is not installed`);
}
if (!fs.existsSync(program)) skip(`no program at ${program}`);
const puppeteer = await loadPuppeteer();

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'hoardly-cli-'));
fs.mkdirSync(artifacts, {recursive: true});
const {baseEnv} = await startDesktop(work);
const s = await openSession({work, name: 'cli', program, baseEnv, puppeteer});
const installed = path.join(s.root, 'app', 'hoardly');

// Runs the installed program's command line the way a shell or a desktop shortcut does.
function hoardly(args, input) {
    const started = process.hrtime.bigint();
    const result = spawnSync(installed, args, {env: s.env, input: input === undefined ? '' : input,
        encoding: 'utf8', timeout: 90000, maxBuffer: 1 << 20});
    return {code: result.status, out: result.stdout, err: result.stderr,
        ms: Number(process.hrtime.bigint() - started) / 1e6};
}
// The rows' texts as shown, line breaks and runs of spaces as one space.
const shown = (text) => text.replace(/\s+/g, ' ').trim();
const quoteTexts = (page) => page.evaluate(() =>
    [...document.querySelectorAll('#thequotelist .quote td.text')].map((e) => e.innerText.replace(/\s+/g, ' ').trim()));
const topQuote = async (page) => (await quoteTexts(page))[0];
const onTop = async (page, text) => (await topQuote(page)) === shown(text);
const captured = () => s.appLog().split('Captured text:').length - 1;
// The collection file (with its write-ahead log) holds the text's bytes.
function inCollection(root, text) {
    const folder = path.join(root, 'data', 'Hoardly');
    const bytes = Buffer.from(text, 'utf8');
    return fs.readdirSync(folder).filter((f) => f.startsWith('hoardly.fdb'))
        .some((f) => fs.readFileSync(path.join(folder, f)).includes(bytes));
}
const timings = {add: [], capture: [], addShown: [], captureShown: []};

await check('--add stores its text at the top of the list and in the collection file', async () => {
    for (let i = 0; i < 5; i++) {
        const text = `Added from the command line ${i} \u00e9\u{1F600}`;
        const before = captured();
        const started = Date.now();
        const result = hoardly(['--add', text]);
        expect(result.code === 0, `--add: ${JSON.stringify(result)}`);
        await waitFor('the added quote on top', () => onTop(s.page, text), 5000, 1);
        timings.addShown.push(Date.now() - started);
        timings.add.push(result.ms);
        expect(captured() === before + 1, `one capture logged:\n${s.appLog()}`);
        expect(inCollection(s.root, text), 'the text is in the collection file');
    }
});

await check('--add reads standard input; ill-formed bytes become U+FFFD', async () => {
    const result = hoardly(['--add'], Buffer.from([...Buffer.from('from stdin '), 0xff, 0x41, 0x0a, 0x42]));
    expect(result.code === 0, `--add: ${JSON.stringify(result)}`);
    await waitFor('the piped quote on top', () => onTop(s.page, 'from stdin \uFFFDA\nB'), 5000);
});

await check('--capture keeps the clipboard text, logged as a double copy is', async () => {
    for (let i = 0; i < 5; i++) {
        const text = `On the clipboard ${i}\nsecond line`;
        const clip = spawnSync('xclip', ['-selection', 'clipboard', '-i'],
            {env: s.env, input: text, stdio: ['pipe', 'ignore', 'ignore'], timeout: 5000});
        expect(clip.status === 0, 'xclip sets the clipboard');
        const before = captured();
        const started = Date.now();
        const result = hoardly(['--capture']);
        expect(result.code === 0, `--capture: ${JSON.stringify(result)}`);
        await waitFor('the captured quote on top', () => onTop(s.page, text), 5000, 1);
        timings.captureShown.push(Date.now() - started);
        timings.capture.push(result.ms);
        expect(s.appLog().includes(`Captured text: ${text.length} characters\n`) && captured() === before + 1,
            `the capture's line:\n${s.appLog()}`);
    }
    // An empty clipboard is said, and nothing is kept.
    spawnSync('xclip', ['-selection', 'clipboard', '-i'], {env: s.env, input: '', stdio: ['pipe', 'ignore', 'ignore'], timeout: 5000});
    const before = captured();
    const empty = hoardly(['--capture']);
    expect(empty.code === 1 && /holds no text/.test(empty.err), `an empty clipboard: ${JSON.stringify(empty)}`);
    expect(captured() === before, 'nothing captured');
});

await check('--hide, --show and --toggle work the window', async () => {
    const shown = () => mainWindows(s.env).length === 1;
    await waitFor('the window', shown);
    for (const [args, want] of [[['--hide'], false], [['--show'], true], [['--toggle'], false], [['--toggle'], true]]) {
        const result = hoardly(args);
        expect(result.code === 0, `${args}: ${JSON.stringify(result)}`);
        await waitFor(`the window ${want ? 'shown' : 'hidden'} after ${args}`, () => shown() === want, 5000);
    }
});

await check('wrong uses are refused with a message and change nothing', async () => {
    const quotes = await quoteTexts(s.page);
    const before = captured();
    for (const args of [['--show', '--hide'], ['--add', 'x', '--add=y'], ['--bogus'], ['stray']]) {
        const result = hoardly(args);
        expect(result.code === 2 && result.err.includes('hoardly: '), `${args}: ${JSON.stringify(result)}`);
    }
    const huge = hoardly(['--add'], Buffer.alloc(100 * 1000 * 1000, 0x61));
    expect(huge.code === 1 && /nothing was added/.test(huge.err), `100 MB: ${JSON.stringify({...huge, out: ''})}`);
    // A locale that is not UTF-8: the bytes are taken as they come.
    const plain = spawnSync(installed, ['--add', 'plain C locale \u00fc'], {env: {...s.env, LANG: 'C', LC_ALL: 'C'},
        encoding: 'utf8', timeout: 30000});
    expect(plain.status === 0, `in the C locale: ${plain.stderr}`);
    await waitFor('the C locale quote', () => onTop(s.page, 'plain C locale \u00fc'), 5000);
    expect(captured() === before + 1, 'only the good one kept');
    expect((await quoteTexts(s.page))[1] === quotes[0], 'the list otherwise as it was');
});

await check('--quit ends the program as the tray Exit does; then nothing runs', async () => {
    s.browser.disconnect();
    const result = hoardly(['--quit']);
    expect(result.code === 0, `--quit: ${JSON.stringify(result)}`);
    const code = await exitCode(s.process, 15000);
    expect(code === 1, `it ended with ${code}`);
    const log = s.appLog();
    expect(log.includes('The command line asked Hoardly to exit\n') && log.endsWith('Application finished.\n'), log);
    expect(!/^(Error|Unknown error)/m.test(log), `no error:\n${log}`);
    for (const args of [['--quit'], ['--hide']]) {
        const none = hoardly(args);
        expect(none.code === 1 && /not running/.test(none.err), `${args} with none: ${JSON.stringify(none)}`);
    }
    expect(inCollection(s.root, 'Added from the command line 4 \u00e9\u{1F600}'), 'kept in the file after the end');
});

await check('--add with nothing running starts Hoardly in the tray, then adds', async () => {
    const result = hoardly(['--add', 'Started by an add']);
    expect(result.code === 0, `--add: ${JSON.stringify(result)}`);
    const browser = await waitFor('the debugging port', async () => {
        try {
            return await puppeteer.connect({browserURL: `http://127.0.0.1:${s.port}`, defaultViewport: null});
        } catch (e) {
            return null;
        }
    }, 15000, 200);
    const page = await waitFor('the renderer page', async () =>
        (await browser.pages()).find((p) => p.url() === 'hoardly://app/renderer.html'), 10000);
    await waitFor('the quote on top', () => onTop(page, 'Started by an add'), 10000);
    expect(mainWindows(s.env).length === 0, 'the window stays hidden');
    expect(s.appLog().includes('Started to the tray with the window hidden\n'), s.appLog());
    browser.disconnect();
    const quit = hoardly(['--quit']);
    expect(quit.code === 0, `--quit: ${JSON.stringify(quit)}`);
    await waitFor('the end', () => s.appLog().endsWith('Application finished.\n'), 15000);
});

await check('--hidden starts to the tray; a plain start then shows the window; a Wayland session runs on X', async () => {
    // A Wayland session (no compositor here): the window still goes to the X server.
    fs.rmSync(s.log);  // the last run's log stays until this one starts its own
    const hidden = start(installed, ['--hidden'], {...s.env, WAYLAND_DISPLAY: 'wayland-hoardly-test'},
        path.join(s.root, 'hidden.txt'));
    await waitFor('Init complete', () => s.appLog().includes('Init complete\n'), 20000);
    expect(mainWindows(s.env).length === 0, 'no window shown');
    const log = s.appLog();
    expect(log.split('A Wayland session: ').length === 2 && log.includes('only in X programs'), log);
    expect(!log.includes('No X11 display'), `the double copy is watched:\n${log}`);
    const again = hoardly(['--hidden']);
    expect(again.code === 3, `a second --hidden start: ${JSON.stringify(again)}`);
    expect(mainWindows(s.env).length === 0, 'still no window');
    expect(hoardly(['--show']).code === 0, '--show');
    await waitFor('the window', () => mainWindows(s.env).length === 1, 5000);
    expect(hoardly(['--quit']).code === 0, '--quit');
    expect(await exitCode(hidden, 15000) === 1, 'ended by --quit');
});

const median = (list) => list.length ? [...list].sort((a, b) => a - b)[Math.floor(list.length / 2)] : NaN;
const list = (name) => `median ${median(timings[name]).toFixed(1)} ms [${timings[name].map((t) => t.toFixed(1)).join(', ')}]`;
console.log(`Round trip, command started to answered (quote stored): --add ${list('add')}, --capture ${list('capture')}`);
console.log(`Round trip, command started to the quote on top of the page: --add ${list('addShown')}, ` +
    `--capture ${list('captureShown')}`);

if (failures()) {
    fs.cpSync(s.log, path.join(artifacts, 'cli-application.log'));
    fs.cpSync(s.output, path.join(artifacts, 'cli-output.txt'));
    console.log(`${failures()} check(s) failed; logs are in ${artifacts}`);
} else {
    fs.rmSync(work, {recursive: true, force: true});
}
process.exit(failures() ? 1 : 0);
