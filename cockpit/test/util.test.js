// The page's helpers where a mistake would show wrong or unsafe: names from the network written
// into the table's HTML, the order of the columns, the filter, the history's time texts.
import { test } from "node:test";
import assert from "node:assert/strict";
import { esc, sortRows, insertSorted, matches, formatDuration, absent } from "../src/util.js";

test("a name from the network is text in the table, never markup", () => {
    assert.equal(esc('<img src=x onerror="alert(1)">'), "&lt;img src=x onerror=&quot;alert(1)&quot;&gt;");
    assert.equal(esc("o'neil & co"), "o&#39;neil &amp; co");
    assert.equal(esc(null), "");
    assert.equal(esc(0), "0");
});

test("columns sort by value, numbers in names by number, missing values last, ties stable", () => {
    const rows = [{ u: "pc10", n: 3 }, { u: "PC9", n: 10 }, { u: null, n: 2 }, { u: "alpha", n: 3 }, { u: "pc9", n: null }];
    assert.deepEqual(sortRows(rows, "u", false).map(r => r.u), ["alpha", "PC9", "pc9", "pc10", null]);
    assert.deepEqual(sortRows(rows, "u", true).map(r => r.u), ["pc10", "PC9", "pc9", "alpha", null]);
    assert.deepEqual(sortRows(rows, "n", false).map(r => r.u), [null, "pc10", "alpha", "PC9", "pc9"]);
});

test("the filter keeps a row holding every word, in any case", () => {
    assert.ok(matches("", "anything"));
    assert.ok(matches("ALICE docs", "alice", "10.0.0.1", "docs, home"));
    assert.ok(!matches("alice bob", "alice", "10.0.0.1"));
});

test("durations and unknown numbers read as the history window writes them", () => {
    assert.equal(formatDuration(0), "00:00:00");
    assert.equal(formatDuration(443045), "123:04:05");
    assert.ok(absent(-9223372036854775808));
    assert.ok(absent(null));
    assert.ok(!absent(0));
});

test("a row put into the sorted table lands where sorting the whole table puts it", () => {
    const tie = r => r.u + "\n" + r.c;
    const rows = [];
    for (let i = 0; i < 200; ++i)
        rows.push({ u: "user" + (i * 7919 % 37), c: "pc" + (i % 13), n: i % 5 === 0 ? null : (i * 31) % 17 });
    for (const [key, descending] of [["u", false], ["u", true], ["n", false], ["n", true], ["c", true]]) {
        const whole = sortRows(rows, key, descending, tie);
        const built = [];
        for (const r of rows)
            insertSorted(built, r, key, descending, tie);
        assert.deepEqual(built.map(tie), whole.map(tie), key + (descending ? " descending" : ""));
    }
});
