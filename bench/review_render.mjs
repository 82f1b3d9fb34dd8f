// Time to the first screen of edgebin-review's page for a large generated batch,
// in Debian's headless Chromium: a report of N lines (default 100,000) shaped as
// the batch writes them (1 % failed, 5 % suspect, three text bands each), the page
// built with --no-images (no scans exist), then opened from file:// REPEATS times.
// Prints the page's size and, per load, in ms from the start of navigation: the
// first screen (summary and first list page rendered, from the head of the page),
// the end of the response, every entry read (filters ready), and the first
// contentful paint.
//
//   npm ci --prefix tests/browser
//   node bench/review_render.mjs [BUILD_DIR] [LINES] [REPEATS]
import { spawnSync } from "node:child_process";
import { mkdtempSync, rmSync, statSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { pathToFileURL } from "node:url";

const require = createRequire(new URL("../tests/browser/package.json", import.meta.url));
const { chromium } = require("playwright-core");

const build = resolve(process.argv[2] || "build");
const lines = Number(process.argv[3] || 100000);
const repeats = Number(process.argv[4] || 3);
const work = mkdtempSync(join(tmpdir(), "edgebin-review-bench-"));

function reportLine(i) {
  const input = `scans/vol${String(Math.floor(i / 1000)).padStart(3, "0")}/p${String(i).padStart(6, "0")}.png`;
  const failed = i % 100 === 7, suspect = !failed && i % 20 === 3;
  const final = 20 + (i * 37) % 100;
  return JSON.stringify({
    input, page: 1, pages: 1, output: failed ? null : "bin/" + input, status: failed ? "failed" : "ok",
    message: failed ? "cannot be read as an image" : "", width: 2480, height: 3508, resolution: [300.0, 300.0],
    seconds: 0.5 + (i % 13) / 10, copied_input: failed ? null : false,
    thresholds: failed ? null : { main_peak: 27, second_peak: final, ratio: 0.128, final, reassigned: null,
      mended_from: suspect && i % 40 === 3 ? 122 : null },
    stroke_widths: failed ? null : { measurements: [[4, 5, 4]], refinement_passes: [[4, 5, 4], [4, 5, 4]],
      bands: [{ top: 0, bottom: 1169, width: 4 }, { top: 1170, bottom: 2339, width: 5 }, { top: 2340, bottom: 3507, width: 4 }] },
    verdict: failed ? null : suspect ? "suspect" : "ok",
    suspect_reasons: failed ? null : suspect ? ["far less ink than a global threshold finds"] : [],
  });
}

const text = [];
for (let i = 0; i < lines; i++) text.push(reportLine(i));
writeFileSync(join(work, "report.jsonl"), text.join("\n") + "\n");
const start = performance.now();
const built = spawnSync(join(build, "edgebin-review"), ["--no-images", "-o", "review.html", "report.jsonl"],
  { cwd: work, encoding: "utf8" });
if (built.status !== 0) throw new Error("edgebin-review failed: " + built.stderr);
console.log(`${lines} report lines; edgebin-review --no-images ${((performance.now() - start) / 1000).toFixed(1)} s; ` +
  `review.html ${(statSync(join(work, "review.html")).size / 1e6).toFixed(1)} MB`);

const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || "/usr/bin/chromium", args: ["--no-sandbox"] });
try {
  for (let r = 0; r < repeats; r++) {
    const page = await browser.newPage({ viewport: { width: 1280, height: 800 } }); page.on("console", (m) => console.log(m.text()));
    await page.goto(pathToFileURL(join(work, "review.html")).href, { waitUntil: "load" });
    const [first, response, ready, paint, rows] = await page.evaluate(() => [
      Number(document.body.dataset.firstScreen),
      performance.getEntriesByType("navigation")[0].responseEnd,
      Number(document.body.dataset.ready),
      (performance.getEntriesByName("first-contentful-paint")[0] || {}).startTime,
      document.querySelectorAll("#list .entry").length]);
    console.log(`load ${r + 1}: first screen ${first.toFixed(0)} ms, response end ${response.toFixed(0)} ms, ` +
      `all read ${ready.toFixed(0)} ms, ` +
      `first contentful paint ${paint === undefined ? "?" : paint.toFixed(0)} ms, ${rows} rows in the DOM`);
    await page.close();
  }
} finally {
  await browser.close();
  rmSync(work, { recursive: true, force: true });
}
