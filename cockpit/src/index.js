// Vantor in Cockpit: the sessions other computers hold on this machine's shares, from vantord on
// the system bus. Every call goes through cockpit.dbus as the logged-in user, so polkit decides
// what the page may see and do, exactly as for the desktop.
/* global cockpit */
import { el, esc, formatTime, formatDuration, absent, sortRows, insertSorted, matches } from "./util.js";

const NAME = "org.vantor.Monitor1";
const PATH = "/org/vantor/Monitor";
const IFACE = "org.vantor.Monitor1";
const NOT_AUTHORIZED = "org.vantor.Monitor1.Error.NotAuthorized";
const ANY = "<Any>";
const HISTORY_PAGE = 100;
const HISTORY_FILES = 500;

// --- the theme Cockpit's shell chose (or the browser's, on "auto") ------------------------------
function applyTheme(style) {
    style = style || localStorage.getItem("shell:style") || "auto";
    const dark = style === "dark" || (style === "auto" && window.matchMedia("(prefers-color-scheme: dark)").matches);
    document.documentElement.classList.toggle("pf-v6-theme-dark", dark);
}
applyTheme();
window.addEventListener("storage", ev => { if (ev.key === "shell:style") applyTheme(); });
window.addEventListener("cockpit-style", ev => applyTheme(ev.detail && ev.detail.style));
window.matchMedia("(prefers-color-scheme: dark)").addEventListener("change", () => applyTheme());

// --- the bus ---------------------------------------------------------------------------------------
let client = null;
function call(method, args = [], type = undefined) {
    const options = type !== undefined ? { type } : {};
    return client.call(PATH, IFACE, method, args, options);
}

// What a failed call means to the user: a refusal is the one line polkit's decision asks for.
function problemText(err) {
    if (!err)
        return "Unknown error";
    if (err.name === "org.freedesktop.DBus.Error.ServiceUnknown" || err.name === "org.freedesktop.DBus.Error.NameHasNoOwner" ||
        err.problem === "not-found")
        return "The Vantor service (vantord) is not running: ask the administrator to start it (systemctl start vantord).";
    return err.message || err.problem || String(err);
}

// --- state -------------------------------------------------------------------------------------------
const state = {
    sessions: [], // {user, computer, files, connected, idle, shares, dialect, encryption, signing, pid, uid}
    byKey: new Map(), // the same by keyOf
    version: "", // the service's version of the table the page holds
    shown: [],
    sort: { key: "user", descending: false },
    filter: "",
    selected: null, // "user\ncomputer"
    files: [],
    allFiles: [],
    refused: null,
    running: null,
    // Since the service told of a new user: the users the page knew then, and the fetches asked by then.
    newUser: null,
    fetches: 0,
    notify: localStorage.getItem("vantor:notify") === "1",
    history: { query: {}, offset: 0, total: 0, rows: [], selected: null, sort: null, descending: true },
    renderedAt: 0,
};
const keyOf = s => s.user + "\n" + s.computer;

// --- the frame -----------------------------------------------------------------------------------------
const app = document.getElementById("app");
const ui = {};

function button(text, kind, onClick, extra = {}) {
    const b = el("button", { class: "pf-v6-c-button pf-m-" + kind, type: "button", ...extra },
                 el("span", { class: "pf-v6-c-button__text" }, text));
    b.addEventListener("click", onClick);
    return b;
}

function textInput(attrs) {
    const input = el("input", { type: "text", ...attrs });
    return { box: el("span", { class: "pf-v6-c-form-control" }, input), input };
}

function selectInput(options, attrs = {}, narrow = false) {
    const select = el("select", attrs, ...options.map(([value, text]) => el("option", { value }, text)));
    return { box: el("span", { class: "pf-v6-c-form-control" + (narrow ? " vt-narrow" : "") }, select), select };
}

function setLabel(label, color, text) {
    label.className = "pf-v6-c-label pf-m-compact pf-m-" + color;
    label.replaceChildren(el("span", { class: "pf-v6-c-label__content" }, el("span", { class: "pf-v6-c-label__text" }, text)));
}

const ALERT_ICONS = { danger: "!", warning: "!", success: "✓", info: "i" };

function alertLine(kind) {
    return el("div", { class: "vt-notice", role: kind === "danger" ? "alert" : "status", "aria-live": "polite" });
}

function showAlert(box, kind, text) {
    box.replaceChildren();
    clearTimeout(box.vtTimer);
    if (!text)
        return;
    // What went well is said for a while; what went wrong stays until the next thing is said.
    if (kind === "success" || kind === "info")
        box.vtTimer = setTimeout(() => box.replaceChildren(), 10000);
    box.append(el("div", { class: "pf-v6-c-alert pf-m-inline pf-m-" + kind },
                  el("div", { class: "pf-v6-c-alert__icon vt-alert-icon", "aria-hidden": "true" }, ALERT_ICONS[kind] || "i"),
                  el("p", { class: "pf-v6-c-alert__title" }, text)));
}

// A table whose header buttons sort it; `columns` are [key, title, wide].
function tableHead(columns, sortState, onSort) {
    const tr = el("tr", { class: "pf-v6-c-table__tr", role: "row" });
    for (const [key, title, wide] of columns) {
        const th = el("th", { class: "pf-v6-c-table__th pf-v6-c-table__sort" + (wide ? " vt-wide" : ""), scope: "col", role: "columnheader" });
        if (onSort) {
            const current = sortState && sortState.key === key;
            th.setAttribute("aria-sort", current ? (sortState.descending ? "descending" : "ascending") : "none");
            const b = el("button", { class: "vt-sort", type: "button" }, title + (current ? (sortState.descending ? " ▼" : " ▲") : ""));
            b.addEventListener("click", () => onSort(key));
            th.append(b);
        } else {
            th.textContent = title;
        }
        tr.append(th);
    }
    return el("thead", { class: "pf-v6-c-table__thead" }, tr);
}

function table(label, compact = true) {
    const t = el("table", { class: "pf-v6-c-table pf-m-grid-md" + (compact ? " pf-m-compact" : ""), role: "grid", "aria-label": label });
    const body = el("tbody", { class: "pf-v6-c-table__tbody", role: "rowgroup" });
    t.append(el("thead"), body);
    return { table: t, body };
}

// Rows are written as one HTML text: at ten thousand sessions that is several times faster than
// a node at a time. Every text goes through esc().
function cells(columns, values) {
    let html = "";
    for (let i = 0; i < columns.length; ++i) {
        const [, title, wide] = columns[i];
        html += '<td class="pf-v6-c-table__td' + (wide ? " vt-wide" : "") + '" role="gridcell" data-label="' + esc(title) + '">' +
            esc(values[i]) + "</td>";
    }
    return html;
}

// Up and down move the selection, Home and End jump, Enter or a click selects.
function rowKeys(body, onSelect, onDelete, count = () => body.querySelectorAll("tr[data-i]").length) {
    body.addEventListener("click", ev => {
        const tr = ev.target.closest("tr[data-i]");
        if (tr && !ev.target.closest("button"))
            onSelect(Number(tr.dataset.i), true);
    });
    body.addEventListener("keydown", ev => {
        const tr = ev.target.closest("tr[data-i]");
        if (!tr)
            return;
        const rows = count();
        let i = Number(tr.dataset.i);
        if (ev.key === "ArrowDown") i = Math.min(i + 1, rows - 1);
        else if (ev.key === "ArrowUp") i = Math.max(i - 1, 0);
        else if (ev.key === "PageDown") i = Math.min(i + 10, rows - 1);
        else if (ev.key === "PageUp") i = Math.max(i - 10, 0);
        else if (ev.key === "Home") i = 0;
        else if (ev.key === "End") i = rows - 1;
        else if (ev.key === "Enter" || ev.key === " ") { onSelect(i, true); ev.preventDefault(); return; }
        else if (ev.key === "Delete" && onDelete) { onDelete(i); ev.preventDefault(); return; }
        else return;
        ev.preventDefault();
        onSelect(i, true);
    });
}

function focusRow(body, i, focus) {
    for (const tr of body.querySelectorAll('tr[aria-selected="true"]')) {
        tr.setAttribute("aria-selected", "false");
        tr.tabIndex = -1;
    }
    const tr = body.querySelector('tr[data-i="' + i + '"]');
    if (!tr)
        return;
    tr.setAttribute("aria-selected", "true");
    tr.tabIndex = 0;
    if (focus) {
        tr.focus({ preventScroll: true });
        tr.scrollIntoView({ block: "nearest" });
    }
}

// --- sessions -----------------------------------------------------------------------------------------
const SESSION_COLUMNS = [
    ["user", "User"], ["computer", "Computer"], ["files", "Open files"], ["connected", "Connected", true],
    ["idle", "Idle", true], ["shares", "Shares"], ["dialect", "Protocol", true], ["encryption", "Encryption", true],
    ["signing", "Signing", true], ["pid", "Process", true], ["uid", "UID", true],
];
const FILE_COLUMNS = [
    ["path", "Path"], ["share", "Share"], ["access", "Access"], ["deny", "Deny", true], ["oplock", "Oplock", true],
    ["locks", "Locks", true], ["opened", "Opened", true],
];
const ALL_FILE_COLUMNS = [["user", "User"], ["computer", "Computer"], ...FILE_COLUMNS];

function sessionFromBus([user, computer, files, d]) {
    const [connected, idle, shares, dialect, encryption, signing, pid, uid] = d;
    return {
        user, computer, files,
        connected: absent(connected) ? null : connected, idle: absent(idle) ? null : idle, shares: shares.join(", "),
        dialect, encryption, signing, pid: absent(pid) ? "" : String(pid), uid: absent(uid) ? "" : String(uid),
    };
}

function fileDetails(d) {
    const [share, relative, read, write, deny, oplock, locks, opened] = d;
    return {
        share, relative, access: [read ? "read" : "", write ? "write" : ""].filter(Boolean).join(", "), deny, oplock,
        locks: absent(locks) ? "" : String(locks), opened: absent(opened) ? null : opened,
    };
}

// The table holds only the rows in sight and a few beyond, between two spacers as tall as the rest:
// ten thousand sessions draw as fast as forty, where the browser alone needs seconds for them all.
const OVERSCAN = 20;
let rowHeight = 0;

function sessionRow(s, i) {
    const selected = state.selected === keyOf(s);
    return '<tr class="pf-v6-c-table__tr" role="row" data-i="' + i + '" aria-rowindex="' + (i + 2) + '" tabindex="' +
        (selected || (i === 0 && !state.selected) ? 0 : -1) + '" aria-selected="' + selected + '">' +
        cells(SESSION_COLUMNS, [s.user, s.computer, s.files, formatTime(s.connected), s.idle === null ? "" : formatDuration(s.idle),
                                s.shares, s.dialect, s.encryption, s.signing, s.pid, s.uid]) + "</tr>";
}

function spacer(height) {
    const td = el("td", { colspan: String(SESSION_COLUMNS.length), class: "vt-spacer" });
    td.style.height = height + "px";
    return el("tr", { "aria-hidden": "true", class: "vt-spacer" }, td);
}

function drawSessions() {
    const rows = state.shown;
    const box = ui.sessionsScroll;
    const body = ui.sessions.body;
    const focused = document.activeElement && body.contains(document.activeElement);
    const height = rowHeight || 40;
    const inSight = Math.ceil((box.clientHeight || 600) / height);
    const first = Math.max(0, Math.floor(box.scrollTop / height) - OVERSCAN);
    const last = Math.min(rows.length, first + inSight + 2 * OVERSCAN);
    let html = "";
    for (let i = first; i < last; ++i)
        html += sessionRow(rows[i], i);
    body.innerHTML = html;
    body.prepend(spacer(first * height));
    body.append(spacer((rows.length - last) * height));
    const drawn = body.querySelector("tr[data-i]");
    if (drawn && drawn.offsetHeight && drawn.offsetHeight !== rowHeight) {
        rowHeight = drawn.offsetHeight;
        return drawSessions();
    }
    if (focused) {
        const selected = body.querySelector('tr[aria-selected="true"]');
        if (selected)
            selected.focus({ preventScroll: true });
    }
}

// Scrolls the table so that row i is in sight, and draws what is then in sight.
function bringIntoSight(i) {
    const box = ui.sessionsScroll;
    const head = ui.sessions.table.tHead ? ui.sessions.table.tHead.offsetHeight : 0;
    const height = rowHeight || 40;
    const top = head + i * height;
    if (top - head < box.scrollTop)
        box.scrollTop = top - head;
    else if (top + height > box.scrollTop + box.clientHeight)
        box.scrollTop = top + height - box.clientHeight;
    drawSessions();
}

const shownBy = s => matches(state.filter, s.user, s.computer, s.shares);

// The table sorted and filtered again, all of it, or (a change the service told) only the rows
// that came, changed or went: at 10,000 sessions sorting them all takes longer than the rest of a
// change together.
function renderSessions(change = null) {
    const started = performance.now();
    let rows;
    if (change) {
        rows = state.shown.filter(s => !change.touched.has(keyOf(s)));
        for (const s of change.changed)
            if (shownBy(s))
                insertSorted(rows, s, state.sort.key, state.sort.descending, keyOf);
    } else {
        rows = sortRows(state.sessions.filter(shownBy), state.sort.key, state.sort.descending, keyOf);
    }
    state.shown = rows;
    // The head again only when the order changed (a new state.sort).
    if (ui.sessionsSort !== state.sort) {
        ui.sessionsSort = state.sort;
        ui.sessions.table.tHead.replaceWith(tableHead(SESSION_COLUMNS, state.sort, key => {
            state.sort = { key, descending: state.sort.key === key ? !state.sort.descending : false };
            renderSessions();
        }));
    }
    ui.sessions.table.setAttribute("aria-rowcount", String(rows.length + 1));
    if (state.selected && !rows.some(s => keyOf(s) === state.selected)) {
        state.selected = null;
        state.files = [];
        renderFiles();
    }
    drawSessions();
    ui.sessionCount.textContent = rows.length === state.sessions.length
        ? state.sessions.length + (state.sessions.length === 1 ? " session" : " sessions")
        : rows.length + " of " + state.sessions.length + " sessions";
    ui.sessionsEmpty.hidden = rows.length > 0;
    updateSessionButtons();
    state.renderedAt = performance.now();
    state.renderMs = state.renderedAt - started;
    // When the drawn table is on the screen: the next frame after it.
    requestAnimationFrame(() => setTimeout(() => { state.paintedAt = performance.now(); }, 0));
}

function selectedSession() {
    return state.shown.find(s => keyOf(s) === state.selected) || null;
}

function updateSessionButtons() {
    const none = !selectedSession();
    for (const b of ui.sessionActions)
        b.disabled = none;
    ui.closeAll.disabled = state.sessions.length === 0;
}

function selectSession(i, focus) {
    const s = state.shown[i];
    if (!s)
        return;
    const changed = state.selected !== keyOf(s);
    state.selected = keyOf(s);
    bringIntoSight(i);
    focusRow(ui.sessions.body, i, focus);
    updateSessionButtons();
    if (changed) {
        state.files = [];
        renderFiles();
        loadFiles();
    }
}

// What the service told of the table: all of it, or what changed since the version the page holds.
// Answers the change for renderSessions, or null when everything is new.
function applySessions(told) {
    if (told.full) {
        state.sessions = told.rows.map(sessionFromBus);
        state.byKey = new Map(state.sessions.map(s => [keyOf(s), s]));
        return null;
    }
    const touched = new Set();
    for (const [user, computer] of told.removed) {
        touched.add(user + "\n" + computer);
        state.byKey.delete(user + "\n" + computer);
    }
    const changed = told.changed.map(sessionFromBus);
    for (const s of changed) {
        touched.add(keyOf(s));
        state.byKey.set(keyOf(s), s);
    }
    state.sessions = [...state.byKey.values()];
    return { touched, changed };
}

// One fetch at a time: a change told meanwhile is fetched when it is done.
let fetching = null;
let fetchAgain = false;
function loadSessions() {
    if (fetching) {
        fetchAgain = true;
        return fetching;
    }
    fetching = fetchSessions().finally(() => {
        fetching = null;
        if (fetchAgain) {
            fetchAgain = false;
            loadSessions();
        }
    });
    return fetching;
}

async function fetchSessions() {
    try {
        const asked = performance.now();
        const number = ++state.fetches;
        // One JSON text (Cockpit's bridge takes a second to turn 10,000 structures into JSON), and
        // after the first only what changed.
        const [text] = await call("GetSessionsChanges", [state.version], "s");
        const parsing = performance.now();
        const told = JSON.parse(text);
        state.parseMs = performance.now() - parsing;
        if (told.full)
            state.fullParseMs = state.parseMs;
        state.fetchMs = parsing - asked;
        state.full = told.full;
        const change = applySessions(told);
        state.version = told.version;
        setRefused(null);
        setRunning(true);
        ui.totals.textContent = told.current + " current, " + told.files + (told.files === 1 ? " open file" : " open files");
        renderSessions(change);
        // The new user is on the table this fetch brought, or on none (gone again, or a fetch
        // under way when the service told brought it already).
        if (state.newUser) {
            const before = state.newUser.users;
            const fresh = [...new Set(state.sessions.filter(s => !before.has(s.user)).map(s => s.user + " from " + s.computer))];
            if (fresh.length || number > state.newUser.fetches)
                state.newUser = null;
            if (fresh.length)
                notifyNewUsers(fresh);
        }
        if (state.selected)
            loadFiles();
        document.body.dataset.loaded = "sessions";
    } catch (err) {
        failed(err);
    }
}

async function loadStatus() {
    try {
        const [[caption, server], [status]] = await Promise.all([call("GetCaption"), call("GetStatus")]);
        ui.caption.textContent = server || "this computer";
        setLabel(ui.pollState, status.pollError ? "red" : "green", status.pollError ? status.pollError : "working");
        ui.routeItem.hidden = !status.pollRoute;
        ui.route.textContent = status.pollRoute || "";
    } catch (err) {
        failed(err);
    }
}

async function loadFiles() {
    const s = selectedSession();
    if (!s)
        return;
    try {
        const [rows] = await call("GetOpenFiles", [s.user], "s");
        if (state.selected !== keyOf(s))
            return;
        state.files = rows.map(([path, id, , , d]) => ({ id, path, ...fileDetails(d) }));
        renderFiles();
    } catch (err) {
        actionFailed(err);
    }
}

function fileCells(f, withOwner) {
    const values = [f.path, f.share, f.access, f.deny, f.oplock, f.locks, formatTime(f.opened)];
    return withOwner ? [f.user, f.computer, ...values] : values;
}

function renderFileTable(t, rows, columns, withOwner) {
    let html = "";
    rows.forEach((f, i) => {
        html += '<tr class="pf-v6-c-table__tr" role="row" data-i="' + i + '" tabindex="' + (i === 0 ? 0 : -1) + '" aria-selected="false">' +
            cells(columns, fileCells(f, withOwner)) +
            '<td class="pf-v6-c-table__td pf-v6-c-table__action" role="gridcell"><button type="button" class="pf-v6-c-button pf-m-secondary pf-m-small vt-close-file" data-id="' +
            f.id + '" aria-label="Close ' + esc(f.path) + '"><span class="pf-v6-c-button__text">Close</span></button></td></tr>';
    });
    t.body.innerHTML = html;
}

function renderFiles() {
    const s = selectedSession();
    ui.filesTitle.textContent = s ? "Open files of " + s.user + " from " + s.computer : "Open files";
    renderFileTable(ui.files, state.files, FILE_COLUMNS, false);
    ui.filesEmpty.textContent = s ? (state.files.length ? "" : "No open files.") : "Select a session to see its open files.";
}

async function loadAllFiles() {
    try {
        const [rows] = await call("GetAllOpenFiles");
        state.allFiles = rows.map(([id, path, computer, user, d]) => ({ id, path, computer, user, ...fileDetails(d) }));
        renderFileTable(ui.allFiles, state.allFiles, ALL_FILE_COLUMNS, true);
        ui.allFilesEmpty.textContent = state.allFiles.length ? "" : "No user holds a file open.";
    } catch (err) {
        actionFailed(err);
    }
}

async function act(what, method, args, type, after) {
    try {
        await call(method, args, type);
        showAlert(ui.notice, "success", what);
        if (after)
            after();
    } catch (err) {
        actionFailed(err);
    }
}

function closeSelected() {
    const s = selectedSession();
    if (s)
        act("Closed the session of " + s.user + " from " + s.computer + ".", "CloseSession", [s.user, s.computer], "ss");
}

function addToList(list) {
    const s = selectedSession();
    if (!s)
        return;
    const target = ui.listTarget.value;
    const user = target === "computer" ? ANY : s.user;
    const computer = target === "user" ? ANY : s.computer;
    act("Added " + user + " " + computer + " to the " + list + " list.", "AddToList", [list, user, computer], "sss",
        () => { if (ui.lists.loaded) loadLists(); });
}

// --- refusals, a stopped service, and what went wrong --------------------------------------------
function setRefused(text) {
    state.refused = text;
    showAlert(ui.refusal, "danger", text);
    ui.body.hidden = Boolean(text);
}

function setRunning(running) {
    state.running = running;
    setLabel(ui.running, running ? "green" : "red", running ? "running" : "not running");
}

function failed(err) {
    if (err && err.name === NOT_AUTHORIZED) {
        // Only the service itself refuses: it runs.
        setRunning(true);
        setLabel(ui.pollState, "grey", "not shown");
        setRefused(err.message);
        document.body.dataset.loaded = "refused";
    } else if (/not running/.test(problemText(err))) {
        setRunning(false);
        setRefused(problemText(err));
        document.body.dataset.loaded = "stopped";
    } else {
        showAlert(ui.notice, "danger", problemText(err));
    }
}

// A refused change leaves the page as it is: one line says what to ask for.
function actionFailed(err) {
    showAlert(ui.notice, "danger", problemText(err));
}

// --- notifications --------------------------------------------------------------------------------
function notifyNewUsers(who) {
    if (!state.notify || !("Notification" in window) || Notification.permission !== "granted")
        return;
    for (const text of who)
        new Notification("New user on the shares", { body: text, tag: "vantor-" + text });
}

async function toggleNotify(on) {
    if (on && "Notification" in window && Notification.permission !== "granted") {
        const answer = await Notification.requestPermission();
        if (answer !== "granted") {
            ui.notify.checked = false;
            showAlert(ui.notice, "warning", "The browser does not allow notifications for this page.");
            on = false;
        }
    }
    state.notify = on;
    localStorage.setItem("vantor:notify", on ? "1" : "0");
}

// --- lists ----------------------------------------------------------------------------------------
const LIST_NAMES = [["black", "Black list"], ["white", "White list"]];
const listState = { black: [], white: [] };

function listPanel(name, title) {
    const t = table(title);
    t.table.tHead.replaceWith(tableHead([["user", "User"], ["computer", "Computer"], ["", ""]]));
    const user = textInput({ "aria-label": title + " user", placeholder: "User or " + ANY });
    const computer = textInput({ "aria-label": title + " computer", placeholder: "Computer or " + ANY });
    const add = button("Add", "secondary", () => {
        const u = user.input.value.trim();
        const c = computer.input.value.trim() || ANY;
        if (!u)
            return user.input.focus();
        listState[name].push([u, c]);
        user.input.value = computer.input.value = "";
        renderList(name);
    });
    const save = button("Save " + title.toLowerCase(), "primary", () =>
        act("Saved the " + title.toLowerCase() + ".", "SetList", [name, listState[name]], "sa(ss)", loadLists));
    t.body.addEventListener("click", ev => {
        const b = ev.target.closest("button[data-i]");
        if (b) {
            listState[name].splice(Number(b.dataset.i), 1);
            renderList(name);
        }
    });
    ui.lists[name] = t;
    return el("section", { class: "vt-card", "aria-label": title },
              el("h2", { class: "pf-v6-c-title pf-m-lg" }, title),
              el("div", { class: "vt-scroll vt-short" }, t.table),
              el("div", { class: "vt-toolbar" }, user.box, computer.box, add, save));
}

function renderList(name) {
    let html = "";
    listState[name].forEach(([u, c], i) => {
        html += '<tr class="pf-v6-c-table__tr" role="row">' + cells([["", "User"], ["", "Computer"]], [u, c]) +
            '<td class="pf-v6-c-table__td pf-v6-c-table__action" role="gridcell"><button type="button" class="pf-v6-c-button pf-m-link pf-m-small" data-i="' +
            i + '" aria-label="Remove ' + esc(u + " " + c) + '"><span class="pf-v6-c-button__text">Remove</span></button></td></tr>';
    });
    ui.lists[name].body.innerHTML = html;
}

async function loadLists() {
    try {
        for (const [name] of LIST_NAMES) {
            const [rows] = await call("GetList", [name], "s");
            listState[name] = rows;
            renderList(name);
        }
        ui.lists.loaded = true;
    } catch (err) {
        actionFailed(err);
    }
}

// --- options --------------------------------------------------------------------------------------
// The Options window's texts; what the service keeps beyond them is shown under its own name.
const OPTION_TEXTS = {
    hideLocalUsers: "Do not show local PC users",
    hideSystemRequests: "Do not show system requests",
    popupOnNewUser: "Popup main dialog",
    beepOnNewUser: "Beep",
    noHistory: "Do not save history",
    mailOnNewUser: "Send e-mail notifications",
    dailyReport: "Send daily report",
    reportAutoUpdate: "Auto update the report",
    reportLimit: "Limit report to the period below",
    logOpenedFiles: "Log opened files",
    useBlackList: "Use black list (off: use white list)",
    reportLimitIndex: "Report period",
    mailAddress: "E-mail address",
    smtpServer: "SMTP server",
    smtpPort: "SMTP port",
    smtpSecurity: "SMTP security",
    smtpUser: "SMTP user",
    dailyReportTime: "Daily report at (hh:mm)",
    reportPath: "Web-based report file name",
    smtpPasswordFile: "SMTP password file (root sets it in /etc/vantor/vantor.conf)",
    smtpCertFingerprint: "SMTP server's certificate fingerprint (SHA-256)",
    metricsListen: "Metrics address (ADDRESS:PORT, empty: none)",
    metricsPerSession: "Metrics per session",
};
const REPORT_PERIODS = [["0", "1 Hour"], ["1", "2 Hours"], ["2", "3 Hours"], ["4", "1 Day"], ["5", "2 Days"], ["6", "3 Days"],
    ["8", "1 Week"], ["9", "1 Month"], ["-1", "none"]];
const FLAGS = new Set(["hideLocalUsers", "hideSystemRequests", "popupOnNewUser", "beepOnNewUser", "noHistory", "mailOnNewUser",
    "dailyReport", "reportAutoUpdate", "reportLimit", "logOpenedFiles", "useBlackList"]);
// Set by root in the settings file only; the server has a command of its own and is not shown.
const READ_ONLY = new Set(["smtpPasswordFile"]);
const HIDDEN = new Set(["serverName"]);
let loadedOptions = {};

function renderOptions(values) {
    loadedOptions = values;
    const fields = [];
    const entries = Object.entries(values).filter(([key]) => !HIDDEN.has(key));
    // The check boxes first, as the Options window groups them, then the fields.
    entries.sort(([a], [b]) => FLAGS.has(b) - FLAGS.has(a));
    for (const [key, value] of entries) {
        const text = OPTION_TEXTS[key] || key;
        const id = "vt-option-" + key;
        if (FLAGS.has(key)) {
            fields.push(el("div", { class: "pf-v6-c-check" },
                           el("input", { class: "pf-v6-c-check__input", type: "checkbox", id, "data-key": key, ...(value === "1" ? { checked: "" } : {}) }),
                           el("label", { class: "pf-v6-c-check__label", for: id }, text)));
        } else if (key === "reportLimitIndex" || key === "smtpSecurity") {
            const choices = key === "smtpSecurity" ? [["none", "none"], ["starttls", "STARTTLS"], ["tls", "TLS"]] : REPORT_PERIODS;
            const s = selectInput(choices, { id, "data-key": key });
            s.select.value = value;
            fields.push(el("label", { class: "vt-field", for: id }, el("span", {}, text), s.box));
        } else {
            const t = textInput({ id, "data-key": key, value, ...(READ_ONLY.has(key) ? { readonly: "", title: "Set in /etc/vantor/vantor.conf" } : {}) });
            fields.push(el("label", { class: "vt-field", for: id }, el("span", {}, text), t.box));
        }
    }
    ui.optionFields.replaceChildren(...fields);
}

async function loadOptions() {
    try {
        const [values] = await call("GetOptions");
        renderOptions(values);
    } catch (err) {
        actionFailed(err);
    }
}

function saveOptions() {
    const changed = {};
    for (const input of ui.optionFields.querySelectorAll("[data-key]")) {
        const key = input.dataset.key;
        const value = input.type === "checkbox" ? (input.checked ? "1" : "0") : input.value;
        if (!READ_ONLY.has(key) && !HIDDEN.has(key) && value !== loadedOptions[key])
            changed[key] = value;
    }
    if (!Object.keys(changed).length)
        return showAlert(ui.notice, "info", "No option was changed.");
    act("Saved the options.", "SetOptions", [changed], "a{ss}", loadOptions);
}

async function sendTestMail() {
    try {
        const [outcome, reason] = await call("SendTestMail");
        const texts = ["The test mail could not connect to the mail server.", "The mail server did not take the test mail.", "The test mail was sent."];
        showAlert(ui.notice, outcome === 2 ? "success" : "danger", (texts[outcome] || "Unknown outcome.") + (reason ? " " + reason : ""));
    } catch (err) {
        actionFailed(err);
    }
}

// --- history --------------------------------------------------------------------------------------
const HISTORY_COLUMNS = [["user", "User"], ["computer", "Computer"], ["files", "Total files"], ["start", "Timestamp"], ["duration", "Session time"]];

function historyQuery() {
    const q = {};
    const text = ui.historyText.value.trim();
    if (text)
        q.text = text;
    for (const [key, input] of [["from", ui.historyFrom], ["to", ui.historyTo]]) {
        if (input.value) {
            const t = Math.floor(new Date(input.value).getTime() / 1000) + (key === "to" ? 59 : 0);
            if (!Number.isNaN(t))
                q[key] = String(t);
        }
    }
    if (state.history.sort) {
        q.sort = state.history.sort;
        q.order = state.history.descending ? "desc" : "asc";
    }
    return q;
}

async function loadHistory(offset = 0) {
    try {
        const [total, rows] = await call("GetHistoryPage", [historyQuery(), offset, HISTORY_PAGE], "a{ss}uu");
        const h = state.history;
        h.offset = offset;
        h.total = total;
        h.rows = rows.map(([user, computer, start, duration, files]) => ({ user, computer, start, duration, files }));
        h.selected = null;
        renderHistory();
        ui.historyFiles.body.replaceChildren();
        ui.historyFilesNote.textContent = "Select a session to see its files.";
    } catch (err) {
        actionFailed(err);
    }
}

function renderHistory() {
    const h = state.history;
    ui.history.table.tHead.replaceWith(tableHead(HISTORY_COLUMNS, h.sort ? { key: h.sort, descending: h.descending } : null, key => {
        h.descending = h.sort === key ? !h.descending : true;
        h.sort = key;
        loadHistory(0);
    }));
    let html = "";
    h.rows.forEach((r, i) => {
        html += '<tr class="pf-v6-c-table__tr" role="row" data-i="' + i + '" tabindex="' + (i === 0 ? 0 : -1) + '" aria-selected="false">' +
            cells(HISTORY_COLUMNS, [r.user, r.computer, r.files, formatTime(r.start), formatDuration(r.duration)]) + "</tr>";
    });
    ui.history.body.innerHTML = html;
    const last = Math.min(h.offset + h.rows.length, h.total);
    ui.historyRange.textContent = h.total ? (h.offset + 1) + "–" + last + " of " + h.total : "No sessions in the history.";
    ui.historyPrev.disabled = h.offset === 0;
    ui.historyNext.disabled = last >= h.total;
}

async function selectHistory(i, focus) {
    const r = state.history.rows[i];
    if (!r)
        return;
    focusRow(ui.history.body, i, focus);
    state.history.selected = i;
    try {
        const [total, files] = await call("GetHistoryFiles", [r.user, r.computer, r.start, r.duration, 0, HISTORY_FILES], "ssxuuu");
        if (state.history.selected !== i)
            return;
        let html = "";
        for (const [time, path] of files)
            html += '<tr class="pf-v6-c-table__tr" role="row">' + cells([["", "Timestamp"], ["", "Resource name"]], [formatTime(time), path]) + "</tr>";
        ui.historyFiles.body.innerHTML = html;
        ui.historyFilesNote.textContent = total > files.length ? "The first " + files.length + " of " + total + " files." : total ? "" : "No files in this session.";
    } catch (err) {
        actionFailed(err);
    }
}

async function report(download) {
    // Opened at once, while the click still allows a new window; filled when the page comes.
    const win = download ? null : window.open("", "_blank");
    try {
        const [where, html] = await call("GetReportText");
        const url = URL.createObjectURL(new Blob([html], { type: "text/html" }));
        if (download) {
            const a = el("a", { href: url, download: where.split("/").pop() || "report.html" });
            document.body.append(a);
            a.click();
            a.remove();
        } else if (win) {
            win.location = url;
        }
        showAlert(ui.notice, "success", "The report was written to " + where + ".");
        setTimeout(() => URL.revokeObjectURL(url), 60000);
    } catch (err) {
        if (win)
            win.close();
        actionFailed(err);
    }
}

// --- the page -----------------------------------------------------------------------------------------
function tabs(names) {
    const list = el("ul", { class: "pf-v6-c-tabs__list", role: "tablist" });
    const panels = [];
    const buttons = [];
    names.forEach(([id, title, panel, onShow], i) => {
        const b = el("button", { class: "pf-v6-c-tabs__link", type: "button", role: "tab", id: "vt-tab-" + id, "aria-controls": "vt-panel-" + id,
            "aria-selected": String(i === 0), tabindex: i === 0 ? "0" : "-1" }, el("span", { class: "pf-v6-c-tabs__item-text" }, title));
        const li = el("li", { class: "pf-v6-c-tabs__item" + (i === 0 ? " pf-m-current" : ""), role: "presentation" }, b);
        panel.id = "vt-panel-" + id;
        panel.setAttribute("role", "tabpanel");
        panel.setAttribute("aria-labelledby", b.id);
        panel.hidden = i !== 0;
        const show = () => {
            buttons.forEach((other, k) => {
                other.setAttribute("aria-selected", String(k === i));
                other.tabIndex = k === i ? 0 : -1;
                other.parentElement.classList.toggle("pf-m-current", k === i);
                panels[k].hidden = k !== i;
            });
            if (onShow)
                onShow();
        };
        b.addEventListener("click", show);
        b.addEventListener("keydown", ev => {
            const step = ev.key === "ArrowRight" ? 1 : ev.key === "ArrowLeft" ? -1 : 0;
            if (!step)
                return;
            const next = buttons[(i + step + buttons.length) % buttons.length];
            next.focus();
            next.click();
            ev.preventDefault();
        });
        buttons.push(b);
        panels.push(panel);
        list.append(li);
    });
    return el("div", {}, el("div", { class: "pf-v6-c-tabs", role: "region", "aria-label": "Views" }, list), ...panels);
}

function build() {
    ui.refusal = alertLine("danger");
    ui.notice = alertLine("info");
    ui.running = el("span");
    ui.pollState = el("span");
    setLabel(ui.running, "grey", "asking");
    setLabel(ui.pollState, "grey", "asking");
    ui.caption = el("span", {}, "");
    ui.totals = el("span", {}, "");
    ui.route = el("span", {});
    ui.routeItem = el("div", { hidden: "" }, el("dt", {}, "Fallback route:"), el("dd", {}, ui.route));
    const status = el("dl", { class: "vt-status", "aria-label": "Service" },
                      el("div", {}, el("dt", {}, "Service:"), el("dd", {}, ui.running)),
                      el("div", {}, el("dt", {}, "Poll:"), el("dd", {}, ui.pollState)),
                      ui.routeItem,
                      el("div", {}, el("dt", {}, "Server:"), el("dd", {}, ui.caption)),
                      el("div", {}, el("dt", {}, "Sessions:"), el("dd", {}, ui.totals)));

    // Sessions
    ui.sessions = table("Sessions");
    ui.sessionsScroll = el("div", { class: "vt-scroll vt-virtual" }, ui.sessions.table);
    ui.sessionsScroll.addEventListener("scroll", () => requestAnimationFrame(drawSessions), { passive: true });
    window.addEventListener("resize", () => { rowHeight = 0; drawSessions(); });
    const filter = textInput({ type: "search", "aria-label": "Filter sessions", placeholder: "Filter by user, computer or share" });
    filter.input.addEventListener("input", () => { state.filter = filter.input.value; renderSessions(); });
    ui.filter = filter.input;
    const target = selectInput([["user", "User"], ["computer", "Computer"], ["pair", "User and computer"]],
                               { "aria-label": "What to add to a list" }, true);
    ui.listTarget = target.select;
    const close = button("Close session", "danger", closeSelected);
    const black = button("Black list", "secondary", () => addToList("black"));
    const white = button("White list", "secondary", () => addToList("white"));
    ui.sessionActions = [close, black, white];
    ui.closeAll = button("Close all sessions", "secondary", () => {
        if (window.confirm("Close all " + state.sessions.length + " sessions?"))
            act("Closed all sessions.", "CloseAllSessions", [], "");
    });
    ui.sessionCount = el("span", { class: "vt-muted", "aria-live": "polite" });
    ui.sessionsEmpty = el("p", { class: "vt-muted" }, "Nobody is connected to the shares.");
    rowKeys(ui.sessions.body, selectSession, () => closeSelected(), () => state.shown.length);

    ui.files = table("Open files of the session");
    ui.files.table.tHead.replaceWith(tableHead([...FILE_COLUMNS, ["", ""]]));
    ui.filesTitle = el("h2", { class: "pf-v6-c-title pf-m-lg" }, "Open files");
    ui.filesEmpty = el("p", { class: "vt-muted" }, "Select a session to see its open files.");
    const closeFile = ev => {
        const b = ev.target.closest("button.vt-close-file");
        if (b)
            act("Closed the file.", "CloseFile", [Number(b.dataset.id)], "u", () => { loadFiles(); if (ui.allLoaded) loadAllFiles(); });
    };
    ui.files.body.addEventListener("click", closeFile);

    const sessionsPanel = el("div", {},
        el("section", { class: "vt-card", "aria-label": "Sessions" },
           el("div", { class: "vt-toolbar" }, filter.box, ui.sessionCount, el("span", { class: "vt-grow" }), close, ui.closeAll),
           el("div", { class: "vt-toolbar" }, el("span", { class: "vt-group", role: "group", "aria-label": "Add the selected session to a list" },
              el("span", {}, "Add"), target.box, el("span", {}, "to the"), black, white)),
           ui.sessionsScroll, ui.sessionsEmpty),
        el("section", { class: "vt-card", "aria-label": "Open files of the session" }, ui.filesTitle,
           el("div", { class: "vt-scroll vt-short" }, ui.files.table), ui.filesEmpty));

    // Every user's files
    ui.allFiles = table("Open files of all users");
    ui.allFiles.table.tHead.replaceWith(tableHead([...ALL_FILE_COLUMNS, ["", ""]]));
    ui.allFiles.body.addEventListener("click", closeFile);
    ui.allFilesEmpty = el("p", { class: "vt-muted" });
    const allPanel = el("section", { class: "vt-card", "aria-label": "Open files of all users" },
        el("div", { class: "vt-toolbar" }, button("Refresh", "secondary", loadAllFiles)),
        el("div", { class: "vt-scroll" }, ui.allFiles.table), ui.allFilesEmpty);

    // Lists
    ui.lists = { loaded: false };
    const listsPanel = el("div", { class: "vt-split" }, ...LIST_NAMES.map(([name, title]) => listPanel(name, title)));

    // Options
    ui.optionFields = el("div", { class: "vt-options" });
    ui.notify = el("input", { class: "pf-v6-c-check__input", type: "checkbox", id: "vt-notify", ...(state.notify ? { checked: "" } : {}) });
    ui.notify.addEventListener("change", () => toggleNotify(ui.notify.checked));
    const optionsPanel = el("section", { class: "vt-card", "aria-label": "Options" },
        el("h2", { class: "pf-v6-c-title pf-m-lg" }, "In this browser"),
        el("div", { class: "pf-v6-c-check" }, ui.notify, el("label", { class: "pf-v6-c-check__label", for: "vt-notify" }, "Notify me when a new user connects")),
        el("h2", { class: "pf-v6-c-title pf-m-lg" }, "Options of the service"),
        ui.optionFields,
        el("div", { class: "vt-toolbar" }, button("Save options", "primary", saveOptions), button("Send test mail", "secondary", sendTestMail)));

    // History
    ui.history = table("Sessions history");
    rowKeys(ui.history.body, selectHistory);
    ui.historyFiles = table("Files of the history's session");
    ui.historyFiles.table.tHead.replaceWith(tableHead([["", "Timestamp"], ["", "Resource name"]]));
    const hText = textInput({ type: "search", "aria-label": "Filter the history", placeholder: "User or computer" });
    const hFrom = el("input", { type: "datetime-local", "aria-label": "From" });
    const hTo = el("input", { type: "datetime-local", "aria-label": "To" });
    ui.historyText = hText.input;
    ui.historyFrom = hFrom;
    ui.historyTo = hTo;
    for (const input of [hText.input, hFrom, hTo])
        input.addEventListener("keydown", ev => { if (ev.key === "Enter") loadHistory(0); });
    ui.historyRange = el("span", { class: "vt-muted", "aria-live": "polite" });
    ui.historyPrev = button("Previous", "secondary", () => loadHistory(Math.max(0, state.history.offset - HISTORY_PAGE)));
    ui.historyNext = button("Next", "secondary", () => loadHistory(state.history.offset + HISTORY_PAGE));
    ui.historyFilesNote = el("p", { class: "vt-muted" });
    const historyPanel = el("div", {},
        el("section", { class: "vt-card", "aria-label": "Sessions history" },
           el("div", { class: "vt-toolbar" }, hText.box,
              el("label", { class: "vt-field" }, el("span", {}, "From"), el("span", { class: "pf-v6-c-form-control" }, hFrom)),
              el("label", { class: "vt-field" }, el("span", {}, "To"), el("span", { class: "pf-v6-c-form-control" }, hTo)),
              button("Apply", "primary", () => loadHistory(0)), el("span", { class: "vt-grow" }),
              button("Open report", "secondary", () => report(false)), button("Download report", "secondary", () => report(true)),
              button("Clear history", "danger", () => {
                  if (window.confirm("Delete the whole history of sessions and files?"))
                      act("History has been cleared!", "ClearHistory", [], "", () => loadHistory(0));
              })),
           el("div", { class: "vt-scroll" }, ui.history.table),
           el("div", { class: "vt-toolbar" }, ui.historyRange, ui.historyPrev, ui.historyNext)),
        el("section", { class: "vt-card", "aria-label": "Files of the history's session" },
           el("h2", { class: "pf-v6-c-title pf-m-lg" }, "Files"),
           el("div", { class: "vt-scroll vt-short" }, ui.historyFiles.table), ui.historyFilesNote));

    ui.body = tabs([
        ["sessions", "Sessions", sessionsPanel],
        ["files", "Open files", allPanel, () => { ui.allLoaded = true; loadAllFiles(); }],
        ["lists", "Lists", listsPanel, loadLists],
        ["options", "Options", optionsPanel, loadOptions],
        ["history", "History", historyPanel, () => loadHistory(state.history.offset)],
    ]);

    app.append(el("header", { class: "vt-card" },
                  el("div", { class: "vt-head" }, el("h1", { class: "pf-v6-c-title pf-m-xl" }, "Shares sessions"), status)),
               ui.refusal, ui.notice, ui.body);
    renderSessions();
    renderFiles();
}

// --- start ----------------------------------------------------------------------------------------------
let refreshTimer = null;
function refresh() {
    clearTimeout(refreshTimer);
    loadSessions();
    loadStatus();
    // The signal tells of every change; this only catches a service that stopped or came back.
    refreshTimer = setTimeout(refresh, 15000);
}

function connect() {
    client = cockpit.dbus(NAME, { bus: "system" });
    // The table first: the state's two calls would only wait for polkit beside it.
    client.subscribe({ path: PATH, interface: IFACE, member: "SessionsChanged" }, () => {
        state.signalAt = performance.now();
        loadSessions().then(loadStatus);
    });
    client.subscribe({ path: PATH, interface: IFACE, member: "NewUser" }, () => {
        if (!state.newUser)
            state.newUser = { users: new Set(state.sessions.map(s => s.user)), fetches: state.fetches };
    });
    client.addEventListener("owner", (ev, owner) => {
        if (owner === null) {
            setRunning(false);
            setRefused(problemText({ problem: "not-found" }));
        } else if (owner) {
            refresh();
        }
    });
    client.addEventListener("close", () => setTimeout(connect, 5000));
    refresh();
}

// For the bench: when the last signal came and the table was last on the screen, in ms since 1970,
// and a fresh drawing of the table as it is (milliseconds until it is on the screen).
// The wall clock's time is taken from Date.now() at the question: Chromium's timeOrigin may stand
// tens of milliseconds off it, which the bench's own clock would count.
window.vantorTimes = () => {
    const wall = Date.now() - performance.now();
    return { signalAt: wall + (state.signalAt || 0), paintedAt: wall + (state.paintedAt || 0), rows: state.shown.length,
        fetchMs: state.fetchMs, parseMs: state.parseMs, drawMs: state.renderMs, full: state.full, fullParseMs: state.fullParseMs,
        originOff: performance.timeOrigin - wall };
};
window.vantorRedraw = async () => {
    const started = performance.now();
    ui.sessions.body.replaceChildren();
    renderSessions();
    await new Promise(resolve => requestAnimationFrame(() => setTimeout(resolve, 0)));
    return performance.now() - started;
};

build();
cockpit.transport.wait(connect);
