// The page's small helpers: elements, escaping, the history's time texts, sorting and filtering.

export function el(tag, attrs = {}, ...children) {
    const e = document.createElement(tag);
    for (const [name, value] of Object.entries(attrs))
        e.setAttribute(name, value);
    for (const child of children)
        e.append(child);
    return e;
}

const ESCAPES = { "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&#39;" };
export function esc(value) {
    return String(value ?? "").replace(/[&<>"']/g, c => ESCAPES[c]);
}

// The service sends INT64_MIN for a number it does not know; JSON carries it as a float.
export function absent(n) {
    return n === null || n === undefined || n < -1e18;
}

const two = n => String(n).padStart(2, "0");

// As the history window writes them: local time "YYYY-MM-DD hh:mm:ss", durations "hh:mm:ss".
export function formatTime(seconds) {
    if (seconds === null || seconds === undefined || absent(seconds))
        return "";
    const d = new Date(seconds * 1000);
    return d.getFullYear() + "-" + two(d.getMonth() + 1) + "-" + two(d.getDate()) + " " +
        two(d.getHours()) + ":" + two(d.getMinutes()) + ":" + two(d.getSeconds());
}

export function formatDuration(seconds) {
    const s = Math.max(0, Math.floor(seconds));
    return two(Math.floor(s / 3600)) + ":" + two(Math.floor((s % 3600) / 60)) + ":" + two(s % 60);
}

// Numbers by value, texts without case and with their numbers by value ("pc9" before "pc10"), the
// missing last. Each key is made once, and the sort then compares plain strings, which for 10,000
// rows is several times faster than a collator.
const naturalKey = text => String(text).toLowerCase().replace(/\d+/g, d => d.padStart(20, "0"));

function sortKey(row, key, tie) {
    const v = row[key];
    return { missing: v === null || v === undefined, v: typeof v === "number" ? v : naturalKey(v ?? ""), t: tie ? tie(row) : "" };
}

function compareKeys(a, b, sign) {
    if (a.missing !== b.missing)
        return a.missing ? 1 : -1;
    const c = a.v < b.v ? -1 : a.v > b.v ? 1 : 0;
    return c * sign || (a.t < b.t ? -1 : a.t > b.t ? 1 : 0);
}

// The rows in the column's order; rows that compare equal in the order of `tie` (a text that tells
// every row apart), else in the order they came.
export function sortRows(rows, key, descending, tie = null) {
    const sign = descending ? -1 : 1;
    const keyed = rows.map((row, i) => ({ row, i, k: sortKey(row, key, tie) }));
    keyed.sort((a, b) => compareKeys(a.k, b.k, sign) || a.i - b.i);
    return keyed.map(k => k.row);
}

// Puts `row` into rows sorted by sortRows with a `tie`, where sorting them all would put it.
export function insertSorted(sorted, row, key, descending, tie) {
    const sign = descending ? -1 : 1;
    const k = sortKey(row, key, tie);
    let low = 0;
    let high = sorted.length;
    while (low < high) {
        const mid = (low + high) >> 1;
        if (compareKeys(k, sortKey(sorted[mid], key, tie), sign) < 0)
            high = mid;
        else
            low = mid + 1;
    }
    sorted.splice(low, 0, row);
}

// Whether any of the texts holds every word of the filter, in any case.
export function matches(filter, ...texts) {
    if (!filter)
        return true;
    const words = filter.toLowerCase().split(/\s+/).filter(Boolean);
    if (!words.length)
        return true;
    const hay = texts.join("\n").toLowerCase();
    return words.every(w => hay.includes(w));
}
