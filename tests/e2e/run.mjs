// End-to-end tests of the real program on a private X server.
//
// Starts Xvfb, a tray host (trayer) and the built hoardly with temporary XDG
// folders and Chromium's remote-debugging port open on loopback, then checks
// what a user sees and does: the window and its mirrored document, the tray and
// its menu, a second start, the double copy in another program, tagging, searching,
// deleting and renaming with the mouse and keyboard, the end on SIGTERM, and
// that markup meant to attack the page stays inert. Prints the path of a
// screenshot of the window. Exit code 0: passed; 1: failed; 77: cannot run here.
//
// Usage: node run.mjs --program build/hoardly --focus-window build/.../e2e_focus_window
//                     --artifacts <folder>

import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {capture as captureText, centreOf as centreIn, check, click, copyKeys, dragWithMouse, exitCode, expect,
    failures, frames, have, loadPuppeteer, mainWindows, openSession, option, patience, read, skip,
    sourceDir, start, startDesktop, trayIcons, waitFor, windowsOf, x} from './desktop.mjs';

const program = path.resolve(option('--program', path.join(sourceDir, 'build/hoardly')));
const focusWindowProgram = option('--focus-window', '');
const dragSourceProgram = option('--drag-source', '');
const artifacts = path.resolve(option('--artifacts', path.join(os.tmpdir(), 'hoardly-e2e-artifacts')));
// Which renderer shows the window: the web page (read through the debugging port)
// or the program's own painter (read through its test reading channel).
const renderer = option('--renderer', 'web');
const web = renderer === 'web';

for (const tool of ['Xvfb', 'trayer', 'xdotool', 'xclip']) {
    if (!have(tool)) skip(`${tool} is not installed`);
}
if (!fs.existsSync(program)) skip(`no program at ${program}`);
if (!focusWindowProgram || !fs.existsSync(focusWindowProgram)) skip('no focus window helper');
if (!dragSourceProgram || !fs.existsSync(dragSourceProgram)) skip('no drag source helper');
const puppeteer = web ? await loadPuppeteer() : null;

// ---- The desktop ------------------------------------------------------------

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'hoardly-e2e-'));
fs.mkdirSync(artifacts, {recursive: true});

const {baseEnv, trayer} = await startDesktop(work);
// What the program hands the desktop to open (the help, a link) is written down by a
// stand-in for xdg-open, in the HOME of the session that asked, rather than opened.
const standIns = path.join(work, 'bin');
fs.mkdirSync(standIns, {recursive: true});
fs.writeFileSync(path.join(standIns, 'xdg-open'), '#!/bin/sh\nprintf "%s\\n" "$*" >> "$HOME/opened.txt"\n', {mode: 0o755});
baseEnv.PATH = `${standIns}:${baseEnv.PATH || process.env.PATH}`;

// One user: private data, runtime and home folders.
// With `quotes`, the new collection starts with that many generated quotes.
function session(name, fixture, quotes = 0) {
    return openSession({work, name, program, baseEnv, puppeteer, fixture, renderer, prepare: (root) => {
        if (quotes === 0) return;
        let xml = '<?xml version="1.0" encoding="UTF-8"?>\n<quotes>\n';
        for (let i = 1; i <= quotes; i++) {
            const lines = i % 7 === 0 ? '&#10;with a second line&#10;and a third' : '';
            xml += `<quote id="${i}" text="Long list quote ${i}${lines}"><tag id="${1 + (i % 5)}"/></quote>\n`;
        }
        fs.writeFileSync(path.join(root, 'share', 'Hoardly', 'defaultquotes.xml'), xml + '</quotes>\n');
    }});
}

// ---- The checks -------------------------------------------------------------

const main = await session('main', false);
console.log(`Using the ${main.documentKind} and the ${renderer} renderer; started to a filled window in ${main.startupMs} ms`);

// Reads of the main session's window (desktop.mjs: what the window shows).
const topQuote = () => main.view.first('#thequotelist .quote');
const openPopup = (s = main) => s.view.popup();
const popupId = async (s = main) => ((await openPopup(s)) || {}).id;
// The centre of an item of the open pop-up.
async function popupItem(s, text) {
    const popup = await openPopup(s);
    expect(popup, 'a pop-up is open');
    return centreIn(s, `#${popup.id} li`, text);
}
const hasState = (e, name) => Boolean(e) && new RegExp(`\\b${name}\\b`).test(e.state);
const rowHas = (e, name) => Boolean(e) && new RegExp(`\\b${name}\\b`).test(e.row);
// The id of the focused element, or null.
const focusedId = async (s = main) => ((await s.view.focused()) || {id: null}).id;
// The text of the current row of the tag list.
const currentTag = async () => (((await main.view.all('#taglist tr')).find((r) => hasState(r, 'current'))) || {text: ''}).text.trim();

await check('the window titled "Hoardly" shows the mirrored document', async () => {
    const windows = await waitFor('a visible main window', () => mainWindows(main.env).length > 0 && mainWindows(main.env));
    expect(windows.length === 1 && windows[0].name === 'Hoardly', `one main window titled Hoardly: ${JSON.stringify(windows)}`);
    const ids = [];
    for (const id of ['taglist', 'thequotelist', 'p-searchbar', 'manage-tags']) {
        if (await main.view.first(`#${id}`)) ids.push(id);
    }
    expect(ids.length === 4, `the lists the view fills: ${JSON.stringify(ids)}`);
    expect((await main.view.all('body script, body iframe, body object, body embed')).length === 0, 'no script-like element in the window');
    if (web) {
        const facts = await main.page.evaluate(() => ({
            elements: document.body.querySelectorAll('*').length,
            mirrored: window.hoardlyRenderer.nodeCount(),
        }));
        expect(facts.elements > 0 && facts.mirrored > facts.elements / 2, `mirrored: ${JSON.stringify(facts)}`);
    } else {
        const shown = (await main.view.all('#taglist .vtag, #thequotelist td.text')).filter((e) => e.box);
        expect(shown.length > 2, `tags and quotes laid out on screen: ${shown.length}`);
    }
    const log = main.appLog();
    expect(log.includes('Loading html - successful\n'), log);
});

await check('a screenshot of the window is saved', async () => {
    const file = path.join(artifacts, `hoardly-window-${renderer}.png`);
    await main.view.screenshot(file);
    expect(fs.statSync(file).size > 1000, 'a real picture');
    console.log(`Screenshot: ${file}`);
});

await check('a first start shows the Welcome tip on top of the list', async () => {
    const top = await waitFor('the first row', async () => {
        const first = await main.view.first('#thequotelist .quote td.text');
        return first && first.text;
    }, 5000);
    expect(top.startsWith('Welcome to Hoardly!'), `the first row: ${JSON.stringify(top)}`);
});

await check('a double Ctrl+C in another program captures the clipboard text', async () => {
    const other = start(focusWindowProgram, [], main.env, path.join(main.root, 'other.txt'));
    const otherOutput = () => read(path.join(main.root, 'other.txt'));
    await waitFor('the other program', () => otherOutput().includes('ready\n'));
    // Outside the BMP on purpose: the length is counted in UTF-16 units.
    const text = 'Hoardly end-to-end \u{1F600} quote\nsecond line';
    // xclip stays behind as the clipboard's owner: its output must not be waited for.
    const clip = spawnSync('xclip', ['-selection', 'clipboard', '-i'],
        {env: main.env, input: text, stdio: ['pipe', 'ignore', 'ignore'], timeout: 5000});
    expect(clip.status === 0, 'xclip sets the clipboard');
    await copyKeys(['--delay', '150', 'ctrl+c', 'ctrl+c'], main.env);
    await waitFor('the captured text in the log', () =>
        main.appLog().includes(`Captured text: ${text.length} characters\n`), 5000);
    // The first press reached the program that had the focus; the second did not.
    // A plain key after them shows when the other program has had all it will get.
    const copiesIn = (output) => output.split('\n').filter((line) => line === 'key ctrl+c').length;
    x(['xdotool', 'key', 'a'], main.env);
    await waitFor('the other program\'s first marker key', () => otherOutput().includes('key a\n'));
    const copies = copiesIn(otherOutput());
    expect(copies === 1, `the other program got ${copies} Ctrl+C presses:\n${otherOutput()}`);
    // A single copy later on (well apart from the others) is the other program's alone.
    await copyKeys(['ctrl+c', 'b'], main.env);
    await waitFor('the other program\'s second marker key', () => otherOutput().includes('key b\n'));
    const later = copiesIn(otherOutput());
    expect(later === 2, `a single Ctrl+C passes through: ${later}`);
    expect(main.appLog().split('Captured text:').length === 2, 'one capture only');
    other.kill('SIGTERM');
    await waitFor('the new quote on top of the list', async () =>
        ((await topQuote()) || {text: ''}).text.includes(text.split('\n')[0]), 5000);
    // The capture merged nothing into the text index; a quiet moment later, the program does.
    const logic = path.join(main.root, 'data', 'Hoardly', 'logs', 'logicevents.log');
    await waitFor('the text index tidied once the program is left alone', () =>
        read(logic).includes('tidied the text index\n'), 20000);
});

// The centre of the first element matching `selector` (with `text`, if given), in
// screen coordinates of the main session's window.
const centreOf = (view, selector, text) => centreIn({view, env: main.env}, selector, text);

await check('a selected quote copied with Ctrl+C or "Copy with tags" comes back exactly from the clipboard', async () => {
    const text = 'Hoardly end-to-end \u{1F600} quote\nsecond line';
    const clipboard = () => spawnSync('xclip', ['-selection', 'clipboard', '-o'],
        {env: main.env, encoding: 'utf8', timeout: 3000}).stdout;
    // Every byte of the clipboard, the line ends after the text included.
    const expectClipboard = async (what, expected) => {
        await waitFor(what, () => clipboard() === expected, 5000).catch((e) => {
            throw new Error(`${e.message}: expected ${JSON.stringify(expected)}, got ${JSON.stringify(clipboard())}`);
        });
    };
    const top = await centreOf(main.view, '#thequotelist .quote');
    x(['xdotool', 'mousemove', String(top.x), String(top.y), 'click', '1'], main.env);
    await waitFor('the top quote selected', async () => rowHas(await topQuote(), 'checked'));
    // The list's copy: each selected quote followed by a blank line.
    await copyKeys(['ctrl+c'], main.env);
    await expectClipboard('the list copy on the clipboard', `${text}\r\n\r\n`);

    // The quote's menu: its text, a blank line, then its tags (it has none yet, so
    // the same text: the clipboard is emptied first to see the menu's own copy).
    spawnSync('xclip', ['-selection', 'clipboard', '-i'],
        {env: main.env, input: 'stale', stdio: ['pipe', 'ignore', 'ignore'], timeout: 5000});
    await expectClipboard('the clipboard emptied', 'stale');
    x(['xdotool', 'mousemove', String(top.x), String(top.y), 'click', '3'], main.env);
    await waitFor('the quote menu', async () => (await popupId()) === 'quote-menu', 5000);
    const item = await popupItem(main, 'Copy with tags');
    x(['xdotool', 'mousemove', String(item.x), String(item.y), 'click', '1'], main.env);
    await expectClipboard('the copy with tags on the clipboard', `${text}\r\n\r\n`);
    await waitFor('the menu closed', async () => !(await openPopup()), 5000);
});

await check('the manage-tags menu opens under its button and ticking a tag puts it on the quote', async () => {
    const button = await centreOf(main.view, '#thequotelist .quote button.managetags');
    x(['xdotool', 'mousemove', String(button.x), String(button.y), 'click', '1'], main.env);
    const menu = await waitFor('the open menu', openPopup, 5000);
    expect(menu.id === 'manage-tags' && menu.items.length > 0, JSON.stringify(menu));
    expect(menu.box && menu.box.y >= button.y, `the menu under its button: ${JSON.stringify(menu.box)}`);
    const name = menu.items[0];
    const item = await popupItem(main, name);
    x(['xdotool', 'mousemove', String(item.x), String(item.y), 'click', '1'], main.env);
    await waitFor('the tag on the quote', async () =>
        (await main.view.all(`#${(await topQuote()).id} .qtag`)).some((t) => t.text.trim() === name), 5000);
    x(['xdotool', 'key', 'Escape'], main.env);
    await waitFor('the menu closed', async () => !(await openPopup()), 5000);
});

await check('text dropped from another program becomes a quote; files are refused', async () => {
    // A drag from another program along a path onto the window. The release waits
    // until the window has answered the drag: `answered` tells when it has. The
    // other program stays until the check is over, to be asked for its data.
    const sources = [];
    const drag = async (args, output, answered) => {
        const source = start(dragSourceProgram, args, main.env, output);
        sources.push(source);
        const said = (line) => read(output).split('\n').includes(line);
        await waitFor('the drag source on screen', () => said('ready'));
        x(['xdotool', 'mousemove', '1100', '350', 'mousedown', '1'], main.env);
        await waitFor('the drag started', () => said('drag'));
        for (const [px, py] of [[1080, 345], [1000, 330], [800, 300], [500, 300], [480, 310]]) {
            x(['xdotool', 'mousemove', String(px), String(py)], main.env);
        }
        await waitFor('the window\'s answer to the drag', answered);
        x(['xdotool', 'mouseup', '1'], main.env);
        return waitFor('the drag result', () => (read(output).match(/result (\w+)/) || [])[1]);
    };
    try {
        const text = 'Dropped \u{1F4CE} clip';
        const before = main.appLog().split('Captured text:').length;
        const dragOutput = path.join(main.root, 'drag.txt');
        const taken = await drag([text], dragOutput, () => read(dragOutput).includes('action copy\n'));
        expect(taken === 'copy', `the drop was taken: ${taken}`);
        await waitFor('the dropped text in the log', () =>
            main.appLog().includes(`Captured text: ${text.length} characters\n`)).catch((e) => {
            throw new Error(`${e.message}; the source said: ${read(dragOutput)}`);
        });
        // The window read the text as the drag entered, and asks nothing at the drop:
        // the other program may be gone or busy by then.
        const afterDrag = read(dragOutput).split('result copy\n')[1];
        expect(!afterDrag.includes('asked'), `the drop asked the other program again:\n${read(dragOutput)}`);
        await waitFor('the dropped quote on top', async () => ((await topQuote()) || {text: ''}).text.includes(text));
        const refusals = () => main.appLog().split('A drag without text is refused\n').length;
        const refusedBefore = refusals();
        const refused = await drag(['--files'], path.join(main.root, 'drag-files.txt'), () => refusals() > refusedBefore);
        expect(refused === 'ignore', `a file drop is refused: ${refused}`);
        expect(main.appLog().split('Captured text:').length === before + 1, 'nothing stored for the file');
    } finally {
        for (const source of sources) source.kill('SIGTERM');
    }
});

await check('Export asks for a file with the save dialog and writes the shown quotes there', async () => {
    const button = await centreOf(main.view, 'button', 'Export...');
    x(['xdotool', 'mousemove', String(button.x), String(button.y), 'click', '1'], main.env);
    const dialog = await waitFor('the save dialog', () => windowsOf('hoardly', main.env)
        .find((w) => w.name === 'Export to file'), 5000);
    // Typed without a suffix: the name is used exactly as typed.
    const file = path.join(main.root, 'exported quotes');
    // The name field has the focus and holds "collection.html": replace it.
    x(['xdotool', 'key', '--window', dialog.id, 'ctrl+a'], main.env);
    x(['xdotool', 'type', '--delay', '5', file], main.env);
    x(['xdotool', 'key', 'Return'], main.env);
    await waitFor('the exported file', () => fs.existsSync(file) && read(file).includes('</html>'), 5000);
    expect(read(file).includes('Hoardly end-to-end \u{1F600} quote'), 'the captured quote is in the export');
    expect(!fs.existsSync(`${file}.html`), 'no suffix added');
    expect(mainWindows(main.env).length === 1 && !windowsOf('hoardly', main.env).some((w) => w.name === 'Export to file'),
        'the dialog is gone, the window stays');
});

const capture = (s, text) => captureText(s, text, focusWindowProgram);

await check('captured markup, script and handlers show as plain text and run nothing', async () => {
    const corpus = [
        '<script>window.__pwned = 1</script>',
        '<img src=x onerror="window.__pwned = 2">',
        '<a href="javascript:window.__pwned = 3">click</a>',
        '<svg onload="window.__pwned = 4"><iframe src="javascript:parent.__pwned = 5"></iframe></svg>',
        '" onmouseover="window.__pwned = 6" x="',
    ].join(' ');
    const requests = [];
    if (web) main.page.on('request', (request) => requests.push(request.url()));
    await capture(main, corpus);
    // Shown as typed: the whole text in the quote's cell.
    await waitFor('the quote shown', async () => {
        const cell = await main.view.first(`#${(await topQuote()).id} td.text`);
        return cell && cell.text === corpus && cell.box;
    }, 5000);
    // Move the pointer over it, too: handlers would fire on that.
    const over = await centreOf(main.view, '#thequotelist .quote');
    x(['xdotool', 'mousemove', String(over.x), String(over.y)], main.env);
    if (web) {
        await waitFor('the pointer over the quote', () => main.page.evaluate(() =>
            document.querySelector('#thequotelist .quote').matches(':hover')));
        await frames(main.page);
        const pwned = await main.page.evaluate(() => window.__pwned);
        expect(pwned === undefined, `a script ran: ${pwned}`);
    } else {
        await waitFor('the pointer over the quote', async () =>
            (await main.view.all('#thequotelist .quote')).some((q) => hasState(q, 'hover')));
    }
    const bad = await main.view.all('#thequotelist script, #thequotelist img, #thequotelist iframe, #thequotelist svg');
    const handlers = (await main.view.all('#thequotelist *')).flatMap((e) => Object.keys(e.attributes))
        .filter((name) => name.startsWith('on'));
    expect(bad.length === 0 && handlers.length === 0, `live markup: ${JSON.stringify({bad, handlers})}`);
    expect(requests.length === 0, `requests: ${requests}`);
});

// Every quote block of the list with the tags it shows, in list order; `visible`
// tells whether its text lies wholly inside the quote pane, where a click reaches it.
// The list is short: the page holds it whole.
async function quoteBlocks(view) {
    const room = await view.list('#thequotelist');
    expect(room && room.above === 0 && room.below === 0, `the whole list held: ${JSON.stringify(room)}`);
    const pane = (await view.first('#quotepane')).box;
    const blocks = [];
    for (const q of await view.all('#thequotelist .quote')) {
        const cell = await view.first(`#${q.id} td.text`);
        const r = cell.box;
        blocks.push({id: q.id, tags: (await view.all(`#${q.id} .qtag`)).map((t) => t.text.trim()),
            visible: Boolean(r) && r.y >= pane.y && r.y + r.height <= pane.y + pane.height, text: cell.text});
    }
    return blocks;
}
const tagsOf = (blocks) => JSON.stringify(blocks.map(({id, tags}) => ({id, tags})));
const tagNames = async (view) => (await view.all('#taglist .vtag')).map((t) => t.text.trim());
// Waits for the tag list to read `tags` with `from` renamed to `to`, in place.
async function tagListRenamed(view, tags, from, to) {
    const renamed = tags.map((t) => (t === from ? to : t));
    await waitFor(`${to} in the tag list`, async () =>
        JSON.stringify(await tagNames(view)) === JSON.stringify(renamed), 5000).catch(async (e) => {
        throw new Error(`${e.message}: ${await tagNames(view)}`);
    });
}
const searchTags = async (view) => (await view.all('#p-searchbar .stag')).map((t) => t.text.trim());
// Waits until the list shows exactly `expected` (blocks with their tags).
async function listShows(view, what, expected) {
    let shown = [];
    await waitFor(what, async () => {
        shown = await quoteBlocks(view);
        return tagsOf(shown) === tagsOf(expected);
    }, 5000).catch((e) => {
        throw new Error(`${e.message}: expected ${tagsOf(expected)}, shown ${tagsOf(shown)}`);
    });
}
// A search by one tag, by double-clicking it in the tag list, then Clear.
async function searchByTag(s, name, expected) {
    click(s, await centreOf(s.view, '#taglist .vtag', name), '1', 2);
    await listShows(s.view, `the quotes tagged ${name}`, expected);
    expect(JSON.stringify(await searchTags(s.view)) === JSON.stringify([name]), `the search bar: ${await searchTags(s.view)}`);
    click(s, await centreOf(s.view, '#clear-search'));
    await waitFor('the search bar emptied', async () => (await searchTags(s.view)).length === 0, 5000);
}

await check('a tag dragged from the tag list onto a quote shows on it and a search by the tag finds it', async () => {
    const before = await quoteBlocks(main.view);
    const name = 'Capture';
    const target = before.find((b) => b.visible && !b.tags.includes(name));
    expect(target, `a quote in view without ${name}: ${tagsOf(before)}`);
    // The pointer shows a tag being carried (the native window's own cursor; the
    // web page's is Chromium's to show).
    const carried = web ? null : async () =>
        waitFor('the copy cursor while the tag is carried', async () => (await main.view.cursor()) === 'copy', 5000);
    await dragWithMouse(main, await centreOf(main.view, '#taglist .vtag', name),
        await centreOf(main.view, `#${target.id} td.text`), 6, carried);
    if (!web) await waitFor('the cursor back', async () => (await main.view.cursor()) !== 'copy', 5000);
    const expected = before.map((b) => (b.id === target.id ? {...b, tags: [...b.tags, name]} : b));
    await listShows(main.view, `${name} on the quote`, expected);
    // The search reads the collection: the new mark is stored.
    await searchByTag(main, name, expected.filter((b) => b.tags.includes(name)));
    await listShows(main.view, 'the whole list again', expected);
});

await check('two tags in the search bar show the quotes with all of them or with any of them; Clear shows all again', async () => {
    const before = await quoteBlocks(main.view);
    const [a, b] = ['Getting started', 'Capture'];
    const all = before.filter((q) => q.tags.includes(a) && q.tags.includes(b));
    const any = before.filter((q) => q.tags.includes(a) || q.tags.includes(b));
    expect(all.length > 0 && all.length < any.length && any.length < before.length,
        `the tags make a search worth doing: ${tagsOf(before)}`);
    const bar = await centreOf(main.view, '#p-searchbar');
    for (const name of [a, b]) {
        await dragWithMouse(main, await centreOf(main.view, '#taglist .vtag', name), bar);
        await waitFor(`${name} in the search bar`, async () => (await searchTags(main.view)).includes(name), 5000);
    }
    expect(JSON.stringify(await searchTags(main.view)) === JSON.stringify([a, b]), `the search bar: ${await searchTags(main.view)}`);
    click(main, await centreOf(main.view, '#mode-and'));
    await listShows(main.view, 'the quotes with both tags', all);
    click(main, await centreOf(main.view, '#mode-or'));
    await listShows(main.view, 'the quotes with either tag', any);
    click(main, await centreOf(main.view, '#mode-and'));
    await listShows(main.view, 'the quotes with both tags again', all);
    click(main, await centreOf(main.view, '#clear-search'));
    await listShows(main.view, 'every quote', before);
    expect((await searchTags(main.view)).length === 0, 'the search bar is empty');
});

await check('text typed into the search field narrows the list as it is typed, and with a tag; Escape empties it; Ctrl+F reaches it', async () => {
    const before = await quoteBlocks(main.view);
    const holding = (term) => before.filter((q) => q.text.toLowerCase().includes(term.toLowerCase()));
    // A word some quotes hold and others do not, typed in capitals: case does not count.
    const term = before.flatMap((q) => q.text.split(/[^A-Za-z]+/)).filter((w) => w.length >= 5)
        .find((w) => holding(w).length > 0 && holding(w).length < before.length);
    expect(term, `a word worth searching for in ${before.length} quotes`);
    click(main, await centreOf(main.view, `#${before.find((b) => b.visible).id} td.text`));
    x(['xdotool', 'key', 'ctrl+f'], main.env);
    await waitFor('Ctrl+F to the search field', async () => (await focusedId()) === 'find-text', 5000);
    x(['xdotool', 'type', '--delay', '20', term.toUpperCase()], main.env);
    await listShows(main.view, `the quotes holding "${term}"`, holding(term));
    const marks = (await main.view.all('#thequotelist mark')).map((m) => m.text);
    expect(marks.length > 0 && marks.every((m) => m.toLowerCase() === term.toLowerCase()), `marked: ${JSON.stringify(marks)}`);
    // A tag in the search bar narrows it further: the text and the tag both hold.
    const tag = 'Getting started';
    click(main, await centreOf(main.view, '#taglist .vtag', tag), '1', 2);
    await listShows(main.view, `the quotes holding "${term}" tagged ${tag}`, holding(term).filter((q) => q.tags.includes(tag)));
    click(main, await centreOf(main.view, '#clear-search'));
    await listShows(main.view, `the quotes holding "${term}" again`, holding(term));
    // Escape in the field empties it first and leaves the window shown.
    click(main, await centreOf(main.view, '#find-text'));
    await waitFor('the search field focused', async () => (await focusedId()) === 'find-text', 5000);
    x(['xdotool', 'key', 'Escape'], main.env);
    await listShows(main.view, 'every quote again', before);
    expect((await main.view.first('#find-text')).text === '', 'the field is empty');
    expect(mainWindows(main.env).length === 1, 'Escape in a field with text leaves the window shown');
});

await check('the Delete key removes the clicked quote from the list and from the collection', async () => {
    const before = await quoteBlocks(main.view);
    const victim = before.find((b) => b.visible && b.tags.length > 0);
    expect(victim, `a tagged quote in view: ${tagsOf(before)}`);
    click(main, await centreOf(main.view, `#${victim.id} td.text`));
    await waitFor('the quote selected', async () => rowHas(await main.view.first(`#${victim.id}`), 'checked'), 5000);
    x(['xdotool', 'key', 'Delete'], main.env);
    const rest = before.filter((b) => b.id !== victim.id);
    await listShows(main.view, 'the quote gone', rest);
    // A search and a Clear read the list from the collection again.
    await searchByTag(main, victim.tags[0], rest.filter((b) => b.tags.includes(victim.tags[0])));
    await listShows(main.view, 'every quote but the deleted one', rest);
});

await check('F1 in the window hands the help file to the desktop', async () => {
    const opened = path.join(main.env.HOME, 'opened.txt');
    click(main, await centreOf(main.view, '#taglist .vtag'));
    x(['xdotool', 'key', 'F1'], main.env);
    await waitFor('the help opened by F1', () => /Hoardly(%20| )Help\.html\n/.test(read(opened)), 10000);
    const helpFile = read(opened).trim().replace(/^file:\/\//, '').replace(/%20/g, ' ');
    expect(fs.existsSync(helpFile), `the help file exists: ${helpFile}`);
});

await check('a tag renamed in place from its menu or with F2 shows the new name in the tag list and on its quotes', async () => {
    // Once the edit has started: the editor holds the old name, taken back key by key.
    const rename = async (from, to) => {
        const editing = await waitFor('the tag in edit', async () =>
            !(await openPopup()) && (await main.view.first('#taglist[editable]')) &&
            ((await main.view.all('#taglist *')).find((e) => hasState(e, 'focus')) || {}).text, 5000);
        expect(editing === from, `the editor starts with the old name: ${JSON.stringify(editing)}`);
        const tags = await tagNames(main.view);
        const before = await quoteBlocks(main.view);
        expect(before.some((b) => b.tags.includes(from)), `a quote carries ${from}`);
        x(['xdotool', 'key', '--delay', '20', ...Array(from.length).fill('BackSpace')], main.env);
        x(['xdotool', 'type', '--delay', '20', to], main.env);
        x(['xdotool', 'key', 'Return'], main.env);
        await tagListRenamed(main.view, tags, from, to);
        const expected = before.map((b) => ({...b, tags: b.tags.map((t) => (t === from ? to : t))}));
        await listShows(main.view, `${to} on the quotes`, expected);
        // The collection has the new name: a search by it finds the same quotes.
        await searchByTag(main, to, expected.filter((b) => b.tags.includes(to)));
    };
    click(main, await centreOf(main.view, '#taglist .vtag', 'Tags'), '3');
    await waitFor('the tag menu', async () => (await popupId()) === 'tag-menu', 5000);
    click(main, await popupItem(main, 'Rename'));
    await rename('Tags', 'Labels');
    // From the keyboard: the selected tag, F2. The key starts the edit and types nothing.
    click(main, await centreOf(main.view, '#taglist .vtag', 'Search'));
    await waitFor('the tag selected', async () => (await currentTag()) === 'Search', 5000);
    x(['xdotool', 'key', 'F2'], main.env);
    await rename('Search', 'Finding');
});

// The tag being renamed in the page: its name and whether it shows selected.
const tagInEdit = async (view) => {
    const e = await view.first('#taglist[editable] .vtag[editing]');
    return e && !(await view.popup()) && {name: e.text, selected: 'all-selected' in e.attributes};
};

await check('Rename from a tag menu, by mouse or by the menu key, replaces the selected old name as F2 does', async () => {
    const renameTo = async (from, to) => {
        const editing = await waitFor('the tag in edit', () => tagInEdit(main.view), 5000);
        expect(editing.name === from && editing.selected, `the old name shows selected: ${JSON.stringify(editing)}`);
        const tags = await tagNames(main.view);
        x(['xdotool', 'type', '--delay', '20', to], main.env);
        x(['xdotool', 'key', 'Return'], main.env);
        await tagListRenamed(main.view, tags, from, to);
    };
    click(main, await centreOf(main.view, '#taglist .vtag', 'Capture'), '3');
    await waitFor('the tag menu', async () => (await popupId()) === 'tag-menu', 5000);
    click(main, await popupItem(main, 'Rename'));
    await renameTo('Capture', 'Grabbing');
    // The keyboard: the tag is current; the menu key, Down to Rename, Enter.
    await waitFor('the renamed tag current', async () => (await currentTag()) === 'Grabbing', 5000);
    x(['xdotool', 'key', 'Menu'], main.env);
    await waitFor('the tag menu from the keyboard', async () => (await popupId()) === 'tag-menu', 5000);
    x(['xdotool', 'key', '--delay', '80', 'Down', 'Return'], main.env);
    await renameTo('Grabbing', 'Capture');
});

await check('a tag name another tag has is refused in words beside it, which go on Escape', async () => {
    click(main, await centreOf(main.view, '#taglist .vtag', 'Capture'));
    await waitFor('the tag current', async () => (await currentTag()) === 'Capture', 5000);
    x(['xdotool', 'key', 'F2'], main.env);
    await waitFor('the tag in edit', () => tagInEdit(main.view), 5000);
    x(['xdotool', 'type', '--delay', '20', 'Getting started'], main.env);
    x(['xdotool', 'key', 'Return'], main.env);
    const words = await waitFor('the refusal beside the name', async () => {
        const shown = await main.view.first('#taglist .refusal');
        return shown && shown.box && shown.box.height > 0 && shown.text;
    }, 5000);
    expect(words === 'A tag named "Getting started" already exists', JSON.stringify(words));
    x(['xdotool', 'key', 'Escape'], main.env);
    await waitFor('the refusal gone, the name kept', async () => !(await main.view.first('#taglist .refusal')) &&
        (await tagNames(main.view)).includes('Capture'), 5000);
    expect(mainWindows(main.env).length === 1, 'Escape in the editor leaves the window shown');
});

await check('Tab and Shift+Tab visit the search tools, the tag list and the quote list in turn, with a ring', async () => {
    const order = ['find-text', 'mode-and', 'mode-or', 'clear-search', 'export', 'add-tag', 'taglist', 'thequotelist'];
    // The native renderer says whether it draws a ring around the element.
    const focused = async () => {
        const e = await main.view.focused();
        if (!e) return null;
        const ring = !web ? e.ring : await main.page.evaluate((id) => {
            const style = getComputedStyle(document.getElementById(id));
            return (style.outlineStyle !== 'none' && parseFloat(style.outlineWidth) > 0) ||
                Boolean(style.boxShadow && style.boxShadow !== 'none');
        }, e.id);
        return {id: e.id, ring, shown: Boolean(e.box && e.box.width > 0 && e.box.height > 0)};
    };
    const blocks = await quoteBlocks(main.view);
    click(main, await centreOf(main.view, `#${blocks.find((b) => b.visible).id} td.text`));
    await waitFor('the quote list focused', async () => ((await focused()) || {}).id === 'thequotelist', 5000);
    const walk = async (key, expected) => {
        for (const id of expected) {
            x(['xdotool', 'key', key], main.env);
            const now = await waitFor(`${key} to ${id}`, async () => {
                const f = await focused();
                return f && f.id === id && f;
            }, 5000).catch(async (e) => {
                throw new Error(`${e.message}: ${JSON.stringify(await focused())}`);
            });
            expect(now.ring && now.shown, `a visible focus ring on ${id}: ${JSON.stringify(now)}`);
        }
    };
    await walk('Tab', order);  // round the end, back to the quote list
    await walk('shift+Tab', [...order].reverse().slice(1).concat(['thequotelist']));
});

await check('a quote menu opened on a selection of four copies all four with their tags, in list order', async () => {
    const blocks = await quoteBlocks(main.view);
    const four = blocks.slice(0, 4);
    expect(four.length === 4 && four.every((b) => b.visible), `four quotes in view: ${tagsOf(blocks)}`);
    click(main, await centreOf(main.view, `#${four[0].id} td.text`));
    x(['xdotool', 'keydown', 'shift'], main.env);
    click(main, await centreOf(main.view, `#${four[3].id} td.text`));
    x(['xdotool', 'keyup', 'shift'], main.env);
    const selected = async () => (await main.view.all('#thequotelist .quote')).filter((q) => rowHas(q, 'checked')).map((q) => q.id);
    await waitFor('four quotes selected', async () => JSON.stringify(await selected()) === JSON.stringify(four.map((b) => b.id)), 5000);
    spawnSync('xclip', ['-selection', 'clipboard', '-i'], {env: main.env, input: 'before', stdio: ['pipe', 'ignore', 'ignore'], timeout: 5000});
    click(main, await centreOf(main.view, `#${four[2].id} td.text`), '3');
    await waitFor('the quote menu', async () => (await popupId()) === 'quote-menu', 5000);
    click(main, await popupItem(main, 'Copy with tags'));
    // The texts as shown (a line break shows as one) and the tags, in list order.
    let expected = '';
    for (const {id} of four) {
        const tags = (await main.view.all(`#${id} .qtag`)).map((t) => t.text);
        const shown = web ? await main.page.evaluate((i) => document.querySelector(`#${i} td.text`).innerText, id)
            : (await main.view.first(`#${id} td.text`)).text;
        expected += shown + '\r\n' + (tags.length ? 'Tags: ' + tags.join(', ') : '') + '\r\n\r\n';
    }
    const clipboard = () => spawnSync('xclip', ['-selection', 'clipboard', '-o'], {env: main.env, encoding: 'utf8', timeout: 3000}).stdout;
    await waitFor('the four quotes on the clipboard', () => clipboard() !== 'before', 5000);
    expect(clipboard() === expected, `clipboard ${JSON.stringify(clipboard())}, expected ${JSON.stringify(expected)}`);
    expect(JSON.stringify(await selected()) === JSON.stringify(four.map((b) => b.id)), 'all four stay selected');
});

await check('an export that cannot be written says so in a message box naming the file, and writes nothing', async () => {
    // A folder the user may not write to; root may write to any folder, so for root
    // the "folder" is a file.
    const locked = path.join(main.root, 'locked');
    const file = path.join(locked, 'hoardly-export.html');
    let written = () => fs.readdirSync(locked).length > 0;
    if (process.getuid && process.getuid() === 0) {
        fs.writeFileSync(locked, 'a file, not a folder');
        written = () => read(locked) !== 'a file, not a folder';
    } else {
        fs.mkdirSync(locked);
        fs.chmodSync(locked, 0o555);
    }
    click(main, await centreOf(main.view, 'button', 'Export...'));
    const dialog = await waitFor('the save dialog', () => windowsOf('hoardly', main.env)
        .find((w) => w.name === 'Export to file'), 5000);
    await waitFor('the keyboard on the dialog', () => x(['xdotool', 'getwindowfocus'], main.env).trim() === dialog.id, 5000);
    x(['xdotool', 'key', 'ctrl+a'], main.env);
    x(['xdotool', 'type', '--delay', '5', file], main.env);
    x(['xdotool', 'key', 'Return'], main.env);
    const box = await waitFor('the message box', () => windowsOf('hoardly', main.env)
        .find((w) => w.name === 'Export failed'), 5000).catch((e) => {
        throw new Error(`${e.message}: ${JSON.stringify(windowsOf('hoardly', main.env))}`);
    });
    const reason = process.getuid && process.getuid() === 0 ? 'Not a directory' : 'Permission denied';
    const message = `Could not save ${file}: ${reason}`;
    try {
        // What the box says, as the program logs it.
        const told = main.appLog().split('\n').filter((line) => line.startsWith('Told the user: '));
        expect(told.length === 1 && told[0] === `Told the user: ${message}`, `the message: ${told}`);
    } finally {
        await waitFor('the keyboard on the box', () => x(['xdotool', 'getwindowfocus'], main.env).trim() === box.id, 5000);
        x(['xdotool', 'key', 'Escape'], main.env);
        await waitFor('the message box gone', () => !windowsOf('hoardly', main.env).some((w) => w.name === 'Export failed'), 5000);
    }
    // The same words stay in the status line.
    await waitFor('the status line', async () => (await main.view.first('#statusbar')).text === message, 5000);
    expect(!written(), 'nothing written');
    expect(mainWindows(main.env).length === 1, 'the window stays');
});

await check('closing the window hides it to the tray; the program keeps running', async () => {
    const [window] = mainWindows(main.env);
    expect(window, 'the window is shown');
    x([focusWindowProgram, '--close', window.id], main.env);
    await waitFor('the window hidden', () => mainWindows(main.env).length === 0, 10000);
    expect(main.process.exitCode_ === null, 'still running');
    const icon = await waitFor('the tray icon', () => trayIcons(main.env)[0]);
    x(['xdotool', 'mousemove', String(icon.x + icon.width / 2), String(icon.y + icon.height / 2), 'click', '1'], main.env);
    await waitFor('the window shown by the tray icon', () => mainWindows(main.env).length === 1, 5000);
});

await check('a second start brings the hidden window back and ends with code 3', async () => {
    // Hidden by closing it: clicks on the tray icon in quick succession may count
    // as a double click, which leaves the window shown.
    const [window] = mainWindows(main.env);
    expect(window, 'the window is shown');
    x([focusWindowProgram, '--close', window.id], main.env);
    await waitFor('the window hidden', () => mainWindows(main.env).length === 0, 10000);
    const second = main.launch(path.join(main.root, 'second.txt'));
    const code = await exitCode(second, 5000);
    expect(code === 3, `the second start ended with ${code}`);
    await waitFor('the window shown again', () => mainWindows(main.env).length === 1, 5000);
    expect(main.appLog().includes('A second start asked for the window\n'), 'the first instance was asked');
});

await check('SIGTERM ends the program with code 1 and clean logs', async () => {
    main.disconnect();
    main.process.kill('SIGTERM');
    const code = await exitCode(main.process, 15000);
    expect(code === 1, `ended with ${code}`);
    const log = main.appLog();
    expect(log.endsWith('Application finished.\n'), `the last line: ${log}`);
    expect(!/^(Error|Unknown error)/m.test(log), `no error in the log:\n${log}`);
    expect(!/Error:/.test(read(main.output)), `no error on the terminal:\n${read(main.output)}`);
    const hold = log.match(/Copy keys: (\d+) presses decided, the longest held (\d+) us/);
    expect(hold, `the capture reported its presses:\n${log}`);
    console.log(`Keyboard hold: ${hold[1]} presses decided, the longest held ${hold[2]} us`);
});

// The tray icon's menu: a popup of the program beside the icon, worked with the
// mouse. (Keys reach a popup only once it holds the keyboard, which nothing outside
// can see without taking the keyboard itself.)
const tray = await session('tray', true);
await check('the tray menu shows the hidden window again, and its Exit ends the program with code 1 and clean logs', async () => {
    const icon = await waitFor('the tray icon', () => trayIcons(tray.env)[0]);
    const openMenu = async () => {
        click(tray, {x: icon.x + icon.width / 2, y: icon.y + icon.height / 2}, '3');
        const menu = await waitFor('the tray menu', () => windowsOf('hoardly', tray.env)
            .find((w) => w.id !== icon.id && w.width > 64 && w.width < 400 && w.y < 100), 5000);
        expect(menu.x < icon.x + icon.width && menu.x + menu.width > icon.x, `the menu beside the icon: ${JSON.stringify(menu)}`);
        return menu;
    };
    // The menu's four items, Show Hoardly, Start at login, Help and Exit Hoardly,
    // share its height.
    const choose = (menu, item) => click(tray, {x: Math.round(menu.x + menu.width / 2),
        y: Math.round(menu.y + (menu.height * (2 * item + 1)) / 8)});
    const [window] = await waitFor('the window', () => mainWindows(tray.env).length === 1 && mainWindows(tray.env));
    x([focusWindowProgram, '--close', window.id], tray.env);
    await waitFor('the window hidden', () => mainWindows(tray.env).length === 0, 10000);
    // The first item: Show Hoardly.
    const menu = await openMenu();
    choose(menu, 0);
    await waitFor('the window shown from the menu', () => mainWindows(tray.env).length === 1, 5000);
    await waitFor('the menu closed', () => !windowsOf('hoardly', tray.env).some((w) => w.id === menu.id), 5000);
    // The second item writes the login entry that starts Hoardly hidden.
    const entry = path.join(tray.env.HOME, '.config', 'autostart', 'hoardly.desktop');
    const again = await openMenu();
    choose(again, 1);
    await waitFor('the login entry', () => read(entry).includes(' --hidden\n'), 5000);
    await waitFor('the menu closed', () => !windowsOf('hoardly', tray.env).some((w) => w.id === again.id), 5000);
    // The third item hands the help file to the desktop.
    const opened = path.join(tray.env.HOME, 'opened.txt');
    const helpMenu = await openMenu();
    choose(helpMenu, 2);
    await waitFor('the help opened from the menu', () => /Hoardly(%20| )Help\.html\n/.test(read(opened)), 10000);
    await waitFor('the menu closed', () => !windowsOf('hoardly', tray.env).some((w) => w.id === helpMenu.id), 5000);
    const helpFile = read(opened).trim().replace(/^file:\/\//, '').replace(/%20/g, ' ');
    expect(fs.existsSync(helpFile), `the help file exists: ${helpFile}`);
    // The last item: Exit Hoardly.
    tray.disconnect();
    choose(await openMenu(), 3);
    const code = await exitCode(tray.process, 15000);
    expect(code === 1, `Exit ended it with ${code}`);
    const log = tray.appLog();
    expect(log.endsWith('Application finished.\n'), `the last line: ${log}`);
    expect(!/^(Error|Unknown error)/m.test(log), `no error in the log:\n${log}`);
    expect(!/^Received /m.test(log), `ended by the menu, not by a signal:\n${log}`);
    expect(!/Error:/.test(read(tray.output)), `no error on the terminal:\n${read(tray.output)}`);
});

const attack = await session('attack', true);
await check('markup meant to attack the page stays inert and makes no request', async () => {
    if (!web) {
        // No script engine and no loader: handlers cannot run, and what matters is
        // what is laid out. The attacking markup shows as text, and no script-like
        // element takes a box.
        const live = (await attack.view.all('script, iframe, object, embed, meta, base, img')).filter((e) => e.box);
        expect(live.length === 0, `script-like elements laid out: ${JSON.stringify(live)}`);
        const shown = await attack.view.first('#shown-as-text');
        expect(shown && shown.box && shown.text.includes('<script>alert(1)</script>'), `markup shown as text: ${JSON.stringify(shown)}`);
        attack.disconnect();
        attack.process.kill('SIGTERM');
        expect(await exitCode(attack.process, 15000) === 1, 'ends with code 1');
        return;
    }
    const requests = [];
    attack.page.on('request', (request) => requests.push(request.url()));
    const messages = [];
    attack.page.on('console', (message) => messages.push(message.text()));
    // A reload starts the page over from the tree: every node comes through the mirror again.
    await attack.page.reload();
    await waitFor('the page after reload', () => attack.page.evaluate(() =>
        window.hoardlyRenderer && window.hoardlyRenderer.batches > 0), 10000);
    const facts = await attack.page.evaluate(() => ({
        pwned: window.__pwned === true,
        scriptLike: document.body.querySelectorAll('script, iframe, object, embed, meta, base').length,
        handlers: [...document.querySelectorAll('*')].flatMap((e) => e.getAttributeNames())
            .filter((name) => name.startsWith('on')),
        links: [...document.querySelectorAll('[href]')].map((e) => e.getAttribute('href')),
        text: document.getElementById('shown-as-text') && document.getElementById('shown-as-text').textContent,
    }));
    expect(!facts.pwned, 'no script of the document ran');
    expect(facts.scriptLike === 0, `script-like elements: ${facts.scriptLike}`);
    expect(facts.handlers.length === 0, `event handlers: ${facts.handlers}`);
    expect(facts.links.every((href) => !/script:/i.test(href)), `links: ${facts.links}`);
    expect(facts.text && facts.text.includes('<script>alert(1)</script>'), `markup shown as text: ${facts.text}`);
    const outside = requests.filter((url) => !url.startsWith('hoardly://'));
    expect(outside.length === 0, `requests outside the program: ${outside}`);
    attack.disconnect();
    attack.process.kill('SIGTERM');
    expect(await exitCode(attack.process, 15000) === 1, 'ends with code 1');
});

// A long list: the window holds only the rows near its view, and scrolling or the
// keyboard brings the right rows in wherever the view goes. The web page scrolls
// by pixels; the native window by rows, with its scroll bar and the wheel.
const long = await session('long', false, 3000);
await check('a long list follows scrolling and the keyboard with only the rows near the view', async () => {
    const name = (text) => text.split('\n')[0];
    const facts = async () => {
        const room = await long.view.list('#thequotelist');
        const pane = (await long.view.first('#quotepane')).box;
        // Each quote block with its text cell; the block's row is the list's row.
        const blocks = await long.view.all('#thequotelist .quote');
        const texts = await long.view.all('#thequotelist .quote td.text');
        expect(blocks.length === texts.length, 'a text cell in every quote');
        const cells = texts.filter((c) => c.box && c.box.y + c.box.height > pane.y && c.box.y < pane.y + pane.height);
        const current = texts.find((c, i) => rowHas(blocks[i], 'current'));
        return {room, held: room.rows, pane, seen: cells.map((c) => name(c.text)),
            tops: Object.fromEntries(cells.map((c) => [name(c.text), Math.round(c.box.y - pane.y)])),
            current: current ? name(current.text) : ''};
    };
    // The native window's scroll bar sits at its right edge beside the pane: a
    // middle click jumps to that point of it.
    const scrollTo = async (fraction) => {
        if (web) {
            await long.page.evaluate((f) => {
                const pane = document.querySelector('#quotepane');
                pane.scrollTop = (pane.scrollHeight - pane.clientHeight) * f;
            }, fraction);
            return;
        }
        const {pane} = await facts();
        const [window] = mainWindows(long.env);
        const arrows = 20;
        const y = pane.y + arrows + (pane.height - 2 * arrows) * fraction;
        click(long, {x: window.x + window.width - 6, y: Math.round(Math.min(pane.y + pane.height - arrows, y))}, '2');
    };
    // The centre of the text of the row whose first line is `first`.
    const rowCentre = async (first) => {
        const cell = (await long.view.all('#thequotelist td.text')).find((c) => name(c.text) === first);
        expect(cell && cell.box, `no row ${first} laid out`);
        return {x: Math.round(cell.box.x + Math.min(40, cell.box.width / 2)),
            y: Math.round(cell.box.y + Math.min(20, cell.box.height / 2))};
    };
    const settle = () => (web ? frames(long.page) : long.view.list('#thequotelist'));
    const start = await waitFor('the whole list', async () => {
        const f = await facts();
        return f.room && f.room.above + f.room.rows + f.room.below === 3000 && f.seen.length > 0 && f;
    }, 20000);
    expect(start.held < 200, `the window holds ${start.held} rows`);
    // A jump into the middle, then to the end: rows fill the view each time.
    await scrollTo(0.5);
    const middle = await waitFor('rows in the middle of the list', async () => {
        const f = await facts();
        return f.room.above > 500 && f.room.below > 500 && f.seen.length > 2 && f;
    }, 5000);
    // Reading on from there a little at a time: the rows move by exactly what was
    // scrolled (the page by pixels, the native window a row a notch of the wheel),
    // however the rows held change behind them.
    for (let step = 0; step < 24; step++) {
        const down = step < 12;
        const was = await facts();
        if (web) {
            await long.page.evaluate((d) => { document.querySelector('#quotepane').scrollTop += d; }, down ? 250 : -250);
        } else {
            x(['xdotool', 'mousemove', String(Math.round(was.pane.x + was.pane.width / 2)),
                String(Math.round(was.pane.y + was.pane.height / 2)), 'click', down ? '5' : '4'], long.env);
            await waitFor(`a row ${down ? 'down' : 'up'}`, async () => (await facts()).seen[0] !== was.seen[0], 5000);
        }
        await settle();
        const now = await facts();
        if (web) {
            const common = was.seen.find((t) => now.seen.includes(t));
            expect(common && Math.abs(now.tops[common] - was.tops[common] + (down ? 250 : -250)) <= 2,
                `step ${step}: ${JSON.stringify(was.tops)} -> ${JSON.stringify(now.tops)}`);
        } else {
            const moved = down ? now.seen[0] === was.seen[1] : now.seen[1] === was.seen[0];
            expect(moved && now.tops[now.seen[0]] === was.tops[was.seen[0]],
                `step ${step}: ${JSON.stringify(was.tops)} -> ${JSON.stringify(now.tops)}`);
        }
    }
    await scrollTo(1);
    const end = await waitFor('the last rows', async () => {
        const f = await facts();
        return f.room.below === 0 && f.seen.length > 2 && f;
    }, 5000);
    expect(end.held < 200 && middle.held < 200, `held: ${middle.held}, ${end.held}`);
    // The keyboard: Home goes to the first quote, End to the last, wherever the view is.
    await scrollTo(0.3);
    const row = await waitFor('a row to click', async () => {
        const f = await facts();
        return f.room.above > 0 && f.seen.length > 2 && f.seen[1];
    }, 5000);
    const target = await rowCentre(row);
    x(['xdotool', 'mousemove', String(target.x), String(target.y), 'click', '1'], long.env);
    await waitFor('the clicked row current', async () => (await facts()).current === row, 5000);
    x(['xdotool', 'key', 'Home'], long.env);
    const home = await waitFor('the first row current and in view', async () => {
        const f = await facts();
        return f.room.above === 0 && f.current && f.seen.includes(f.current) && f;
    }, 5000);
    x(['xdotool', 'key', 'End'], long.env);
    const last = await waitFor('the last row current and in view', async () => {
        const f = await facts();
        return f.room.below === 0 && f.current && f.current !== home.current && f.seen.includes(f.current) && f;
    }, 5000);
    expect(last.held < 200, `held: ${last.held}`);
    // A capture while reading down the list: the rows in view stay where they are,
    // and the new quote waits on top.
    await scrollTo(0.5);
    await waitFor('rows in the middle again', async () => {
        const f = await facts();
        return f.room.above > 500 && f.seen.length > 3;
    }, 5000);
    await settle();
    const reading = await facts();
    const text = 'Captured while reading the middle';
    await capture(long, text);
    const after = await waitFor('the list one longer', async () => {
        const f = await facts();
        return f.room.above + f.room.rows + f.room.below === 3001 && f;
    }, 5000);
    await settle();
    const stayed = await facts();
    const watched = reading.seen[1];
    expect(Math.abs(stayed.tops[watched] - reading.tops[watched]) <= 2,
        `the view moved: ${JSON.stringify(reading.tops)} -> ${JSON.stringify(stayed.tops)}`);
    expect(after.room.above > 500, `the window left the middle: ${JSON.stringify(after.room)}`);
    const clickable = await rowCentre(stayed.seen[1]);
    x(['xdotool', 'mousemove', String(clickable.x), String(clickable.y), 'click', '1'], long.env);
    await waitFor('a row current', async () => (await facts()).current === stayed.seen[1], 5000);
    x(['xdotool', 'key', 'Home'], long.env);
    await waitFor('the captured quote on top', async () => {
        const f = await facts();
        return f.room.above === 0 && f.current === text && f.seen.includes(text);
    }, 5000);
    // Sorting the whole list from its menu (on the pane's margin): the newest quote
    // goes to the far end and comes back, with the window still holding a few rows.
    const sortBy = async (item) => {
        const {pane} = await facts();
        click(long, {x: Math.round(pane.x + 3), y: Math.round(pane.y + pane.height / 2)}, '3');
        await waitFor('the list menu', async () => (await popupId(long)) === 'quotelist-menu', 5000);
        click(long, await popupItem(long, item));
        await waitFor('the menu closed', async () => !(await openPopup(long)), 5000);
    };
    await sortBy('Oldest first');
    await scrollTo(1);
    const sorted = await waitFor('the newest quote at the far end', async () => {
        const f = await facts();
        return f.room.below === 0 && f.seen.at(-1) === text && f;
    }, 5000);
    expect(sorted.held < 200 && sorted.room.above + sorted.room.rows === 3001, JSON.stringify(sorted.room));
    await sortBy('Newest first');
    await scrollTo(0);
    await waitFor('the newest quote on top again', async () => {
        const f = await facts();
        return f.room.above === 0 && f.seen[0] === text;
    }, 5000);
    long.process.kill('SIGTERM');
    expect(await exitCode(long.process, 15000) === 1, 'ends with code 1');
});

// On a screen scaled by 1.5 (a HiDPI screen, QT_SCALE_FACTOR) the native window
// is laid out as before and drawn with 1.5 times the pixels, and the pointer finds
// what it shows. (The web page scales itself.)
const scaled = web ? null : await openSession({work, name: 'scaled', program, renderer,
    baseEnv: {...baseEnv, QT_SCALE_FACTOR: '1.5'}, fixture: false});
if (!web) await check('on a screen scaled by 1.5 the native window is drawn larger and a click reaches what it shows', async () => {
    const [window] = await waitFor('the window', () => mainWindows(scaled.env).length === 1 && mainWindows(scaled.env));
    expect(window.width >= 1.5 * 940 && window.height >= 1.5 * 660, `a window 1.5 times the size: ${JSON.stringify(window)}`);
    const button = await scaled.view.first('#mode-or');
    expect(button.box.height >= 1.5 * 24, `a button 1.5 times as tall: ${JSON.stringify(button.box)}`);
    click(scaled, await centreIn(scaled, '#mode-or'));
    await waitFor('Any tag chosen', async () => hasState(await scaled.view.first('#mode-or'), 'checked'), 5000);
    const file = path.join(artifacts, 'hoardly-window-native-scaled.png');
    await scaled.view.screenshot(file);
    // A PNG's width and height stand at bytes 16 and 20 of its header.
    const header = fs.readFileSync(file).subarray(16, 24);
    const size = {width: header.readUInt32BE(0), height: header.readUInt32BE(4)};
    expect(Math.abs(size.width - window.width) <= 2 && Math.abs(size.height - window.height) <= 2,
        `the picture has the window's pixels: ${JSON.stringify(size)} for ${JSON.stringify(window)}`);
    scaled.disconnect();
    scaled.process.kill('SIGTERM');
    expect(await exitCode(scaled.process, 15000) === 1, 'ends with code 1');
});

// A failed check above may have left its program running: its window would stand
// in the way of the next session's.
for (const s of [main, tray, attack, long, scaled].filter(Boolean)) {
    if (s.process.exitCode_ === null) s.process.kill('SIGKILL');
}

// Without a tray host the window is the only way back: it stays shown, and closing
// it ends the program rather than leaving it running unseen.
trayer.kill('SIGTERM');
if (await exitCode(trayer, patience) === 'still running') {
    trayer.kill('SIGKILL');
    await trayer.exited;
}
const noTray = await session('no-tray', true);
await check('without a tray the window stays shown and closing it ends the program', async () => {
    const log = noTray.appLog();
    expect(log.split('\n').filter((line) => line.includes('No system tray')).length === 1,
        `one line about the tray:\n${log}`);
    const [window] = await waitFor('the window', () => mainWindows(noTray.env).length === 1 && mainWindows(noTray.env));
    noTray.disconnect();
    x([focusWindowProgram, '--close', window.id], noTray.env);
    const code = await exitCode(noTray.process, 15000);
    expect(code === 1, `closing ended it with ${code}`);
    expect(noTray.appLog().endsWith('Application finished.\n'), noTray.appLog());
});

// A capture the collection cannot take is told to the user on screen (here a
// message box: the tray host is gone), and the log does not claim it.
await check('a capture that cannot be stored is told to the user and not claimed in the log', async () => {
    const s = await session('full-disk', true);
    s.disconnect();
    s.process.kill('SIGTERM');
    await exitCode(s.process, 15000);
    // The same user again, with files limited to 2 MB: with SIGXFSZ ignored a write
    // past that fails as on a full disk instead of ending the program.
    const limited = start('sh', ['-c', 'trap "" XFSZ; exec prlimit --fsize=2000000 -- "$0"',
        path.join(s.root, 'app', 'hoardly')], s.env, s.output);
    await waitFor('Init complete', () => (s.appLog().includes('Init complete\n') &&
        !s.appLog().includes('Application finished')) || limited.exitCode_ !== null, 20000);
    expect(limited.exitCode_ === null, `the program ended: ${read(s.output)}`);
    const text = 'too large to keep '.repeat(200000);
    const clip = spawnSync('xclip', ['-selection', 'clipboard', '-i'],
        {env: s.env, input: text, stdio: ['pipe', 'ignore', 'ignore'], timeout: 5000});
    expect(clip.status === 0, 'xclip sets the clipboard');
    await copyKeys(['--delay', '150', 'ctrl+c', 'ctrl+c'], s.env);
    await waitFor('the refusal in the log', () =>
        s.appLog().includes(`Captured text NOT kept (${text.length} characters)`), 20000);
    expect(!s.appLog().includes('Captured text:'), `a capture claimed:\n${s.appLog()}`);
    await waitFor('the warning on screen', () =>
        x(['xdotool', 'search', '--onlyvisible', '--name', '^Hoardly did not keep your text$'], s.env).trim(), 10000);
    limited.kill('SIGTERM');
    expect(await exitCode(limited, 15000) === 1, 'the program ends on SIGTERM');
});

if (failures()) {
    for (const s of [main, tray, attack, long, scaled, noTray].filter(Boolean)) {
        fs.cpSync(s.log, path.join(artifacts, `${path.basename(s.root)}-application.log`));
        fs.cpSync(s.output, path.join(artifacts, `${path.basename(s.root)}-output.txt`));
    }
    console.log(`${failures()} check(s) failed; logs are in ${artifacts}`);
} else {
    fs.rmSync(work, {recursive: true, force: true});
}
process.exit(failures() ? 1 : 0);
