// The review page in Debian's headless Chromium, from file:// with the network
// refused: a small batch over two reports with a damaged file, a suspect page
// and TIFF files the browser needs copies of.
// EDGEBIN_BUILD: the build folder (default build); EDGEBIN_SCREENSHOTS: a folder
// to write the README's screenshots to.
import assert from "node:assert/strict";
import { execFileSync, spawnSync } from "node:child_process";
import { mkdtempSync, mkdirSync, readdirSync, rmSync, statSync, utimesSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { after, before, test } from "node:test";
import { fileURLToPath, pathToFileURL } from "node:url";
import { chromium } from "playwright-core";

const build = resolve(process.env.EDGEBIN_BUILD || fileURLToPath(new URL("../../build", import.meta.url)));
const work = mkdtempSync(join(tmpdir(), "edgebin-review-"));
const run = (program, args) => spawnSync(join(build, program), args, { cwd: work, encoding: "utf8" });
let browser, page;
const refused = [];

before(async () => {
  mkdirSync(join(work, "scans"));
  // Lightly degraded pages, and a heavily degraded one whose higher peak keeps no
  // text: its level is mended, and the self-check calls it suspect.
  const pages = [["a.png", 1, 0.2], ["b.tif", 2, 0.2], ["c.png", 3, 0.2], ["s.png", 4, 0.8]];
  for (const [name, seed, difficulty] of pages) {
    execFileSync(join(build, "edgebin-genpage"), ["--out", "scans/" + name, "--seed", String(seed),
      "--width", "480", "--height", "320", "--difficulty", String(difficulty)], { cwd: work });
  }
  writeFileSync(join(work, "scans/broken.png"), "not an image");
  // Two blocks of one collection, as GNU parallel would run them; the second is
  // written as G4 TIFF, which no browser shows.
  assert.equal(run("edgebin", ["--out-dir", "bin", "--report", "bin/1.jsonl", "--quiet", "scans/a.png",
    "scans/broken.png", "scans/s.png"]).status, 4);
  assert.equal(run("edgebin", ["--out-dir", "bin", "--report", "bin/2.jsonl", "--quiet", "--bilevel",
    "--format", "tif", "scans/b.tif", "scans/c.png"]).status, 0);
  // A resumed first block tries the damaged file again: its report has two lines
  // for it, of which the page counts one.
  assert.equal(run("edgebin", ["--out-dir", "bin", "--report", "bin/1.jsonl", "--quiet", "--skip-existing",
    "scans/a.png", "scans/broken.png", "scans/s.png"]).status, 4);
  const review = () => run("edgebin-review", ["-o", "bin/review.html", "--skip-existing", "bin/1.jsonl", "bin/2.jsonl"]);
  assert.equal(review().status, 0);
  // A rerun keeps every image it made, and the page it writes still knows each
  // result's ink share (the sort by ink below).
  const images = () => readdirSync(join(work, "bin/review-files")).map((name) =>
    [name, statSync(join(work, "bin/review-files", name)).mtimeMs]);
  const made = images();
  assert.equal(made.filter(([name]) => name.endsWith(".jpg") || name.endsWith(".png")).length, 11);
  const again = review();
  assert.equal(again.status, 0, again.stderr);
  assert.deepEqual(images().filter(([name]) => name !== "ink.json"), made.filter(([name]) => name !== "ink.json"));
  // A result written again after its thumbnail was made gets a new one, and only it.
  const later = new Date(Date.now() + 60000);
  utimesSync(join(work, "bin/scans/a.png"), later, later);
  assert.equal(review().status, 0);
  const kept = new Map(made);
  assert.equal(images().filter(([name, time]) => name !== "ink.json" && kept.get(name) !== time).length, 1);
  browser = await chromium.launch({ executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--no-sandbox"] });
  page = await browser.newPage({ viewport: { width: 1024, height: 640 } });
  await page.route(/^(?!file:)/, (route) => { refused.push(route.request().url()); route.abort(); });
  await page.goto(pathToFileURL(join(work, "bin/review.html")).href);
  await page.waitForFunction(() => document.body.dataset.ready);
});

after(async () => {
  await browser?.close();
  rmSync(work, { recursive: true, force: true });
});

const listed = () => page.$$eval("#list .entry", (items) => items.map((item) =>
  [item.querySelector(".name").firstChild.textContent.trim(), item.classList[1]]));

test("summary counts and failed and suspect pages first", async () => {
  const counts = await page.$$eval("#summary dd", (dds) => Object.fromEntries(dds.map((d) => [d.id, d.textContent])));
  assert.deepEqual([counts["count-pages"], counts["count-written"], counts["count-failed"], counts["count-suspect"]],
    ["5", "4", "1", "1"]);
  assert.deepEqual(await listed(), [["scans/broken.png", "failed"], ["scans/s.png", "suspect"],
    ["scans/a.png", "ok"], ["scans/b.tif", "ok"], ["scans/c.png", "ok"]]);
  assert.match(await page.textContent("#list .entry.suspect .reasons"), /the global level was mended/);
  // Every thumbnail on screen has loaded (the failed file has none to load).
  await page.waitForFunction(() => [...document.querySelectorAll(".thumbs img")].every((img) => img.complete));
  const loaded = await page.$$eval(".thumbs img", (imgs) => imgs.map((img) => img.naturalWidth > 0));
  assert.deepEqual(loaded, Array(8).fill(true));
  if (process.env.EDGEBIN_SCREENSHOTS) {
    await page.screenshot({ path: join(process.env.EDGEBIN_SCREENSHOTS, "review-list.png") });
  }
});

test("filters and sorting change the list", async () => {
  await page.selectOption("#verdict", "ok");
  assert.deepEqual((await listed()).map(([, kind]) => kind), ["ok", "ok", "ok"]);
  await page.selectOption("#verdict", "all");
  await page.selectOption("#reason", "the global level was mended");
  assert.deepEqual(await listed(), [["scans/s.png", "suspect"]]);
  await page.selectOption("#reason", "");
  await page.uncheck("#problems-first");
  await page.check("#reverse");
  assert.deepEqual((await listed()).map(([name]) => name),
    ["scans/s.png", "scans/c.png", "scans/broken.png", "scans/b.tif", "scans/a.png"]);
  await page.uncheck("#reverse");
  await page.selectOption("#sort", "ink");  // pages without a result last
  assert.deepEqual((await listed()).map(([name]) => name),
    ["scans/a.png", "scans/s.png", "scans/b.tif", "scans/c.png", "scans/broken.png"]);
  await page.selectOption("#sort", "name");
  await page.check("#problems-first");
});

test("the compare view opens at full size and flips by keyboard", async () => {
  await page.click("#list .entry:nth-child(4)");  // scans/b.tif, shown through copies
  await page.waitForFunction(() => ["full-scan", "full-result"].every((id) => document.getElementById(id).naturalWidth === 480));
  const view = () => page.getAttribute("#compare", "data-view");
  assert.equal(await view(), "overlay");
  await page.keyboard.press("1");
  assert.equal(await view(), "scan");
  await page.keyboard.press("v");
  assert.equal(await view(), "result");
  await page.keyboard.press("n");
  assert.match(await page.textContent("#details h2"), /scans\/c\.png/);
  await page.keyboard.press("p");
  await page.fill("#redo-rthre", "0.1");
  assert.equal(await page.textContent("#redo"), "edgebin --alpha 2 --k 0.6 --rthre 0.1 scans/b.tif bin/scans/b.tif");
  await page.keyboard.press("Escape");
  if (process.env.EDGEBIN_SCREENSHOTS) {  // the suspect page, its ink in red over the scan
    await page.click("#list .entry:nth-child(2)");
    await page.keyboard.press("3");
    await page.screenshot({ path: join(process.env.EDGEBIN_SCREENSHOTS, "review-compare.png") });
    await page.keyboard.press("Escape");
  }
  assert.equal(await page.isHidden("#compare"), true);
  assert.deepEqual(refused, []);
});
