// The studio in a real browser: Debian's Chromium, headless, driven by
// puppeteer-core. The cage is posed with the mouse and the keyboard as a user
// poses it, and what the page shows is checked, bit for bit, against what
// `morvexer deform` writes for the pose the studio saved.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import {
  asFloat32, bunnyCage, decodePng, firstBitDifference, floats, median, need, objPoints, percentile, request, runOk,
  startStudio, webModules,
} from './support.mjs';

const chromium = process.env.MORVEXER_CHROMIUM || '/usr/bin/chromium';
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const VIEW = { width: 1200, height: 760 };
const PANEL = 290;

// Counts the deform requests the page has in flight, from before its scripts run.
function watchDeforms() {
  const original = window.fetch;
  window.deforms = { sent: 0, inFlight: 0, most: 0 };
  window.fetch = async (...args) => {
    const mine = String(args[0]).includes('/api/deform');
    if (mine) {
      window.deforms.sent += 1;
      window.deforms.inFlight += 1;
      window.deforms.most = Math.max(window.deforms.most, window.deforms.inFlight);
    }
    try {
      return await original(...args);
    } finally {
      if (mine) window.deforms.inFlight -= 1;
    }
  };
}

describe('morvexer studio in Chromium, on the bundled scanned model', () => {
  let dir, files, studio, browser, page, rest, restMesh;
  const problems = [];
  const out = () => path.join(dir, 'out');

  before(async () => {
    need(fs.existsSync(chromium), `Chromium is not installed at ${chromium} (scripts/setup-web.sh --browser installs it)`);
    need(fs.existsSync(path.join(webModules, 'puppeteer-core')),
      `puppeteer-core is not installed in ${webModules} (scripts/setup-web.sh installs it)`);
    const puppeteer = createRequire(path.join(webModules, 'index.js'))('puppeteer-core');
    dir = fs.mkdtempSync(path.join(os.tmpdir(), 'morvexer-web-'));
    files = bunnyCage(dir);
    studio = await startStudio(['--cage', files.cage, '--mesh', files.mesh, '--out', out()]);
    rest = floats((await request(studio, 'GET', '/api/cage/rest')).body);
    restMesh = asFloat32(objPoints(files.mesh));
    browser = await puppeteer.launch({
      executablePath: chromium,
      headless: true,
      userDataDir: path.join(dir, 'chromium'),
      args: ['--no-sandbox', '--disable-gpu', '--enable-unsafe-swiftshader', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
      defaultViewport: VIEW,
    });
    page = await browser.newPage();
    page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
    page.on('console', (m) => { if (m.type() === 'error') problems.push(`console: ${m.text()}`); });
    await page.evaluateOnNewDocument(watchDeforms);
    await page.goto(studio.url);
    await page.waitForFunction(() => document.body.dataset.ready, { timeout: 60000 });
    const ready = await page.evaluate(() => document.body.dataset.ready);
    assert.equal(ready, 'true', await page.$eval('#fatal-text', (e) => e.textContent));
  });
  after(async () => {
    if (browser) await browser.close();
    if (studio) await studio.stop();
    if (dir) fs.rmSync(dir, { recursive: true, force: true });
  });

  const idle = () => page.evaluate(() => window.studio.idle());
  const cagePose = async () => Float32Array.from(await page.evaluate(() => Array.from(window.studio.cagePose())));
  const shown = async () => Float32Array.from(await page.evaluate(() => Array.from(window.studio.meshPositions(0))));
  const handles = () => page.evaluate(() => Array.from({ length: window.studio.scene.cage.points }, (_, i) => window.studio.handleOnPage(i)));
  const shownPose = async () => {
    const s = await page.evaluate(() => {
      const state = window.studio.shownPose();
      return { pose: Array.from(state.pose), settings: state.settings };
    });
    return { pose: Float32Array.from(s.pose), settings: s.settings };
  };
  const selection = () => page.evaluate(() => window.studio.selection());
  const key = async (combo) => {
    const keys = combo.split('+');
    for (const k of keys.slice(0, -1)) await page.keyboard.down(k);
    await page.keyboard.press(keys[keys.length - 1]);
    for (const k of keys.slice(0, -1).reverse()) await page.keyboard.up(k);
  };
  // What `morvexer deform` writes for a posed cage and the settings the page sent.
  const deformed = (posed, settings, name) => {
    const file = path.join(dir, name);
    runOk(['--quiet', 'deform', '--cage', files.cage, '--mesh', files.mesh, '--posed', posed,
      '--strength', settings.strength, '--stretch', settings.stretch, '-o', file]);
    return asFloat32(objPoints(file));
  };
  // Saves from the page, by the button or the shortcut, and waits for the answer.
  const save = async (how) => {
    const before = await page.evaluate(() => window.studio.lastSave());
    if (how === 'button') await page.click('#save');
    else await key('Control+s');
    await page.waitForFunction((b) => {
      const s = window.studio.lastSave();
      return s && (!b || s.files[0] !== b.files[0]);
    }, { timeout: 20000 }, before);
    return page.evaluate(() => window.studio.lastSave());
  };
  // The page's pose and mesh against the saved cage and deform, bit for bit.
  const matchesDeform = async (saved, name) => {
    const pose = await cagePose();
    const cageFile = path.join(saved.folder, saved.files[0]);
    assert.equal(firstBitDifference(asFloat32(objPoints(cageFile)), pose), -1, 'the saved cage is the pose on the page');
    const state = await shownPose();
    assert.equal(firstBitDifference(state.pose, pose), -1, 'the mesh shown is for the pose shown');
    const expected = deformed(cageFile, state.settings, name);
    const positions = await shown();
    const i = firstBitDifference(positions, expected);
    assert.equal(i, -1, `float ${i} on the page is ${positions[i]}, deform wrote ${expected[i]}`);
    return { positions, settings: state.settings };
  };

  let grabbed, dragged, dragResult;

  it('shows the figures of the binding', async () => {
    const text = (id) => page.$eval(id, (e) => e.textContent);
    assert.equal(await text('#fig-points'), '1,839');
    assert.equal(await text('#fig-cage-points'), '98');
    assert.equal(await text('#fig-cage-faces'), '192');
    assert.match(await text('#fig-memory'), /^[\d.]+ MB$/);
    assert.match(await text('#fig-bind'), /^\d+\.\d\d s$/);
    assert.equal(await text('#outside-count'), '0');
    assert.equal(firstBitDifference(await cagePose(), rest), -1, 'the cage starts at rest');
  });

  it('selects a cage point by clicking where it is drawn, and drags it; the mesh shown is deform\'s, bit for bit', async (t) => {
    // A point of the cage's top, drawn clear of every other point.
    const onPage = await handles();
    const top = Math.max(...Array.from({ length: onPage.length }, (_, i) => rest[i * 3 + 1]));
    const centre = onPage.reduce((c, h, i) => (rest[i * 3 + 1] === top ? { x: c.x + h.x, y: c.y + h.y, n: c.n + 1 } : c), { x: 0, y: 0, n: 0 });
    const clear = (i) => onPage.every((h, j) => j === i || Math.hypot(h.x - onPage[i].x, h.y - onPage[i].y) > 18);
    grabbed = onPage.map((h, i) => i).filter((i) => rest[i * 3 + 1] === top && clear(i))
      .sort((a, b) => Math.hypot(onPage[a].x - centre.x / centre.n, onPage[a].y - centre.y / centre.n)
        - Math.hypot(onPage[b].x - centre.x / centre.n, onPage[b].y - centre.y / centre.n))[0];
    assert.notEqual(grabbed, undefined, 'a top point drawn apart from the others');
    const h = onPage[grabbed];
    await page.mouse.click(h.x, h.y);
    assert.deepEqual(await selection(), [grabbed]);

    // Shift-click adds a point and takes it away again.
    const other = onPage.findIndex((o, j) => j !== grabbed && clear(j) && o.x < VIEW.width - PANEL);
    await page.keyboard.down('Shift');
    await page.mouse.click(onPage[other].x, onPage[other].y);
    assert.deepEqual(await selection(), [grabbed, other].sort((a, b) => a - b));
    await page.mouse.click(onPage[other].x, onPage[other].y);
    await page.keyboard.up('Shift');
    assert.deepEqual(await selection(), [grabbed]);

    // A drag at a hand's pace: a move every 16 ms for about a second.
    const before = await page.evaluate(() => window.studio.stats());
    await page.mouse.move(h.x, h.y);
    await page.mouse.down();
    const start = performance.now();
    const moves = 60;
    for (let k = 1; k <= moves; ++k) {
      await page.mouse.move(h.x + 2 * k, h.y - k);
      await sleep(16);
    }
    await page.mouse.up();
    const seconds = (performance.now() - start) / 1000;
    await idle();
    const after = await page.evaluate(() => window.studio.stats());
    const updates = after.updates - before.updates;
    const trips = after.roundTrips.slice(-updates), evaluations = after.evaluations.slice(-updates);
    const line = `bunny, drag in the browser: ${updates} updates in ${seconds.toFixed(2)} s = ${(updates / seconds).toFixed(1)} updates/s `
      + `for ${moves} pointer moves; round trip median ${median(trips).toFixed(2)} ms, 90th percentile ${percentile(trips, 0.9).toFixed(2)} ms `
      + `(the server's evaluation: median ${median(evaluations).toFixed(2)} ms; the rest is the page's drawing and the wire)`;
    t.diagnostic(line);
    console.log(line);
    assert.ok(updates >= 5, `only ${updates} updates during the drag`);

    dragged = await cagePose();
    for (let i = 0; i < rest.length; ++i) {
      if (Math.floor(i / 3) === grabbed) continue;
      assert.equal(dragged[i], rest[i], `only the grabbed point moves (float ${i})`);
    }
    assert.ok(Math.hypot(...[0, 1, 2].map((k) => dragged[grabbed * 3 + k] - rest[grabbed * 3 + k])) > 0.5, 'the point moved');

    const saved = await save('button');
    assert.match(saved.files.join(' '), /^pose-001-cage\.obj pose-001-mesh-bunny\.obj pose-001\.vtn$/);
    dragResult = await matchesDeform(saved, 'dragged.obj');
    assert.ok(firstBitDifference(dragResult.positions, restMesh) !== -1, 'the mesh follows the cage');
  });

  it('never has more than one update in flight, however fast the pointer moves', async () => {
    const onPage = await handles();
    const h = onPage[grabbed];
    const before = await page.evaluate(() => ({ ...window.deforms, updates: window.studio.stats().updates }));
    await page.mouse.move(h.x, h.y);
    await page.mouse.down();
    await page.mouse.move(h.x - 150, h.y + 40, { steps: 120 });
    await page.mouse.up();
    await idle();
    const after = await page.evaluate(() => ({ ...window.deforms, updates: window.studio.stats().updates }));
    assert.equal(after.most, 1, 'at most one deform request at a time');
    assert.ok(after.sent - before.sent < 120, `${after.sent - before.sent} requests for 120 moves: poses were not coalesced`);
    const state = await shownPose();
    assert.equal(firstBitDifference(state.pose, await cagePose()), -1, 'the last pose is the one shown');
    await key('Control+z');
    await idle();
    assert.equal(firstBitDifference(await cagePose(), dragged), -1, 'undo takes the whole drag back');
  });

  it('moves the strength slider; the blend shown is deform\'s, bit for bit', async () => {
    const box = await (await page.$('#strength')).boundingBox();
    await page.mouse.click(box.x + box.width * 0.35, box.y + box.height / 2);
    await idle();
    const settings = await page.evaluate(() => window.studio.settings());
    const strength = Number(settings.strength);
    assert.ok(strength > 0.1 && strength < 0.6, `the slider gave ${settings.strength}`);
    assert.equal(await page.$eval('#strength-value', (e) => e.textContent), settings.strength);
    await page.evaluate(() => document.activeElement.blur());
    const saved = await save('shortcut');
    assert.equal(saved.files[0], 'pose-002-cage.obj');
    const blend = await matchesDeform(saved, 'blend.obj');
    assert.equal(blend.settings.strength, settings.strength);
    // Part of the way from rest to the full deformation.
    for (let k = 0; k < blend.positions.length; ++k) {
      const expected = restMesh[k] + strength * (dragResult.positions[k] - restMesh[k]);
      assert.ok(Math.abs(blend.positions[k] - expected) < 2e-5, `blend at float ${k}`);
    }
  });

  it('undoes, redoes and resets to rest from the keyboard, and selects by box', async () => {
    const full = await shown();
    await key('Control+z');
    await idle();
    assert.equal(firstBitDifference(await cagePose(), rest), -1, 'undo goes back to rest');
    await key('Control+Shift+Z');
    await idle();
    assert.equal(firstBitDifference(await cagePose(), dragged), -1, 'redo comes back');
    assert.equal(firstBitDifference(await shown(), full), -1, 'and so does the mesh');
    await key('Home');
    await idle();
    assert.equal(firstBitDifference(await cagePose(), rest), -1, 'reset to rest');
    await key('Control+z');
    await idle();
    assert.equal(firstBitDifference(await cagePose(), dragged), -1);

    // Ctrl-drag replaces the selection with the points in the box, shift-drag adds.
    const onPage = await handles();
    const top = onPage.filter((p, i) => rest[i * 3 + 1] === rest[grabbed * 3 + 1]);
    const g = { x: top.reduce((a, p) => a + p.x, 0) / top.length, y: top.reduce((a, p) => a + p.y, 0) / top.length };
    const within = (l, t, r, b) => onPage.map((h, i) => i).filter((i) => onPage[i].x >= l && onPage[i].x <= r && onPage[i].y >= t && onPage[i].y <= b);
    const boxDrag = async (modifier, l, t, r, b) => {
      await page.keyboard.down(modifier);
      await page.mouse.move(l, t);
      await page.mouse.down();
      await page.mouse.move(r, b, { steps: 5 });
      await page.mouse.up();
      await page.keyboard.up(modifier);
    };
    // A box about (x, y), its press corner moved clear of every point so it lands on empty space.
    const around = (x, y, w, h) => {
      for (let shift = 0; ; shift += 3) {
        const l = x - w - shift, t = y - h - shift;
        if (onPage.every((p) => Math.hypot(p.x - l, p.y - t) > 14)) return [l, t, x + w, y + h];
      }
    };
    const first = around(g.x, g.y, 60.5, 40.5);
    const expected = within(...first);
    assert.ok(expected.length >= 2);
    await boxDrag('Control', ...first);
    assert.deepEqual(await selection(), expected);
    const leftmost = onPage.reduce((a, p) => (p.x < a.x ? p : a));
    const second = around(leftmost.x, leftmost.y, 20.5, 20.5);
    const more = within(...second);
    assert.ok(more.length >= 1);
    await boxDrag('Shift', ...second);
    assert.deepEqual(await selection(), [...new Set([...expected, ...more])].sort((a, b) => a - b));
    await key('Escape');
    assert.deepEqual(await selection(), []);
  });

  it('takes typed coordinates for one point, and shows the help', async () => {
    const onPage = await handles();
    await page.mouse.click(onPage[grabbed].x, onPage[grabbed].y);
    assert.deepEqual(await selection(), [grabbed]);
    const before = await cagePose();
    await page.click('#coord-y', { clickCount: 3 });
    await page.keyboard.type('7.3');
    await page.keyboard.press('Enter');
    await idle();
    const after = await cagePose();
    assert.equal(after[grabbed * 3 + 1], Math.fround(7.3));
    after[grabbed * 3 + 1] = before[grabbed * 3 + 1];
    assert.equal(firstBitDifference(after, before), -1, 'nothing else moved');
    // A number beyond single precision is not taken.
    await page.click('#coord-x', { clickCount: 3 });
    await page.keyboard.type('1e39');
    await page.keyboard.press('Enter');
    await idle();
    assert.equal(firstBitDifference(await cagePose(), after.map((v, i) => (i === grabbed * 3 + 1 ? Math.fround(7.3) : v))), -1);
    await key('Escape');
    await key('Control+z');
    await idle();
    assert.equal(firstBitDifference(await cagePose(), before), -1);

    assert.equal(await page.$eval('#help', (e) => e.hidden), true);
    await key('?');
    assert.equal(await page.$eval('#help', (e) => e.hidden), false);
    await key('Escape');
    assert.equal(await page.$eval('#help', (e) => e.hidden), true);
  });

  it('scales a selection about its centre with the gizmo, and undoes it whole', async () => {
    const onPage = await handles();
    const top = onPage.filter((p, i) => rest[i * 3 + 1] === rest[grabbed * 3 + 1]);
    const mid = { x: top.reduce((a, p) => a + p.x, 0) / top.length, y: top.reduce((a, p) => a + p.y, 0) / top.length };
    let l = mid.x - 70.5, t = mid.y - 45.5;
    while (onPage.some((p) => Math.hypot(p.x - l, p.y - t) <= 14)) l -= 3, t -= 3;
    await page.keyboard.down('Control');
    await page.mouse.move(l, t);
    await page.mouse.down();
    await page.mouse.move(mid.x + 70.5, mid.y + 45.5, { steps: 5 });
    await page.mouse.up();
    await page.keyboard.up('Control');
    const chosen = await selection();
    assert.ok(chosen.length >= 3, `${chosen.length} points in the box`);

    // A shortcut typed into a field is text, not a command: the keys go to the page.
    await page.evaluate(() => document.activeElement.blur());
    await key('r');
    assert.equal(await page.$eval('.tools button.active', (e) => e.dataset.mode), 'scale');
    const before = await cagePose();
    const centre = [0, 1, 2].map((k) => chosen.reduce((a, i) => a + before[i * 3 + k], 0) / chosen.length);
    const c = await page.evaluate((m) => window.studio.onPage(...m), centre);
    // The gizmo's middle box scales evenly; pressed a little off its centre, so the drag has a direction.
    await page.mouse.move(c.x + 3, c.y + 3);
    await page.mouse.down();
    await page.mouse.move(c.x + 6, c.y + 6, { steps: 4 });
    await page.mouse.up();
    await idle();
    const after = await cagePose();
    const factors = [];
    for (let i = 0; i < after.length / 3; ++i) {
      for (let k = 0; k < 3; ++k) {
        const was = before[i * 3 + k] - centre[k], is = after[i * 3 + k] - centre[k];
        if (!chosen.includes(i)) assert.equal(after[i * 3 + k], before[i * 3 + k], `point ${i} is not selected`);
        else if (Math.abs(was) > 0.5) factors.push(is / was);
      }
    }
    const d = median(factors);
    assert.ok(d > 1.2, `scaled by ${d}`);
    for (const f of factors) assert.ok(Math.abs(f - d) < 1e-4 * d, `one factor for every point and axis: ${f} against ${d}`);
    await key('w');
    await key('Control+z');
    await idle();
    assert.equal(firstBitDifference(await cagePose(), before), -1, 'undo takes the whole scaling back');
  });

  it('orbits, pans and zooms with the mouse, and frames the cage', async () => {
    const before = await handles();
    const spread = (h) => Math.hypot(h[0].x - h[h.length - 1].x, h[0].y - h[h.length - 1].y);
    const empty = { x: 40.5, y: 60.5 };
    while (before.some((p) => Math.hypot(p.x - empty.x, p.y - empty.y) <= 20)) empty.y += 10;
    const chosen = await selection();
    await page.mouse.move(empty.x, empty.y);
    await page.mouse.down();
    await page.mouse.move(empty.x + 120, empty.y + 20, { steps: 8 });
    await page.mouse.up();
    const orbited = await handles();
    assert.ok(orbited.some((p, i) => Math.hypot(p.x - before[i].x, p.y - before[i].y) > 20), 'a left drag orbits');
    assert.deepEqual(await selection(), chosen, 'and selects nothing');

    await page.mouse.move(empty.x, empty.y);
    await page.mouse.down({ button: 'right' });
    await page.mouse.move(empty.x + 60, empty.y + 40, { steps: 6 });
    await page.mouse.up({ button: 'right' });
    const panned = await handles();
    const shifts = panned.map((p, i) => [p.x - orbited[i].x, p.y - orbited[i].y]);
    assert.ok(Math.hypot(...shifts[0]) > 20, 'a right drag pans');
    // Sideways, without turning: every point the same way, the nearer ones further.
    const [ux, uy] = shifts[0].map((v) => v / Math.hypot(...shifts[0]));
    for (const [dx, dy] of shifts) assert.ok(Math.abs(dx * uy - dy * ux) < 0.05 * Math.hypot(dx, dy) + 0.5, 'every point the same way');

    await page.mouse.move((VIEW.width - PANEL) / 2, VIEW.height / 2);
    await page.mouse.wheel({ deltaY: -400 });
    await page.waitForFunction((s) => {
      const n = window.studio.scene.cage.points;
      const a = window.studio.handleOnPage(0), b = window.studio.handleOnPage(n - 1);
      return Math.hypot(a.x - b.x, a.y - b.y) > s * 1.1;
    }, { timeout: 5000 }, spread(panned));

    await key('f');
    const framed = await handles();
    assert.ok(framed.every((p) => p.x > 0 && p.x < VIEW.width - PANEL && p.y > 0 && p.y < VIEW.height), 'the whole cage in view');
  });

  it('loads a posed cage from a file, and draws the mesh', async () => {
    const posedFile = path.join(dir, 'demo', 'bunny_cage_posed.obj');
    const input = await page.$('#load-file');
    const x0 = (await cagePose())[0];
    await input.uploadFile(posedFile);
    await page.waitForFunction((x) => window.studio.cagePose()[0] !== x, { timeout: 20000 }, x0);
    await idle();
    assert.equal(firstBitDifference(await cagePose(), asFloat32(objPoints(posedFile))), -1);
    // The page holds poses at single precision, so it is the saved pose that deform must match.
    const saved = await save('button');
    assert.equal(saved.files[0], 'pose-003-cage.obj');
    await matchesDeform(saved, 'loaded.obj');

    // The mesh on screen, at full strength: warm clay where its middle is drawn,
    // and over a good part of the view.
    const box = await (await page.$('#strength')).boundingBox();
    await page.mouse.click(box.x + box.width - 2, box.y + box.height / 2);
    await idle();
    assert.equal((await page.evaluate(() => window.studio.settings())).strength, '1');
    await page.mouse.move(5, 5);
    await sleep(200);
    const shot = await page.screenshot({ type: 'png' });
    if (process.env.MORVEXER_STUDIO_SCREENSHOT) fs.writeFileSync(process.env.MORVEXER_STUDIO_SCREENSHOT, shot);
    const png = decodePng(shot);
    const scale = png.width / VIEW.width;
    const warm = (x, y) => {
      const at = (Math.round(y * scale) * png.width + Math.round(x * scale)) * 4;
      const [r, g, b] = png.rgba.subarray(at, at + 3);
      return r > b + 40 && r >= g && g > b;
    };
    let count = 0;
    for (let y = 0; y < VIEW.height; y += 2) for (let x = 0; x < VIEW.width - PANEL; x += 2) count += warm(x, y);
    const share = count / ((VIEW.height / 2) * ((VIEW.width - PANEL) / 2));
    assert.ok(share > 0.05, `only ${(share * 100).toFixed(1)} % of the view is the mesh's colour`);
    const positions = await shown();
    const mid = [0, 1, 2].map((k) => positions.filter((_, i) => i % 3 === k).reduce((a, b) => a + b) / (positions.length / 3));
    const c = await page.evaluate((m) => window.studio.onPage(...m), mid);
    let around = 0;
    for (let dy = -6; dy <= 6; dy += 3) for (let dx = -6; dx <= 6; dx += 3) around += warm(c.x + dx, c.y + dy);
    assert.ok(around >= 20, `the middle of the mesh is drawn in its colour (${around} of 25)`);
  });

  it('raised no error in the page, and the studio stops cleanly on Ctrl-C', async () => {
    assert.deepEqual(problems, []);
    const end = await studio.stop();
    studio = null;
    assert.equal(end.code, 0, end.stderr);
  });
});
