// Shows Hoardly's document in this page and sends the user's input back.
//
// The program owns the document; this page only mirrors it. Every change arrives
// as a JSON record over the web channel and is applied here with createElement,
// setAttribute and text nodes: markup is never parsed, so no text of the
// collection can become a script. The program already leaves out what could run
// script; the same rules are checked again here in case a record slips through.
'use strict';

(function () {
    const nodes = new Map();       // serial -> DOM node
    const serials = new WeakMap(); // DOM node -> serial
    const mirrored = new WeakSet(); // head children that came from the document
    let bridge = null;

    const refusedTags = new Set(['script', 'iframe', 'frame', 'frameset', 'object', 'embed',
        'applet', 'base', 'meta', 'portal', 'fencedframe', 'noscript']);
    const linkAttributes = new Set(['href', 'cite', 'action', 'formaction']);
    const loadAttributes = new Set(['src', 'srcset', 'xlink:href', 'background', 'poster', 'data',
        'ping', 'codebase', 'lowsrc', 'dynsrc', 'manifest']);

    // A link may lead to the web or to mail; what the page loads comes from us only.
    function safeUrl(value, loads) {
        let scheme = '';
        for (const c of value) {
            if (c <= ' ') continue;
            if (c === ':') {
                scheme = scheme.toLowerCase();
                return scheme === 'hoardly' ||
                    (!loads && (scheme === 'http' || scheme === 'https' || scheme === 'mailto'));
            }
            if (c === '/' || c === '?' || c === '#') return true;
            scheme += c;
        }
        return true;
    }

    function safeAttribute(name, value) {
        const key = name.toLowerCase();
        if (key === '' || key.startsWith('on') || key === 'srcdoc' || key === 'data-state' ||
            key === 'data-popup') {
            return false;
        }
        if (linkAttributes.has(key)) return safeUrl(value, false);
        return !loadAttributes.has(key) || safeUrl(value, true);
    }

    // ---- Building -----------------------------------------------------------

    function remember(serial, node) {
        nodes.set(serial, node);
        serials.set(node, serial);
    }

    function forget(root) {
        const serial = serials.get(root);
        if (serial !== undefined) nodes.delete(serial);
        if (root.nodeType !== Node.ELEMENT_NODE) return;
        const walker = document.createTreeWalker(root, NodeFilter.SHOW_ALL);
        for (let n = walker.nextNode(); n; n = walker.nextNode()) {
            const s = serials.get(n);
            if (s !== undefined) nodes.delete(s);
        }
    }

    function setAttribute(element, name, value) {
        if (value === null || value === undefined || !safeAttribute(name, value)) {
            element.removeAttribute(name);
            return;
        }
        try {
            element.setAttribute(name, value);
        } catch (e) {
            // A name the page cannot carry: left out.
        }
    }

    function setState(element, names) {
        if (names) element.setAttribute('data-state', names);
        else element.removeAttribute('data-state');
    }

    // One described node with everything below it; null for what the page must not have.
    function build(description) {
        if (description.x !== undefined) {
            const text = document.createTextNode(description.x);
            remember(description.s, text);
            return text;
        }
        if (!description.t || refusedTags.has(description.t.toLowerCase())) return null;
        let element;
        try {
            element = document.createElement(description.t);
        } catch (e) {
            return null;
        }
        fill(element, description);
        return element;
    }

    function fill(element, description) {
        remember(description.s, element);
        for (const [name, value] of description.a || []) setAttribute(element, name, value);
        if (description.st) setState(element, description.st);
        for (const [name, value] of description.y || []) element.style.setProperty(name, value);
        for (const child of description.c || []) {
            const built = placeable(element, child);
            if (built) element.appendChild(built);
        }
    }

    // The document's html, head and body become the page's own: the renderer's
    // script and sheet stay in the head, the document's content joins them.
    function placeable(parent, description) {
        const tag = (description.t || '').toLowerCase();
        if (parent === document.documentElement && (tag === 'head' || tag === 'body')) {
            fill(tag === 'head' ? document.head : document.body, description);
            return null;
        }
        const built = build(description);
        if (built && parent === document.head) mirrored.add(built);
        return built;
    }

    function insert(record) {
        let parent;
        if (record.parent === 1) {
            // Top level: the document's html element is the page's.
            for (const description of record.nodes) {
                const tag = (description.t || '').toLowerCase();
                if (tag === 'html') fill(document.documentElement, description);
                else if (tag === 'head' || tag === 'body') placeable(document.documentElement, description);
                else if (description.t) {
                    const built = build(description);
                    if (built) document.body.appendChild(built);
                }
            }
            return;
        }
        parent = nodes.get(record.parent);
        if (!parent) return;
        const before = record.before ? nodes.get(record.before) : null;
        const fragment = document.createDocumentFragment();
        for (const description of record.nodes) {
            const built = placeable(parent, description);
            if (built) fragment.appendChild(built);
        }
        parent.insertBefore(fragment, before && before.parentNode === parent ? before : null);
    }

    function isPageRoot(node) {
        return node === document.documentElement || node === document.head || node === document.body;
    }

    function clearChildren(element) {
        for (const child of Array.from(element.childNodes)) {
            if (element === document.head && !mirrored.has(child)) continue;
            forget(child);
            child.remove();
        }
    }

    function removeNode(node) {
        if (isPageRoot(node)) {
            clearChildren(node);
            return;
        }
        const serial = serials.get(node);
        if (windows.has(serial)) dropRoom(serial);
        forget(node);
        node.remove();
    }

    function reset() {
        clearChildren(document.head);
        clearChildren(document.body);
        for (const root of [document.documentElement, document.body]) {
            for (const name of root.getAttributeNames()) root.removeAttribute(name);
        }
        nodes.clear();
        windows.clear();
    }

    function reorder(parent, order) {
        const moving = order.map((serial) => nodes.get(serial)).filter((n) => n && n.parentNode === parent);
        const markers = moving.map((n) => {
            const marker = document.createComment('');
            n.replaceWith(marker);
            return marker;
        });
        // The moved children take the places they held, in the new order.
        markers.sort((a, b) => (a.compareDocumentPosition(b) & Node.DOCUMENT_POSITION_FOLLOWING ? -1 : 1));
        markers.forEach((marker, i) => marker.replaceWith(moving[i]));
    }

    function showPopup(popup, record) {
        popup.setAttribute('data-popup', 'open');
        const anchor = record.anchor ? nodes.get(record.anchor) : null;
        let x = record.x - window.scrollX;
        let y = record.y - window.scrollY;
        if (anchor && anchor.getBoundingClientRect) {
            const box = anchor.getBoundingClientRect();
            x = box.left;
            y = box.bottom;
        }
        popup.style.setProperty('left', x + 'px', 'important');
        popup.style.setProperty('top', y + 'px', 'important');
        // Kept inside the window.
        const box = popup.getBoundingClientRect();
        if (box.right > window.innerWidth) x = Math.max(0, window.innerWidth - box.width);
        if (box.bottom > window.innerHeight) {
            y = anchor ? Math.max(0, anchor.getBoundingClientRect().top - box.height)
                       : Math.max(0, window.innerHeight - box.height);
        }
        popup.style.setProperty('left', x + 'px', 'important');
        popup.style.setProperty('top', y + 'px', 'important');
    }

    function hidePopup(popup) {
        popup.removeAttribute('data-popup');
        popup.style.removeProperty('left');
        popup.style.removeProperty('top');
    }

    // ---- Windowed lists -----------------------------------------------------
    //
    // A long list holds only the rows near the view; the span
    // record says how many rows stand before and after them. That room is kept
    // by two spacers beside the list, at the height a shown row has, so the scroll
    // bar tells the truth about the whole list. Spacers, not margins of the list:
    // the browser keeps the rows in view steady when something above them changes
    // size, but not when a style of their own list changes. When the view moves
    // past the rows held, the page asks for the rows that belong there.

    const windows = new Map();      // serial -> {above, below, unit, asked}
    const overscan = 12;            // rows held beyond each edge of the view
    const slack = 3;                // rows of margin before asking again
    const maxRoom = 15000000;       // px: well within what the browser lays out
    let touchedWindows = new Set();

    function applySpan(list, record) {
        // When the first rows and the whole length arrived, for measurements.
        const now = performance.timeOrigin + performance.now();
        const total = record.above + list.children.length + record.below;
        const facts = window.hoardlyRenderer;
        if (!facts.firstRowsAt && list.children.length > 0) facts.firstRowsAt = now;
        if (total !== facts.lastLength) {
            facts.lastLength = total;
            facts.lastLengthAt = now;
            window.requestAnimationFrame(() => {
                facts.lastLengthFrameAt = performance.timeOrigin + performance.now();
            });
        }
        const info = windows.get(record.node) || {unit: 0, asked: ''};
        info.above = record.above;
        info.below = record.below;
        windows.set(record.node, info);
        touchedWindows.add(record.node);
        if (record.top) {
            const scroller = scrollerFor(list, info);
            if (scroller) scroller.scrollTop = 0;
            info.asked = '';
        }
    }

    function scrollerOf(element) {
        for (let e = element.parentElement; e; e = e.parentElement) {
            const overflow = getComputedStyle(e).overflowY;
            if (overflow === 'auto' || overflow === 'scroll') return e;
        }
        return document.scrollingElement;
    }

    // The list's scroller, found once: checked on every scrolled frame, it must not
    // cost a style lookup per ancestor each time.
    function scrollerFor(list, info) {
        if (!info.scroller || !info.scroller.contains(list)) info.scroller = scrollerOf(list);
        return info.scroller;
    }

    // The usual height of a row: the median, so one long clip does not stretch the room.
    function rowHeight(list, info) {
        const heights = [];
        for (const row of list.children) {
            const h = row.getBoundingClientRect().height;
            if (h > 0) heights.push(h);
        }
        if (heights.length === 0) return info.unit || 100;
        heights.sort((a, b) => a - b);
        return heights[heights.length >> 1];
    }

    function layoutRoom(serial) {
        const list = nodes.get(serial);
        const info = windows.get(serial);
        if (!list || !info || !list.isConnected) {
            dropRoom(serial);
            return;
        }
        const total = info.above + list.children.length + info.below;
        info.height = rowHeight(list, info);
        info.unit = Math.min(info.height, maxRoom / Math.max(1, total));
        if (!info.spacers) {
            info.spacers = [document.createElement('div'), document.createElement('div')];
            for (const spacer of info.spacers) spacer.className = 'hoardly-room';
        }
        const [above, below] = info.spacers;
        if (list.previousSibling !== above) list.before(above);
        if (list.nextSibling !== below) list.after(below);
        above.style.height = (info.above * info.unit) + 'px';
        below.style.height = (info.below * info.unit) + 'px';
    }

    function dropRoom(serial) {
        const info = windows.get(serial);
        if (info && info.spacers) for (const spacer of info.spacers) spacer.remove();
        windows.delete(serial);
    }

    // Asks for the rows the view shows now when the page does not hold them.
    function checkWindow(serial) {
        const list = nodes.get(serial);
        const info = windows.get(serial);
        if (!bridge || !list || !info || !info.unit || !list.isConnected) return;
        const scroller = scrollerFor(list, info);
        const view = scroller === document.scrollingElement
            ? {top: 0, bottom: window.innerHeight}
            : scroller.getBoundingClientRect();
        const box = list.getBoundingClientRect();
        if (box.width === 0 && box.height === 0 && list.children.length > 0) return; // not shown
        const rows = list.children;
        const unit = info.unit;
        let first;
        if (view.top < box.top || rows.length === 0) {
            first = Math.floor((view.top - (box.top - info.above * unit)) / unit);
        } else if (view.top < box.bottom) {
            first = info.above + rows.length - 1;
            for (let i = 0; i < rows.length; i++) {
                if (rows[i].getBoundingClientRect().bottom > view.top) {
                    first = info.above + i;
                    break;
                }
            }
        } else {
            first = info.above + rows.length + Math.floor((view.top - box.bottom) / unit);
        }
        const total = info.above + rows.length + info.below;
        first = Math.max(0, Math.min(first, total - 1));
        const visible = Math.ceil((view.bottom - view.top) / Math.max(8, info.height)) + 1;
        const needFirst = Math.max(0, first - slack);
        const needEnd = Math.min(total, first + visible + slack);
        if (needFirst >= info.above && needEnd <= info.above + rows.length) return;
        const askFirst = Math.max(0, first - overscan);
        const askCount = visible + 2 * overscan;
        const asked = askFirst + ',' + askCount;
        if (asked === info.asked) return;  // on its way
        info.asked = asked;
        bridge.window(serial, askFirst, askCount);
    }

    let windowCheckPending = false;
    function scheduleWindowCheck() {
        if (windowCheckPending || windows.size === 0) return;
        windowCheckPending = true;
        window.requestAnimationFrame(() => {
            windowCheckPending = false;
            for (const serial of windows.keys()) checkWindow(serial);
        });
    }

    function apply(record) {
        if (record.op === 'reset') return reset();
        if (record.op === 'insert') return insert(record);
        const node = nodes.get(record.node);
        if (!node) return;
        switch (record.op) {
        case 'remove': return removeNode(node);
        case 'clear': return clearChildren(node);
        case 'attr': return setAttribute(node, record.name, record.value);
        case 'state': return setState(node, record.state);
        case 'text':
            clearChildren(node);
            if (record.value !== '') {
                const text = document.createTextNode(record.value);
                remember(record.serial, text);
                node.appendChild(text);
            }
            return;
        case 'style':
            if (record.value === null) node.style.removeProperty(record.name);
            else node.style.setProperty(record.name, record.value);
            return;
        case 'reorder': return reorder(node, record.order);
        case 'popup': return showPopup(node, record);
        case 'unpopup': return hidePopup(node);
        case 'reveal':
            node.scrollIntoView({block: record.top ? 'start' : 'nearest',
                behavior: record.smooth ? 'smooth' : 'auto'});
            return;
        case 'span': return applySpan(node, record);
        case 'scroll':
            node.scrollTo({left: record.x, top: record.y, behavior: record.smooth ? 'smooth' : 'auto'});
            return;
        }
    }

    function onBatch(batch) {
        const records = JSON.parse(batch);
        // Room is laid out before any reveal, so a revealed row lands in its place.
        const reveals = [];
        for (const record of records) {
            try {
                if (record.op === 'reveal') reveals.push(record);
                else apply(record);
            } catch (e) {
                console.error('Hoardly renderer: ' + record.op + ': ' + e);
            }
        }
        for (const serial of touchedWindows) layoutRoom(serial);
        touchedWindows = new Set();
        for (const record of reveals) {
            try {
                apply(record);
            } catch (e) {
                console.error('Hoardly renderer: reveal: ' + e);
            }
        }
        scheduleWindowCheck();
        window.hoardlyRenderer.batches += 1;
    }

    // ---- Input --------------------------------------------------------------

    const mouse = {enter: 0, leave: 1, move: 2, up: 3, down: 4, doubleClick: 5};
    const button = [1, 4, 2]; // DOM button -> main, middle, secondary

    function serialOf(target) {
        for (let n = target; n; n = n.parentNode) {
            const serial = serials.get(n);
            if (serial !== undefined) return serial;
        }
        return 0;
    }

    function keyStates(event) {
        return (event.ctrlKey ? 1 : 0) | (event.shiftKey ? 2 : 0) | (event.altKey ? 4 : 0);
    }

    function box(element) {
        const r = element.getBoundingClientRect();
        const x = window.scrollX;
        const y = window.scrollY;
        return [serials.get(element), Math.round(r.left + x), Math.round(r.top + y),
            Math.round(r.right + x), Math.round(r.bottom + y)];
    }

    function scrollFacts(element) {
        return [serials.get(element), Math.round(element.scrollLeft), Math.round(element.scrollTop),
            element.clientWidth, element.clientHeight, element.scrollWidth, element.scrollHeight];
    }

    // The boxes the behaviors may measure around the pointer: the target and its
    // ancestors with their siblings (in short lists), and the scroll facts of
    // every scrolled ancestor.
    function factsAround(target) {
        const boxes = [];
        const scroll = [];
        for (let e = target instanceof Element ? target : target && target.parentElement; e;
            e = e.parentElement) {
            if (serials.has(e)) boxes.push(box(e));
            const parent = e.parentElement;
            if (parent && parent.childElementCount <= 64) {
                for (const sibling of parent.children) {
                    if (sibling !== e && serials.has(sibling)) boxes.push(box(sibling));
                }
            }
            if (serials.has(e) && (e.scrollHeight > e.clientHeight || e.scrollWidth > e.clientWidth)) {
                scroll.push(scrollFacts(e));
            }
        }
        return JSON.stringify({boxes: boxes, scroll: scroll});
    }

    function sendMouse(event, cmd, buttons, withFacts) {
        if (!bridge) return;
        bridge.mouse(serialOf(event.target), cmd, Math.round(event.pageX), Math.round(event.pageY),
            buttons, keyStates(event), withFacts ? factsAround(event.target) : '');
    }

    let pendingMove = null;
    function onMouseMove(event) {
        // One move per frame is all the behaviors can use.
        if (pendingMove === null) {
            window.requestAnimationFrame(() => {
                const e = pendingMove;
                pendingMove = null;
                sendMouse(e, mouse.move, e.buttons & 7, e.buttons !== 0);
            });
        }
        pendingMove = event;
    }

    function onKey(event, cmd) {
        if (!bridge || event.isComposing) return;
        bridge.key(cmd, event.keyCode, keyStates(event));
        // A printable key's value is one character, which may take two UTF-16 units;
        // named keys are longer, even the two-letter ones "F1" to "F9".
        if (cmd === 0 && [...event.key].length === 1 && !event.ctrlKey && !event.altKey && !event.metaKey) {
            // Its UTF-16 units follow as characters.
            for (let i = 0; i < event.key.length; i++) bridge.key(2, event.key.charCodeAt(i), keyStates(event));
        }
        // Keys the page would act on itself (history, focus moves, scrolling by
        // space) belong to the document; arrows and page keys still scroll. So does
        // the copy key: the document copies what is selected in it, and the page's
        // own copy of the text under the mouse (a Shift+click marks some) would
        // take the clipboard after it.
        const own = ['Backspace', 'Tab', 'Enter', 'Escape', ' ', 'F1', 'F3', 'F5', 'F6', 'F7', 'F12'];
        if (own.includes(event.key) || (event.ctrlKey && 'acfpsr'.includes(event.key.toLowerCase())) ||
            (event.ctrlKey && event.key === 'Insert')) {
            event.preventDefault();
        }
    }

    function focusedElement() {
        for (const e of document.querySelectorAll('[data-state~="focus"]')) return e;
        return null;
    }

    function listen() {
        const options = {capture: true};
        document.addEventListener('mousedown', (e) => sendMouse(e, mouse.down, button[e.button] || 1, true), options);
        document.addEventListener('mouseup', (e) => sendMouse(e, mouse.up, button[e.button] || 1, true), options);
        document.addEventListener('dblclick', (e) => sendMouse(e, mouse.doubleClick, button[e.button] || 1, true), options);
        document.addEventListener('mousemove', onMouseMove, options);
        document.addEventListener('mouseover', (e) => sendMouse(e, mouse.enter, e.buttons & 7, false), options);
        document.addEventListener('mouseout', (e) => sendMouse(e, mouse.leave, e.buttons & 7, false), options);
        document.addEventListener('contextmenu', (e) => e.preventDefault(), options);
        document.addEventListener('dragstart', (e) => e.preventDefault(), options);
        document.addEventListener('keydown', (e) => onKey(e, 0), options);
        document.addEventListener('keyup', (e) => onKey(e, 1), options);
        document.addEventListener('compositionend', (e) => {
            for (let i = 0; bridge && i < e.data.length; i++) bridge.key(2, e.data.charCodeAt(i), 0);
        }, options);
        document.addEventListener('paste', (e) => {
            e.preventDefault();
            const target = focusedElement();
            const text = e.clipboardData ? e.clipboardData.getData('text/plain') : '';
            // Pasted over a selected name, the text replaces it.
            const kept = target && target.hasAttribute('all-selected') ? '' : (target ? target.textContent : '');
            if (bridge && target && text) bridge.text(serials.get(target), kept + text);
        }, options);
        let scrolled = null;
        window.addEventListener('resize', scheduleWindowCheck);
        document.addEventListener('scroll', (e) => {
            scheduleWindowCheck();
            if (!serials.has(e.target)) return;
            if (scrolled === null) {
                window.requestAnimationFrame(() => {
                    const target = scrolled;
                    scrolled = null;
                    if (bridge && serials.has(target)) {
                        bridge.facts(JSON.stringify({boxes: [box(target)], scroll: [scrollFacts(target)]}));
                    }
                });
            }
            scrolled = e.target;
        }, options);
    }

    // For tests and for a look from the developer tools: read-only facts.
    window.hoardlyRenderer = {ready: false, batches: 0, nodeCount: () => nodes.size,
        windowOf: (element) => {
            const info = windows.get(serials.get(element));
            return info ? {above: info.above, rows: element.children.length, below: info.below} : null;
        }};

    document.addEventListener('DOMContentLoaded', () => {
        listen();
        new QWebChannel(qt.webChannelTransport, (channel) => {
            bridge = channel.objects.hoardly;
            bridge.patches.connect(onBatch);
            bridge.page_ready();
            window.hoardlyRenderer.ready = true;
        });
    });
})();
