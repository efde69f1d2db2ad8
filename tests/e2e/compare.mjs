// The same window from both renderers, compared. Starts the program once with the
// web renderer and once with the native one, each with the same collection and
// window size, brings each window through the same states (the first window, a
// tag search, text in the find field, an open menu), and for each state saves both
// screenshots side by side in one picture (web left, native right) and compares
// the element boxes region by region: the same regions are laid out in both, in
// the same order, without overlapping where they must not, reading the same
// texts, and within a few pixels of each other. Prints a line per state with the
// regions compared and the largest offset seen. Exit code 0: passed; 1: failed;
// 77: cannot run here.
//
// Usage: node compare.mjs --program build/hoardly --side-by-side build/.../e2e_side_by_side
//                         --artifacts <folder>

import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {centreOf, check, click, exitCode, expect, failures, have, loadPuppeteer, mainWindows, openSession,
    option, skip, sourceDir, startDesktop, waitFor, x} from './desktop.mjs';

const program = path.resolve(option('--program', path.join(sourceDir, 'build/hoardly')));
const sideBySideProgram = option('--side-by-side', '');
const artifacts = path.resolve(option('--artifacts', path.join(os.tmpdir(), 'hoardly-compare-artifacts')));

for (const tool of ['Xvfb', 'trayer', 'xdotool']) {
    if (!have(tool)) skip(`${tool} is not installed`);
}
if (!fs.existsSync(program)) skip(`no program at ${program}`);
if (!sideBySideProgram || !fs.existsSync(sideBySideProgram)) skip('no side-by-side picture helper');
const puppeteer = await loadPuppeteer();

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'hoardly-compare-'));
fs.mkdirSync(artifacts, {recursive: true});
const {baseEnv} = await startDesktop(work);

// ---- Tolerances ---------------------------------------------------------------
//
// The two renderers measure text with different engines (Chromium's and Qt's), so
// a run of text may come out a pixel or two wider or taller, and a list's rows add
// those up downwards. The bounds, in pixels, per kind of region:
//   frame: the toolbar, the panes, the splitter, the status bar: placed from the
//          window's size, so nearly exact;
//   control: buttons, the find field, tags and chips: text-sized, a few pixels;
//   row: a list's rows and their parts: text-sized, and each row further down
//        may carry what the rows above it gained, a little per row;
//   menu: an open menu and its items, placed at the pointer: text-sized.
// Seen when written: frame 1, control 7 (the native find field is 7px narrower),
// row 11 (four rows down, within 3px and 3px a row above), menu 4.
const tolerance = {frame: 4, control: 8, row: 8, menu: 8};
const perRowAbove = 3;  // further vertical room for each list row above
// Overlaps of this many pixels or fewer are borders meeting, not overlaps.
const touch = 1;

// ---- Reading a window ---------------------------------------------------------

const normal = (text) => text.replace(/\s+/g, ' ').trim();
const right = (b) => b.x + b.width;
const bottom = (b) => b.y + b.height;
const overlap = (a, b) => Math.min(right(a), right(b)) - Math.max(a.x, b.x) > touch &&
    Math.min(bottom(a), bottom(b)) - Math.max(a.y, b.y) > touch;
// A line break is an element in the web page and a character in the native tree:
// white space does not count.
const sameText = (a, b) => a === b || (a !== null && b !== null && a.replace(/\s/g, '') === b.replace(/\s/g, ''));
const crosses = (b, pane) => b.y < bottom(pane) && bottom(b) > pane.y;

// The regions of a window, each {name, kind, group, index, box, text}: `box`
// relative to the window's top left corner, `text` null where it is not compared.
// A list's rows count when they show in their pane (a row cut by the pane's edge
// included); the rest are scrolled out of view.
async function readRegions(s) {
    const [win] = mainWindows(s.env);
    expect(win, 'the window is shown');
    const view = s.view;
    const regions = [];
    const relative = (b) => b && {x: Math.round(b.x - win.x), y: Math.round(b.y - win.y),
        width: Math.round(b.width), height: Math.round(b.height)};
    const add = (name, kind, e, {group = null, text = true, stamp = false} = {}) => {
        if (!e) return null;
        let shown = text ? normal(e.text) : null;
        // When a quote was stored differs between the two runs: its shape counts.
        if (stamp && shown !== null) shown = shown.replace(/\d+/g, '0');
        const region = {name, kind, group, box: relative(e.box), text: shown};
        regions.push(region);
        return region;
    };
    for (const [name, selector] of [['toolbar', '#toolbar'], ['tag pane', '#tagpane'], ['splitter', '#splitter'],
        ['quote pane', '#quotepane'], ['status bar', '#statusbar']]) {
        add(name, 'frame', await view.first(selector), {group: 'frame', text: name === 'status bar'});
    }
    add('tag pane header', 'frame', await view.first('#tagpane .pane-header'), {text: false});
    add('tag pane title', 'control', await view.first('#tagpane .pane-title'));
    add('New tag', 'control', await view.first('#add-tag'));
    for (const [name, selector] of [['search bar', '#p-searchbar'], ['find box', '#findbox'], ['All tags', '#mode-and'],
        ['Any tag', '#mode-or'], ['Clear', '#clear-search'], ['Export...', '#export'], ['remove box', '#recycled']]) {
        add(name, 'control', await view.first(selector), {group: 'tools', text: name !== 'search bar' && name !== 'find box'});
    }
    add('find field', 'control', await view.first('#find-text'));
    for (const e of await view.all('#p-searchbar .stag')) add(`search tag ${normal(e.text)}`, 'control', e, {group: 'search tags'});
    const tagPane = relative((await view.first('#tagpane')).box);
    for (const e of await view.all('#taglist .vtag')) {
        if (e.box && crosses(relative(e.box), tagPane)) add(`tag ${normal(e.text)}`, 'row', e, {group: 'tags'});
    }
    const quotePane = relative((await view.first('#quotepane')).box);
    for (const q of await view.all('#thequotelist .quote')) {
        if (!q.box || !crosses(relative(q.box), quotePane)) continue;
        add(`quote#${q.id}`, 'row', q, {group: 'quotes', text: false});
        add(`quote#${q.id} text`, 'row', await view.first(`#${q.id} td.text`));
        for (const chip of await view.all(`#${q.id} .qtag`)) {
            add(`quote#${q.id} tag ${normal(chip.text)}`, 'row', chip, {group: `chips of ${q.id}`});
        }
        add(`quote#${q.id} Manage...`, 'row', await view.first(`#${q.id} button.managetags`), {group: `chips of ${q.id}`});
        add(`quote#${q.id} time`, 'row', await view.first(`#${q.id} td.timestamp`), {group: `chips of ${q.id}`, stamp: true});
    }
    const popup = await view.popup();
    if (popup) {
        add(`menu ${popup.id}`, 'menu', popup, {text: false});
        for (const item of await view.all(`#${popup.id} li`)) {
            add(`menu ${popup.id} item ${normal(item.text)}`, 'menu', item, {group: 'menu items'});
        }
    }
    return {window: {width: win.width, height: win.height}, quotePane, tagPane, regions};
}

// The regions once the window has settled: two reads in a row alike.
async function settled(s) {
    let last = '';
    return waitFor('the window to settle', async () => {
        const now = await readRegions(s);
        const same = JSON.stringify(now) === last;
        last = JSON.stringify(now);
        return same && now;
    }, 10000, 150);
}

// ---- What one window is checked for on its own ------------------------------------

// The order each group is meant to show in, by its document order: the tools left
// to right, a list's rows top to bottom, a quote's chips as text flows.
const flowsAcross = (group) => group === 'tools' || group === 'search tags' || group.startsWith('chips of ');
function shapeProblems(read, who) {
    const problems = [];
    const groups = new Map();
    for (const r of read.regions) {
        if (!r.group) continue;
        if (!r.box) {
            problems.push(`${who}: ${r.name} has no box`);
            continue;
        }
        if (!groups.has(r.group)) groups.set(r.group, []);
        groups.get(r.group).push(r);
    }
    for (const [group, members] of groups) {
        for (let i = 1; i < members.length; i++) {
            const [a, b] = [members[i - 1].box, members[i].box];
            const inOrder = flowsAcross(group)
                ? (b.x >= right(a) - touch || b.y >= bottom(a) - touch)  // next along, or on a next line
                : group === 'frame' || b.y >= bottom(a) - touch;
            if (!inOrder) problems.push(`${who}: ${members[i].name} is not after ${members[i - 1].name}`);
        }
        // The frame's parts are told apart by their own rule below.
        if (group === 'frame') continue;
        for (let i = 0; i < members.length; i++) {
            for (let j = i + 1; j < members.length; j++) {
                if (overlap(members[i].box, members[j].box)) {
                    problems.push(`${who}: ${members[i].name} overlaps ${members[j].name}`);
                }
            }
        }
    }
    const box = (name) => (read.regions.find((r) => r.name === name) || {}).box;
    // The window's frame: the toolbar above the panes, the status bar below them,
    // the tag pane, the splitter and the quote pane side by side; none overlaps another.
    const frame = ['toolbar', 'tag pane', 'splitter', 'quote pane', 'status bar'];
    for (const name of frame) if (!box(name)) problems.push(`${who}: no ${name}`);
    if (frame.every(box)) {
        for (let i = 0; i < frame.length; i++) {
            for (let j = i + 1; j < frame.length; j++) {
                if (overlap(box(frame[i]), box(frame[j]))) problems.push(`${who}: ${frame[i]} overlaps ${frame[j]}`);
            }
        }
        if (!(box('tag pane').x < box('splitter').x && box('splitter').x < box('quote pane').x)) {
            problems.push(`${who}: the tag pane, the splitter and the quote pane are not side by side in that order`);
        }
        if (!(bottom(box('toolbar')) <= box('quote pane').y + touch && bottom(box('quote pane')) <= box('status bar').y + touch)) {
            problems.push(`${who}: the toolbar, the panes and the status bar are not stacked in that order`);
        }
        // The tools stay inside the toolbar.
        for (const r of read.regions.filter((r) => r.group === 'tools' && r.box)) {
            const t = box('toolbar');
            if (r.box.x < t.x - touch || right(r.box) > right(t) + touch || r.box.y < t.y - touch || bottom(r.box) > bottom(t) + touch) {
                problems.push(`${who}: ${r.name} ${JSON.stringify(r.box)} leaves the toolbar ${JSON.stringify(t)}`);
            }
        }
    }
    // Everything shown lies inside the window.
    for (const r of read.regions.filter((r) => r.box)) {
        if (r.box.x < -touch || r.box.y < -touch || right(r.box) > read.window.width + touch ||
            (r.kind !== 'row' && bottom(r.box) > read.window.height + touch)) {
            problems.push(`${who}: ${r.name} ${JSON.stringify(r.box)} lies outside the window`);
        }
    }
    return problems;
}

// ---- The two windows against each other --------------------------------------------

function compareReads(web, native) {
    const problems = [];
    const byName = (read) => new Map(read.regions.map((r) => [r.name, r]));
    const [w, n] = [byName(web), byName(native)];
    if (JSON.stringify(web.window) !== JSON.stringify(native.window)) {
        problems.push(`the windows differ in size: web ${JSON.stringify(web.window)}, native ${JSON.stringify(native.window)}`);
    }
    // A list row cut by the bottom of its pane in one window may lie just past it in
    // the other: such a row (and its parts) is left out.
    const rowOwner = (name) => (name.match(/^quote#(\S+)/) || [])[1];
    const edgeRows = new Set();
    for (const [one, other, read] of [[w, n, web], [n, w, native]]) {
        read.regions.filter((r) => r.group === 'quotes').forEach((r, above) => {
            if (!other.has(r.name) && r.box.y >= bottom(read.quotePane) - tolerance.row - perRowAbove * above) {
                edgeRows.add(rowOwner(r.name));
            }
        });
    }
    const compared = (name) => !(rowOwner(name) && edgeRows.has(rowOwner(name)));
    for (const name of w.keys()) if (compared(name) && !n.has(name)) problems.push(`${name} missing in the native window`);
    for (const name of n.keys()) if (compared(name) && !w.has(name)) problems.push(`${name} only in the native window`);
    let largest = {by: 0, what: 'nothing'};
    const largestOf = {frame: 0, control: 0, row: 0, menu: 0};
    let count = 0;
    // Rows above a region in its list: the further down, the more the rows above may have added.
    const rowsAbove = new Map();
    for (const group of ['tags', 'quotes']) {
        web.regions.filter((r) => r.group === group).forEach((r, i) => rowsAbove.set(r.name, i));
    }
    for (const [name, a] of w) {
        const b = n.get(name);
        if (!b || !compared(name)) continue;
        count++;
        if (!sameText(a.text, b.text)) problems.push(`${name} reads ${JSON.stringify(b.text)} instead of ${JSON.stringify(a.text)}`);
        if (!a.box || !b.box) {
            if (a.box || b.box) problems.push(`${name} is laid out in only the ${a.box ? 'web' : 'native'} window`);
            continue;
        }
        const above = rowsAbove.get(name) ?? rowsAbove.get(`quote#${rowOwner(name)}`) ?? 0;
        const allowed = tolerance[a.kind];
        const offsets = {x: b.box.x - a.box.x, y: b.box.y - a.box.y, width: b.box.width - a.box.width,
            height: b.box.height - a.box.height};
        for (const [what, by] of Object.entries(offsets)) {
            const bound = allowed + (what === 'y' && a.kind === 'row' ? perRowAbove * above : 0);
            if (Math.abs(by) > Math.abs(largest.by)) largest = {by, what: `${name} ${what}`};
            largestOf[a.kind] = Math.max(largestOf[a.kind], Math.abs(by));
            if (Math.abs(by) > bound) {
                problems.push(`${name}: ${what} off by ${by} px (allowed ${bound}): web ${JSON.stringify(a.box)}, native ${JSON.stringify(b.box)}`);
            }
        }
    }
    return {problems, count, largest, largestOf, edgeRows: [...edgeRows]};
}

// ---- The scenarios ------------------------------------------------------------------

// A collection of its own, short enough for the whole list to show without
// scrolling: quotes of one line and of several, with no tag, one tag or all of
// them, a tag name with a markup character.
function madeQuotes(root) {
    const quotes = [
        ['A longer quote that runs on for a while so that it takes more than one line in a window of this size, ' +
            'wrapped by the renderer where the words allow it and nowhere else', [5]],
        ['Tagged with everything there is', [1, 2, 3, 4, 5]],
        ['No tags on this one', []],
        ['Three&#10;short&#10;lines', [2, 3]],
        ['A short quote, shown on top', [1]],
    ];
    let xml = '<?xml version="1.0" encoding="UTF-8"?>\n<quotes>\n';
    quotes.forEach(([text, tags], i) => {
        xml += `<quote id="${i + 1}" text="${text}">${tags.map((t) => `<tag id="${t}"/>`).join('')}</quote>\n`;
    });
    fs.writeFileSync(path.join(root, 'share', 'Hoardly', 'defaultquotes.xml'), xml + '</quotes>\n');
}

const quoteCount = async (s) => (await s.view.all('#thequotelist .quote')).length;
const popupId = async (s) => ((await s.view.popup()) || {}).id;

// Each state is entered from the first window and left back to it. `enter`
// returns once the window shows the state.
const tipStates = [
    {name: 'first', async enter() {}},
    {
        name: 'tag-search',
        async enter(s, base) {
            click(s, await centreOf(s, '#taglist .vtag', 'Capture'), '1', 2);
            await waitFor('the search by Capture', async () =>
                (await s.view.all('#p-searchbar .stag')).length === 1 && (await quoteCount(s)) < base.quotes);
        },
        async leave(s, base) {
            click(s, await centreOf(s, '#clear-search'));
            await waitFor('every quote again', async () =>
                (await s.view.all('#p-searchbar .stag')).length === 0 && (await quoteCount(s)) === base.quotes);
        },
    },
    {
        name: 'find-text',
        async enter(s, base) {
            click(s, await centreOf(s, '#find-text'));
            await waitFor('the find field focused', async () => ((await s.view.focused()) || {}).id === 'find-text');
            x(['xdotool', 'type', '--delay', '20', 'drag'], s.env);
            await waitFor('the quotes holding "drag"', async () =>
                (await s.view.first('#find-text')).text === 'drag' && (await quoteCount(s)) < base.quotes &&
                (await s.view.all('#thequotelist mark')).length > 0);
        },
        async leave(s, base) {
            x(['xdotool', 'key', 'Escape'], s.env);
            await waitFor('every quote again', async () => (await quoteCount(s)) === base.quotes);
        },
    },
    {
        name: 'quote-menu',
        async enter(s) {
            click(s, await centreOf(s, '#thequotelist .quote td.text'), '3');
            await waitFor('the quote menu', async () => (await popupId(s)) === 'quote-menu');
        },
        async leave(s) {
            x(['xdotool', 'key', 'Escape'], s.env);
            await waitFor('the menu closed', async () => !(await s.view.popup()));
        },
    },
];
const madeStates = [
    {name: 'first', async enter() {}},
    {
        name: 'manage-menu',
        async enter(s) {
            click(s, await centreOf(s, '#thequotelist .quote button.managetags'));
            await waitFor('the manage menu', async () => (await popupId(s)) === 'manage-tags');
        },
        async leave(s) {
            x(['xdotool', 'key', 'Escape'], s.env);
            await waitFor('the menu closed', async () => !(await s.view.popup()));
        },
    },
];
const scenarios = [
    {name: 'tips', states: tipStates},
    {name: 'made', prepare: madeQuotes, states: madeStates},
];

// One renderer through a scenario's states: the regions and a screenshot of each.
async function walk(scenario, renderer) {
    const s = await openSession({work, name: `${scenario.name}-${renderer}`, program, baseEnv, puppeteer, renderer,
        prepare: scenario.prepare});
    try {
        await waitFor('the window', () => mainWindows(s.env).length === 1);
        // The native quote pane shows no scroll bar (its list scrolls by rows of its
        // own); the web page's takes 15 pixels of the rows' width, so that their
        // texts wrap elsewhere. The web page's is hidden here, to compare the rest.
        if (s.page) await s.page.addStyleTag({content: '#quotepane::-webkit-scrollbar { display: none; }'});
        await settled(s);
        const base = {quotes: await quoteCount(s)};
        const reads = {};
        for (const state of scenario.states) {
            await state.enter(s, base);
            reads[state.name] = await settled(s);
            reads[state.name].shot = path.join(work, `${scenario.name}-${state.name}-${renderer}.png`);
            await s.view.screenshot(reads[state.name].shot);
            if (state.leave) await state.leave(s, base);
        }
        return reads;
    } finally {
        s.disconnect();
        s.process.kill('SIGTERM');
        await exitCode(s.process, 15000);
        await waitFor('the window gone', () => mainWindows(baseEnv).length === 0);
    }
}

for (const scenario of scenarios) {
    const reads = {};
    for (const renderer of ['web', 'native']) {
        await check(`${scenario.name}: the ${renderer} window through its states`, async () => {
            reads[renderer] = await walk(scenario, renderer);
        });
    }
    if (!reads.web || !reads.native) continue;
    for (const state of scenario.states) {
        const [web, native] = [reads.web[state.name], reads.native[state.name]];
        await check(`${scenario.name} ${state.name}: both windows side by side in one picture`, async () => {
            const file = path.join(artifacts, `compare-${scenario.name}-${state.name}.png`);
            const made = spawnSync(sideBySideProgram, [web.shot, 'web (no scroll bar)', native.shot, 'native', file],
                {encoding: 'utf8', timeout: 30000});
            expect(made.status === 0, `the side-by-side picture: ${made.stderr}`);
            expect(fs.statSync(file).size > 1000, 'a real picture');
            console.log(`Picture: ${file}`);
        });
        await check(`${scenario.name} ${state.name}: the native window lays out what the web one does`, async () => {
            const problems = [...shapeProblems(web, 'web'), ...shapeProblems(native, 'native')];
            const result = compareReads(web, native);
            problems.push(...result.problems);
            console.log(`${scenario.name} ${state.name}: ${result.count} regions compared, largest offset ` +
                `${result.largest.by} px (${result.largest.what}); by kind ` +
                Object.entries(result.largestOf).map(([kind, by]) => `${kind} ${by}`).join(', ') +
                (result.edgeRows.length ? `, rows at the pane's edge left out: ${result.edgeRows.join(' ')}` : ''));
            expect(problems.length === 0, `${problems.length} difference(s):\n  ${problems.join('\n  ')}`);
        });
    }
}

if (failures()) {
    console.log(`${failures()} check(s) failed; the pictures are in ${artifacts}, the sessions in ${work}`);
} else {
    fs.rmSync(work, {recursive: true, force: true});
}
process.exit(failures() ? 1 : 0);
