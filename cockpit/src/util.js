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

// Numbers by value, texts by the locale's order; rows that compare equal keep their order.
export function sortRows(rows, key, descending) {
    const collator = new Intl.Collator(undefined, { numeric: true, sensitivity: "base" });
    const sign = descending ? -1 : 1;
    return rows.map((row, i) => [row, i]).sort(([a, i], [b, k]) => {
        const x = a[key];
        const y = b[key];
        let c;
        if (x === null || y === null || x === undefined || y === undefined)
            c = (x === null || x === undefined) - (y === null || y === undefined);
        else if (typeof x === "number" && typeof y === "number")
            c = x - y;
        else
            c = collator.compare(String(x), String(y));
        return c * sign || i - k;
    }).map(([row]) => row);
}

// Whether any of the texts holds every word of the filter, in any case.
export function matches(filter, ...texts) {
    const words = filter.toLowerCase().split(/\s+/).filter(Boolean);
    if (!words.length)
        return true;
    const hay = texts.join("\n").toLowerCase();
    return words.every(w => hay.includes(w));
}
