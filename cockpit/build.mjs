// Builds the page into dist/ (or the folder given): index.html, manifest.json, index.js and
// index.css, the last two bundled by esbuild from src/ and PatternFly.
//   node build.mjs [OUT [REPORT]]
// REPORT is a report the service writes (any): the page opens the service's report in a window
// of its own, which keeps the page's content security policy, so the manifest allows that one
// inline script by its hash and no other.
import { build } from "esbuild";
import { copyFileSync, mkdirSync, readFileSync, writeFileSync } from "node:fs";
import { createHash } from "node:crypto";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const out = process.argv[2] || join(here, "dist");
mkdirSync(out, { recursive: true });
await build({
    entryPoints: [join(here, "src/index.js"), join(here, "src/index.css")],
    bundle: true,
    minify: true,
    outdir: out,
    target: ["chrome100", "firefox100", "safari15"],
    // PatternFly's fonts and pictures stay out: Cockpit serves the same type (see index.css), and
    // the page shows no pictures.
    external: ["*.woff", "*.woff2", "*.ttf", "*.otf", "*.svg", "*.png", "*.jpg"],
    logLevel: "warning",
    legalComments: "none",
});
// Their @font-face rules go too, so that the browser asks for nothing that is not there.
const css = join(out, "index.css");
writeFileSync(css, readFileSync(css, "utf8").replace(/@font-face\{[^}]*assets\/[^}]*\}/g, ""));
copyFileSync(join(here, "src/index.html"), join(out, "index.html"));
const manifest = JSON.parse(readFileSync(join(here, "src/manifest.json"), "utf8"));
if (process.argv[3]) {
    const scripts = [...readFileSync(process.argv[3], "utf8").matchAll(/<script>([\s\S]*?)<\/script>/g)];
    if (scripts.length !== 1)
        throw new Error(process.argv[3] + " should hold one inline script, not " + scripts.length);
    const hash = createHash("sha256").update(scripts[0][1], "utf8").digest("base64");
    manifest["content-security-policy"] = "script-src 'self' 'sha256-" + hash + "'";
}
writeFileSync(join(out, "manifest.json"), JSON.stringify(manifest, null, 4) + "\n");
