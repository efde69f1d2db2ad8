// End-to-end test of a collection of a million quotes in the real window.
//
// The collection is generated once (make_collection) and each run works on a copy.
// A user starts the program, goes to the end and back with the keyboard, drags the
// scroll bar to the middle, selects with a click and a Shift+click a range reaching
// over rows the page never showed, copies it, deletes it, captures a clip while
// reading the middle, and searches by a tag on one quote in twenty. What the window
// shows and what the clipboard holds are judged against the collection file, read
// with sqlite3. At the end the program's memory is held against that of the same
// program on the default collection, measured in the same run.
// Exit code 0: passed; 1: failed; 77: cannot run here.
//
// Usage: node million.mjs --program build/hoardly --focus-window build/.../e2e_focus_window
//                         --make-collection build/.../e2e_make_collection
//                         --collection <folder to keep the generated collection in>
//                         [--quotes 1000000] [--artifacts <folder>]

import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {capture, centreOf, check, click, copyKeys, dragWithMouse, exitCode, expect, failures, frames,
    have, loadPuppeteer, mainWindows, openSession, option, skip, sourceDir, startDesktop, waitFor,
    x} from './desktop.mjs';

const program = path.resolve(option('--program', path.join(sourceDir, 'build/hoardly')));
const focusWindowProgram = option('--focus-window', '');
const makeCollection = option('--make-collection', '');
const collection = path.resolve(option('--collection', path.join(os.tmpdir(), 'hoardly-million-collection')));
const quotes = Number(option('--quotes', '1000000'));
const artifacts = path.resolve(option('--artifacts', path.join(os.tmpdir(), 'hoardly-e2e-million-artifacts')));

for (const tool of ['Xvfb', 'trayer', 'xdotool', 'xclip', 'sqlite3']) {
    if (!have(tool)) skip(`${tool} is not installed`);
}
if (!fs.existsSync(program)) skip(`no program at ${program}`);
if (!focusWindowProgram || !fs.existsSync(focusWindowProgram)) skip('no focus window helper');
if (!makeCollection || !fs.existsSync(makeCollection)) skip('no collection maker');
const puppeteer = await loadPuppeteer();

const made = spawnSync(makeCollection, [collection, String(quotes)], {encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe']});
if (made.status !== 0) throw new Error(`the collection maker failed: ${made.stderr}`);

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'hoardly-e2e-million-'));
fs.mkdirSync(artifacts, {recursive: true});
const {baseEnv} = await startDesktop(work);

// ---- The collection as the file holds it ----------------------------------------

// The rows of a query, read with sqlite3 beside the running program (the
// collection is in WAL mode: a reader sees the last commit and stops no writer).
function sql(db, query) {
    const result = spawnSync('sqlite3', ['-json', db, query], {encoding: 'utf8', maxBuffer: 1 << 30});
    if (result.status !== 0) throw new Error(`sqlite3: ${result.stderr}`);
    return result.stdout.trim() ? JSON.parse(result.stdout) : [];
}
// The list shows the newest quote first: row i is the quote i places from the
// table's end.
const rowsAt = (db, first, count) => sql(db,
    `SELECT m_id AS id, m_utftext AS text FROM quote ORDER BY seq DESC LIMIT ${count} OFFSET ${first}`);
const quoteCount = (db) => sql(db, 'SELECT count(*) AS n FROM quote')[0].n;

// ---- Memory ---------------------------------------------------------------------

// Resident memory of one process, in MiB: all of it, the part not backed by files,
// and the pages of the collection file SQLite has mapped (clean pages of the file
// the kernel may drop at any time and shares with its page cache).
function residentMiB(pid) {
    const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
    const field = (name) => Number((status.match(new RegExp(`${name}:\\s+(\\d+)`)) || [0, NaN])[1]) / 1024;
    let collectionKiB = 0;
    let inCollection = false;
    for (const line of fs.readFileSync(`/proc/${pid}/smaps`, 'utf8').split('\n')) {
        if (/^[0-9a-f]+-[0-9a-f]+ /.test(line)) inCollection = /\/hoardly\.fdb(-shm)?$/.test(line);
        else if (inCollection && line.startsWith('Rss:')) collectionKiB += Number(line.split(/\s+/)[1]);
    }
    return {rss: field('VmRSS'), anon: field('RssAnon'), file: field('RssFile'), collection: collectionKiB / 1024};
}
// Where the memory goes, step by step, for the record.
let probe = () => {};
const mib = (m) => `${m.rss.toFixed(0)} MiB (anonymous ${m.anon.toFixed(0)}, file-backed ${m.file.toFixed(0)}, ` +
    `of which the collection file mapped ${m.collection.toFixed(0)})`;

// ---- The page -------------------------------------------------------------------

// What the quote list shows: its room (rows above the held ones, held, below), the
// rows in view with their index, text and place, the current row.
function listFacts(s) {
    return s.page.evaluate(() => {
        const list = document.querySelector('#thequotelist');
        const pane = document.querySelector('#quotepane').getBoundingClientRect();
        const room = window.hoardlyRenderer.windowOf(list);
        if (!room) return null;
        const rows = [...list.children];
        const seen = [];
        let current = -1;
        // The text as the collection holds it: a line break shows as <br>.
        const shown = (cell) => [...cell.childNodes].map((n) => (n.nodeName === 'BR' ? '\n' : n.textContent)).join('');
        rows.forEach((row, i) => {
            const box = row.getBoundingClientRect();
            const text = row.querySelector('td.text');
            if (/\bcurrent\b/.test(row.getAttribute('data-state') || '')) current = room.above + i;
            if (box.bottom > pane.top && box.top < pane.bottom && text) {
                seen.push({index: room.above + i, text: shown(text), top: Math.round(box.top - pane.top),
                    whole: box.top >= pane.top && box.bottom <= pane.bottom,
                    checked: /\bchecked\b/.test(row.getAttribute('data-state') || '')});
            }
        });
        return {room, total: room.above + room.rows + room.below, held: rows.length, seen, current};
    });
}

// The rows in view must be the collection's rows at their places.
function expectRowsMatch(facts, db, what) {
    expect(facts.seen.length > 0, `${what}: no rows in view`);
    const first = facts.seen[0].index;
    facts.seen.forEach((row, i) => expect(row.index === first + i, `${what}: rows in view not in a run`));
    const stored = rowsAt(db, first, facts.seen.length);
    const shown = facts.seen.map((r) => r.text);
    expect(JSON.stringify(shown) === JSON.stringify(stored.map((r) => r.text)),
        `${what}: rows ${first}... show ${JSON.stringify(shown)}, the collection holds ${JSON.stringify(stored.map((r) => r.text))}`);
}

// The page may still be moving its window of rows after the facts were read (a
// busy machine lets the scroll's checks run late): the row is looked up afresh
// until the page holds it.
// The list's facts once it stands still: the same rows in the same places across a
// few frames. A scroll's checks may still move the page's window of rows after the
// rows wanted are in view, and later on a busy machine.
async function stillFacts(s) {
    let last = null;
    return waitFor('the list standing still', async () => {
        await frames(s.page, 3);
        const now = await listFacts(s);
        const same = last && JSON.stringify(now.seen) === JSON.stringify(last.seen) &&
            JSON.stringify(now.room) === JSON.stringify(last.room);
        last = now;
        return same && now;
    });
}

async function clickRow(s, row) {
    const [window] = mainWindows(s.env);
    const box = await waitFor(`row ${row.index} held`, () => s.page.evaluate((index) => {
        const list = document.querySelector('#thequotelist');
        const room = window.hoardlyRenderer.windowOf(list);
        const held = list.children[index - room.above];
        if (!held || index < room.above) return null;
        const r = held.querySelector('td.text').getBoundingClientRect();
        return {x: Math.round(r.x + Math.min(40, r.width / 2)), y: Math.round(r.y + Math.min(12, r.height / 2))};
    }, row.index), 5000);
    return {x: box.x + window.x, y: box.y + window.y};
}

// The scroll bar of the quote pane: where its thumb's middle is, and the track it
// runs along, in screen coordinates.
async function scrollBar(s) {
    const [window] = mainWindows(s.env);
    const bar = await s.page.evaluate(() => {
        const pane = document.querySelector('#quotepane');
        const r = pane.getBoundingClientRect();
        const style = getComputedStyle(pane);
        const border = parseFloat(style.borderRightWidth) + parseFloat(style.borderLeftWidth);
        const width = pane.offsetWidth - pane.clientWidth - border;
        // The track lies between the arrow buttons, each as tall as the bar is wide.
        const top = r.top + parseFloat(style.borderTopWidth) + width;
        const length = pane.clientHeight - 2 * width;
        const thumb = Math.max(width, length * pane.clientHeight / pane.scrollHeight);
        const at = top + (length - thumb) * pane.scrollTop / (pane.scrollHeight - pane.clientHeight);
        return {x: Math.round(r.right - parseFloat(style.borderRightWidth) - width / 2), width,
            top, length, thumb, thumbMiddle: Math.round(at + thumb / 2)};
    });
    expect(bar.width > 4, `the quote pane shows a scroll bar: ${JSON.stringify(bar)}`);
    return {...bar, x: bar.x + window.x, top: bar.top + window.y, thumbMiddle: bar.thumbMiddle + window.y};
}

const clipboard = (env) => spawnSync('xclip', ['-selection', 'clipboard', '-o'],
    {env, timeout: 10000, maxBuffer: 1 << 30}).stdout;

// ---- The checks -----------------------------------------------------------------

// The same program on the default collection first: the memory a million quotes
// may add is judged against it.
let baseline = null;
await check('the default collection starts (the memory baseline)', async () => {
    const s = await openSession({work, name: 'default', program, baseEnv, puppeteer});
    await waitFor('the first rows', async () => {
        const f = await listFacts(s);
        return f && f.seen.length > 0;
    });
    await frames(s.page);
    baseline = residentMiB(s.process.pid);
    console.log(`The default collection: started in ${s.startupMs} ms, the program's memory ${mib(baseline)}`);
    s.browser.disconnect();
    s.process.kill('SIGTERM');
    expect(await exitCode(s.process, 15000) === 1, 'ends with code 1');
});

const s = await openSession({work, name: 'million', program, baseEnv, puppeteer, prepare: (root) => {
    const data = path.join(root, 'data', 'Hoardly');
    fs.mkdirSync(path.join(data, 'logs'), {recursive: true, mode: 0o700});
    fs.chmodSync(data, 0o700);
    for (const file of ['hoardly.fdb', 'defaulttags.xml', 'defaultquotes.xml']) {
        fs.copyFileSync(path.join(collection, file), path.join(data, file));
    }
}});
const db = path.join(s.root, 'data', 'Hoardly', 'hoardly.fdb');
probe = (when) => console.log(`The program's memory ${when}: ${mib(residentMiB(s.process.pid))}`);
console.log(`A million quotes: started to a filled window in ${s.startupMs} ms`);
const state = {total: quotes};

await check('a million quotes: the first rows at once, End, Home and the scroll bar show the right rows', async () => {
    const start = await waitFor('the first rows of the whole list', async () => {
        const f = await listFacts(s);
        return f && f.total === quotes && f.seen.length > 2 && f;
    });
    expect(start.room.above === 0 && start.held < 200, `the page holds a window: ${JSON.stringify(start.room)}`);
    expectRowsMatch(start, db, 'the top');
    probe('with the first rows shown');
    // The keyboard goes to the list with a click on a row.
    click(s, await clickRow(s, start.seen[0]));
    await waitFor('the first row current', async () => (await listFacts(s)).current === 0);
    x(['xdotool', 'key', 'End'], s.env);
    const end = await waitFor('the last row current and in view', async () => {
        const f = await listFacts(s);
        return f.room.below === 0 && f.current === quotes - 1 && f.seen.some((r) => r.index === quotes - 1) && f;
    });
    expectRowsMatch(end, db, 'the end');
    expect(end.seen.at(-1).text.startsWith(`Quote 1 of ${quotes}:`), `the oldest quote last: ${end.seen.at(-1).text}`);
    expect(end.held < 200, `the page holds a window: ${JSON.stringify(end.room)}`);
    x(['xdotool', 'key', 'Home'], s.env);
    const home = await waitFor('the first row current and in view', async () => {
        const f = await listFacts(s);
        return f.room.above === 0 && f.current === 0 && f.seen[0].index === 0 && f;
    });
    expectRowsMatch(home, db, 'back at the top');
    probe('after End and Home');
    // The thumb from the top to the middle of its track, with the mouse.
    const bar = await scrollBar(s);
    await dragWithMouse(s, {x: bar.x, y: bar.thumbMiddle}, {x: bar.x, y: Math.round(bar.top + bar.length / 2)}, 10);
    const middle = await waitFor('rows in the middle of the list', async () => {
        const f = await listFacts(s);
        return f.room.above > quotes * 0.4 && f.room.below > quotes * 0.4 && f.seen.length > 2 &&
            f.seen[0].index >= f.room.above && f;
    });
    expectRowsMatch(middle, db, 'the middle');
    expect(middle.held < 200, `the page holds a window: ${JSON.stringify(middle.room)}`);
    probe('in the middle');
});

await check('a Shift+click range over rows never shown copies byte for byte, and Delete takes exactly it away', async () => {
    const before = await stillFacts(s);
    const from = before.seen.find((r) => r.whole);
    expect(from, `a whole row in view: ${JSON.stringify(before.seen)}`);
    click(s, await clickRow(s, from));
    await waitFor('the clicked row current', async () => (await listFacts(s)).current === from.index);
    // A short drag of the thumb passes over thousands of rows.
    const bar = await scrollBar(s);
    await dragWithMouse(s, {x: bar.x, y: bar.thumbMiddle}, {x: bar.x, y: bar.thumbMiddle + 8}, 4);
    const further = await waitFor('rows further down', async () => {
        const f = await listFacts(s);
        return f.room.above > from.index + 1000 && f.seen.filter((r) => r.whole).length > 1 && f;
    });
    const to = further.seen.filter((r) => r.whole)[1];
    x(['xdotool', 'keydown', 'shift'], s.env);
    click(s, await clickRow(s, to));
    x(['xdotool', 'keyup', 'shift'], s.env);
    await waitFor('the range up to the Shift+clicked row', async () => {
        const f = await listFacts(s);
        return f.current === to.index && f.seen.filter((r) => r.index <= to.index).every((r) => r.checked);
    });
    const count = to.index - from.index + 1;
    expect(count > 1000, `a range wider than the page ever held: ${count}`);
    const range = rowsAt(db, from.index, count);
    const expected = Buffer.from(range.map((r) => `${r.text}\r\n\r\n`).join(''), 'utf8');
    spawnSync('xclip', ['-selection', 'clipboard', '-i'], {env: s.env, input: 'before', stdio: ['pipe', 'ignore', 'ignore'], timeout: 5000});
    await waitFor('the clipboard emptied', () => clipboard(s.env).toString() === 'before');
    await copyKeys(['ctrl+c'], s.env);
    const copied = await waitFor('the range on the clipboard', () => {
        const now = clipboard(s.env);
        return now.toString() !== 'before' && now;
    });
    if (!copied.equals(expected)) {
        let at = 0;
        while (at < copied.length && copied[at] === expected[at]) at++;
        throw new Error(`the clipboard (${copied.length} bytes) differs from the ${count} quotes ` +
            `(${expected.length} bytes) at byte ${at}: ${JSON.stringify(copied.subarray(at, at + 80).toString())} ` +
            `instead of ${JSON.stringify(expected.subarray(at, at + 80).toString())}`);
    }
    probe(`after copying ${count} quotes`);
    // Delete: the list and the file lose exactly the range.
    x(['xdotool', 'key', 'Delete'], s.env);
    const after = await waitFor('the list shorter by the range', async () => {
        const f = await listFacts(s);
        return f.total === quotes - count && f.seen.length > 2 && f;
    });
    state.total = quotes - count;
    expect(quoteCount(db) === quotes - count, `the file holds ${quoteCount(db)} quotes`);
    const ids = range.map((r) => r.id).join(',');
    const left = sql(db, `SELECT count(*) AS n FROM quote WHERE m_id IN (${ids})`)[0].n;
    expect(left === 0, `${left} of the deleted quotes are still in the file`);
    expectRowsMatch(after, db, 'after the deletion');
    probe(`after deleting them`);
});

await check('a capture while reading the middle leaves the view in place and goes on top', async () => {
    const reading = await stillFacts(s);
    const watched = reading.seen.find((r) => r.whole) || reading.seen[0];
    const text = 'Captured while reading the middle of a million \u{1F4DA}';
    await capture(s, text, focusWindowProgram);
    const after = await waitFor('the list one longer', async () => {
        const f = await listFacts(s);
        return f.total === state.total + 1 && f;
    });
    state.total += 1;
    await frames(s.page);
    const stayed = await listFacts(s);
    const same = stayed.seen.find((r) => r.text === watched.text);
    expect(same && Math.abs(same.top - watched.top) <= 2,
        `the view moved: ${JSON.stringify(watched)} -> ${JSON.stringify(stayed.seen)}`);
    expect(after.room.above > quotes * 0.4, `the window left the middle: ${JSON.stringify(after.room)}`);
    expectRowsMatch(stayed, db, 'the middle after the capture');
    click(s, await clickRow(s, same));
    await waitFor('a row current', async () => (await listFacts(s)).current === same.index + 0);
    x(['xdotool', 'key', 'Home'], s.env);
    const top = await waitFor('the captured quote on top', async () => {
        const f = await listFacts(s);
        return f.room.above === 0 && f.current === 0 && f.seen[0].text === text && f;
    });
    expectRowsMatch(top, db, 'the top after the capture');
});

await check('a tag dragged into the search bar finds its 50,000 quotes; Clear shows all again', async () => {
    const name = 'Every twentieth';
    const tagged = sql(db, `SELECT count(*) AS n FROM mark JOIN tag ON tag.m_id = mark.tag_id WHERE tag.m_utfname = '${name}'`)[0].n;
    expect(tagged > quotes / 21 && tagged <= quotes / 20, `the tag is on one quote in twenty: ${tagged}`);
    await dragWithMouse(s, await centreOf(s, '#taglist .vtag', name), await centreOf(s, '#p-searchbar'));
    const found = await waitFor('the quotes with the tag', async () => {
        const f = await listFacts(s);
        return f.total === tagged && f.seen.length > 2 && f;
    });
    const first = sql(db, `SELECT quote.m_utftext AS text FROM quote JOIN mark ON mark.quote_id = quote.m_id
        JOIN tag ON tag.m_id = mark.tag_id WHERE tag.m_utfname = '${name}' ORDER BY quote.seq DESC LIMIT ${found.seen.length}`);
    probe('after the search');
    expect(found.room.above === 0 && JSON.stringify(found.seen.map((r) => r.text)) === JSON.stringify(first.map((r) => r.text)),
        `the newest tagged quotes on top: ${JSON.stringify(found.seen.map((r) => r.text))}`);
    click(s, await centreOf(s, '#clear-search'));
    const all = await waitFor('every quote again', async () => {
        const f = await listFacts(s);
        return f.total === state.total && f.seen.length > 2 && f;
    });
    expectRowsMatch(all, db, 'after Clear');
});

// The memory a collection costs the program is its own: the ids of the list, the
// marks beside them, the rows the document holds, SQLite's page cache. On the
// default collection all that is next to nothing, so the baseline is the program
// with its web engine and libraries. A million ids take 8 MiB; everything else is
// bounded by the window of rows held, so 150 MiB over the baseline is already a
// leak or a copy of the collection held somewhere. The pages of the collection
// file SQLite maps are not the program's to hold: they are the file itself, clean,
// shared with the kernel's cache and dropped under pressure; they count apart,
// bounded by the file's size.
await check('after all that the program holds no more than 150 MiB over the default collection', async () => {
    expect(baseline, 'the baseline was measured');
    await frames(s.page);
    const now = residentMiB(s.process.pid);
    const own = now.rss - now.collection;
    console.log(`A million quotes, after the checks: the program's memory ${mib(now)}; ` +
        `${(own - baseline.rss).toFixed(0)} MiB over the default collection besides the mapped collection file`);
    expect(own < baseline.rss + 150, `${mib(now)} against ${mib(baseline)} on the default collection`);
    const fileMiB = fs.statSync(db).size / (1 << 20);
    expect(now.collection <= fileMiB + 1, `${now.collection} MiB of a ${fileMiB} MiB file mapped`);
    s.browser.disconnect();
    s.process.kill('SIGTERM');
    expect(await exitCode(s.process, 15000) === 1, 'ends with code 1');
    const log = s.appLog();
    expect(!/^(Error|Unknown error)/m.test(log), `no error in the log:\n${log}`);
});

if (failures()) {
    for (const name of ['default', 'million']) {
        for (const file of [path.join('data', 'Hoardly', 'logs', 'application.log'), 'output.txt']) {
            const from = path.join(work, name, file);
            if (fs.existsSync(from)) fs.cpSync(from, path.join(artifacts, `${name}-${path.basename(file)}`));
        }
    }
    console.log(`${failures()} check(s) failed; logs are in ${artifacts}`);
} else {
    fs.rmSync(work, {recursive: true, force: true});
}
process.exit(failures() ? 1 : 0);
