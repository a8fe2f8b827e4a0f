// Builds the page into dist/ (or the folder given): index.html, manifest.json, index.js and
// index.css, the last two bundled by esbuild from src/ and PatternFly.
import { build } from "esbuild";
import { copyFileSync, mkdirSync, readFileSync, writeFileSync } from "node:fs";
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
for (const file of ["index.html", "manifest.json"])
    copyFileSync(join(here, "src", file), join(out, file));
