// Drives Debian's Chromium through playwright-core for the page's tests and bench, one command a
// line on standard input, one JSON answer a line on standard output:
//   open URL                the page (Cockpit's shell, or the page alone); waits until it has loaded
//   viewport WIDTH HEIGHT   the window's size
//   eval EXPRESSION         the value of a JavaScript expression in the page (awaited)
//   click NAME              presses the page's button of that accessible name
//   tab NAME                shows the page's tab of that name
//   popup NAME              presses that button and answers what the window it opens shows
//   download NAME           presses that button and answers the name and size of what it saves
//   key KEY                 presses a key in the page (ArrowDown, Enter, Delete, ...)
//   permit PERMISSION       the user allows the open page's site that (notifications, ...)
//   shot FILE               a picture of the whole window
// An answer is {"ok": value} or {"error": text}. The browser ends when the input does.
import { chromium } from "playwright-core";
import { createInterface } from "node:readline";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

const profile = mkdtempSync(join(tmpdir(), "vt-cockpit-chromium-"));
const browser = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.VANTOR_CHROMIUM || "/usr/bin/chromium",
    headless: true,
    viewport: { width: 1280, height: 800 },
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
});
const page = browser.pages()[0] || await browser.newPage();
const log = [];
page.on("console", m => log.push(m.type() + ": " + m.text()));
page.on("pageerror", e => log.push("pageerror: " + e.message));

// The page itself: the shell's frame when the shell is shown, else the window.
function target() {
    return page.frames().find(f => f.url().includes("/vantor/index.html")) || page.mainFrame();
}

async function run(line) {
    const [command, ...rest] = line.split(" ");
    const arg = rest.join(" ");
    switch (command) {
    case "open": {
        await page.goto(arg, { waitUntil: "load", timeout: 30000 });
        const deadline = Date.now() + 30000;
        for (;;) {
            const f = target();
            const loaded = f.url().includes("/vantor/") && await f.evaluate(() => document.body && document.body.dataset.loaded).catch(() => undefined);
            if (loaded)
                return loaded;
            if (Date.now() > deadline)
                throw new Error("the page did not load: " + log.slice(-5).join(" | "));
            await new Promise(r => setTimeout(r, 100));
        }
    }
    case "viewport":
        await page.setViewportSize({ width: Number(rest[0]), height: Number(rest[1]) });
        return true;
    case "eval":
        return await target().evaluate(arg);
    case "click":
        await target().getByRole("button", { name: arg, exact: true }).first().click({ timeout: 10000 });
        return true;
    case "tab":
        await target().getByRole("tab", { name: arg, exact: true }).click({ timeout: 10000 });
        return true;
    case "popup": {
        const opened = page.context().waitForEvent("page", { timeout: 20000 });
        await target().getByRole("button", { name: arg, exact: true }).click({ timeout: 10000 });
        const popup = await opened;
        await popup.waitForURL(/^blob:/, { timeout: 20000 });
        await popup.waitForLoadState("load");
        await new Promise(r => setTimeout(r, 500));
        const shown = { url: popup.url(), title: await popup.title(), text: await popup.evaluate(() => document.body.innerText) };
        await popup.close();
        return shown;
    }
    case "download": {
        const saved = page.waitForEvent("download", { timeout: 20000 });
        await target().getByRole("button", { name: arg, exact: true }).click({ timeout: 10000 });
        const download = await saved;
        const file = await download.path();
        const { statSync } = await import("node:fs");
        return { name: download.suggestedFilename(), size: statSync(file).size };
    }
    case "key":
        await page.keyboard.press(arg);
        return true;
    case "permit":
        await browser.grantPermissions([arg], { origin: new URL(page.url()).origin });
        return true;
    case "shot":
        await page.screenshot({ path: arg });
        return true;
    case "log":
        return log.splice(0);
    default:
        throw new Error("no command " + command);
    }
}

const input = createInterface({ input: process.stdin });
for await (const line of input) {
    let answer;
    try {
        answer = { ok: await run(line.trim()) ?? null };
    } catch (e) {
        answer = { error: String(e && e.message || e).split("\n")[0] };
    }
    process.stdout.write(JSON.stringify(answer) + "\n");
}
await browser.close();
rmSync(profile, { recursive: true, force: true });
