// morvexer studio over plain HTTP: what it answers, that it answers exactly what
// `morvexer deform` writes, every refusal, and that it keeps answering right
// after malformed and concurrent requests.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';

import {
  asFloat32, boxCage, bumpySphere, bunnyCage, bytes, firstBitDifference, floats, need, objPoints, request, run, runOk,
  startStudio, tool, writeObj,
} from './support.mjs';

const oneLine = (body) => {
  const text = body.toString('utf8');
  assert.match(text, /^[^\n]+\n$/, `not one line: ${JSON.stringify(text)}`);
  return text.trim();
};

// A pose that moves every point, differently by height, so every weight matters.
function twisted(rest, amount) {
  const pose = new Float32Array(rest);
  for (let i = 0; i < pose.length; i += 3) {
    const y = rest[i + 1];
    pose[i] = Math.fround(rest[i] + amount * 0.08 * y);
    pose[i + 2] = Math.fround(rest[i + 2] - amount * 0.05 * y * y / 10);
  }
  return pose;
}

describe('morvexer studio over HTTP, on the bundled scanned model', () => {
  let dir, files, studio, scene, rest;
  const out = () => path.join(dir, 'out');

  before(async () => {
    need(fs.existsSync(tool), `the tool is not built at ${tool}`);
    dir = fs.mkdtempSync(path.join(process.env.TMPDIR || '/tmp', 'morvexer-web-'));
    files = bunnyCage(dir);
    studio = await startStudio(['--cage', files.cage, '--mesh', files.mesh, '--out', out()]);
    scene = JSON.parse((await request(studio, 'GET', '/api/scene')).body);
    rest = floats((await request(studio, 'GET', '/api/cage/rest')).body);
  });
  after(async () => {
    if (studio) await studio.stop();
    if (dir) fs.rmSync(dir, { recursive: true, force: true });
  });

  // Bytes as they are written, on a connection of their own; what came back within `wait` ms.
  const raw = (text, wait = 300) => new Promise((resolve) => {
    const socket = net.connect(studio.port, '127.0.0.1');
    let answer = '';
    socket.on('data', (d) => { answer += d; });
    socket.on('error', () => resolve(answer));
    socket.on('close', () => resolve(answer));
    socket.on('connect', () => {
      socket.write(text);
      setTimeout(() => socket.destroy(), wait);
    });
  });
  const deform = (pose, query = '') => request(studio, 'POST', `/api/deform${query}`, { body: bytes(pose) });
  const poseNow = async () => floats((await request(studio, 'GET', '/api/cage/pose')).body);

  it('answers the scene, the meshes and the cage as the files hold them', async () => {
    const bunny = objPoints(files.mesh), cage = objPoints(files.cage);
    assert.equal(scene.meshes.length, 1);
    assert.equal(scene.meshes[0].name, 'bunny');
    assert.equal(scene.meshes[0].points, bunny.length / 3);
    assert.equal(scene.meshes[0].triangles, 3674);
    assert.equal(scene.cage.points, cage.length / 3);
    assert.equal(scene.figures.points, 1839);
    assert.equal(scene.figures.cageFaces, 192, 'the bound cage, triangulated');
    assert.ok(scene.figures.bindSeconds > 0);
    assert.match(scene.figures.memory, /^[\d.]+ [KM]?B$/);
    assert.equal(scene.strength, 1);
    assert.equal(scene.out, out());
    assert.equal(firstBitDifference(rest, asFloat32(cage)), -1);
    const meshRest = floats((await request(studio, 'GET', '/api/mesh/0/rest')).body);
    assert.equal(firstBitDifference(meshRest, asFloat32(bunny)), -1);
    const tris = (await request(studio, 'GET', '/api/mesh/0/triangles')).body;
    const t = new Uint32Array(tris.buffer.slice(tris.byteOffset, tris.byteOffset + tris.length));
    assert.equal(t.length, 3674 * 3);
    assert.ok(t.every((k) => k < 1839));
    const outside = JSON.parse((await request(studio, 'GET', '/api/outside')).body);
    assert.deepEqual(outside, { total: 0, meshes: [{ count: 0, indices: [] }] });
  });

  it('deforms a pose exactly as `morvexer deform` does, and saves it under new names inside --out', async () => {
    const pose = twisted(rest, 1);
    const r = await deform(pose, '?strength=0.6&stretch=1');
    assert.equal(r.status, 200);
    assert.ok(Number(r.headers['x-morvexer-evaluate-ms']) >= 0);
    const shown = floats(r.body);
    assert.equal(shown.length, 1839 * 3);

    const saved = await request(studio, 'POST', '/api/save?strength=0.6&stretch=1', { body: bytes(pose) });
    assert.equal(saved.status, 200);
    const answer = JSON.parse(saved.body);
    assert.equal(answer.folder, out());
    assert.deepEqual(answer.files, ['pose-001-cage.obj', 'pose-001-mesh-bunny.obj', 'pose-001.vtn']);
    assert.deepEqual(fs.readdirSync(out()).sort(), answer.files, 'nothing else, no temporary file left');
    const cageFile = path.join(out(), 'pose-001-cage.obj');
    assert.equal(firstBitDifference(asFloat32(objPoints(cageFile)), pose), -1, 'the saved cage is the pose sent');

    const expected = path.join(dir, 'expected.obj');
    runOk(['--quiet', 'deform', '--cage', files.cage, '--mesh', files.mesh, '--posed', cageFile,
      '--strength', '0.6', '--stretch', '1', '-o', expected]);
    const i = firstBitDifference(shown, asFloat32(objPoints(expected)));
    assert.equal(i, -1, `float ${i} differs from deform's`);
    assert.ok(fs.readFileSync(path.join(out(), 'pose-001-mesh-bunny.obj')).equals(fs.readFileSync(expected)),
      'the saved mesh is the file deform writes');
    // The saved scene carries the binding, the strength and the stretch.
    const again = path.join(dir, 'again.obj');
    runOk(['--quiet', 'deform', '--scene', path.join(out(), 'pose-001.vtn'), '--posed', cageFile, '-o', again]);
    assert.ok(fs.readFileSync(again).equals(fs.readFileSync(expected)));

    // Full strength differs from the blend, and the blend lies on the way to it.
    const full = floats((await deform(pose, '?strength=1')).body);
    const meshRest = floats((await request(studio, 'GET', '/api/mesh/0/rest')).body);
    let moved = 0;
    for (let k = 0; k < full.length; ++k) {
      moved = Math.max(moved, Math.abs(full[k] - meshRest[k]));
      assert.ok(Math.abs(shown[k] - (meshRest[k] + 0.6 * (full[k] - meshRest[k]))) < 2e-5, `blend at ${k}`);
    }
    assert.ok(moved > 0.1, 'the pose moves the mesh');

    const second = JSON.parse((await request(studio, 'POST', '/api/save', { body: bytes(pose) })).body);
    assert.deepEqual(second.files, ['pose-002-cage.obj', 'pose-002-mesh-bunny.obj', 'pose-002.vtn'], 'never overwrites');
    // A number as high as numbers go: the next would wrap round to one in use.
    const highest = path.join(out(), 'pose-18446744073709551615-cage.obj');
    fs.writeFileSync(highest, 'kept');
    const wrapped = await request(studio, 'POST', '/api/save', { body: bytes(pose) });
    assert.equal(wrapped.status, 409, wrapped.body);
    assert.equal(fs.readFileSync(highest, 'utf8'), 'kept');
    fs.unlinkSync(highest);
    const loaded = await request(studio, 'POST', '/api/load-pose', { body: fs.readFileSync(cageFile) });
    assert.equal(loaded.status, 200);
    assert.equal(firstBitDifference(floats(loaded.body), pose), -1);
  });

  it('refuses a request without the token, for another host or from another origin', async () => {
    const scenePath = '/api/scene';
    const cases = [
      ['no token', { token: null }],
      ['another token', { token: 'f'.repeat(32) }],
      ['the token cut short', { token: studio.token.slice(0, -1) }],
      ['the token and more', { token: `${studio.token}0` }],
      ['another host name', { host: `attacker.example:${studio.port}` }],
      ['localhost', { host: `localhost:${studio.port}` }],
      ['another port', { host: `127.0.0.1:${studio.port + 1}` }],
      ['no port', { host: '127.0.0.1' }],
    ];
    for (const [what, options] of cases) {
      const r = await request(studio, 'GET', scenePath, options);
      assert.equal(r.status, 403, what);
      assert.match(oneLine(r.body), /^refused: /, what);
    }
    const bare = async (headers) => raw(`GET ${scenePath} HTTP/1.1\r\n${headers}X-Morvexer-Token: ${studio.token}\r\n\r\n`);
    const right = `Host: 127.0.0.1:${studio.port}\r\n`;
    assert.match(await bare(right), /^HTTP\/1\.1 200 /, 'the raw request itself is fine');
    for (const [what, headers] of [['no Host', ''], ['an empty Host', 'Host: \r\n'], ['two Hosts', `${right}Host: evil.example\r\n`],
      ['two Hosts, the good one last', `Host: evil.example\r\n${right}`]]) {
      assert.match(await bare(headers), /^HTTP\/1\.1 403 /, what);
    }
    const withQuery = await request(studio, 'GET', `${scenePath}?token=${studio.token}`, { token: null });
    assert.equal(withQuery.status, 200, 'the token as a query parameter');
    const wrongQuery = await request(studio, 'GET', `${scenePath}?token=${'0'.repeat(32)}`, { token: null });
    assert.equal(wrongQuery.status, 403);
    // The page itself needs no token, but the host check holds for it too.
    assert.equal((await request(studio, 'GET', '/', { token: null })).status, 200);
    assert.equal((await request(studio, 'GET', '/', { token: null, host: `evil.example:${studio.port}` })).status, 403);

    const pose = bytes(rest);
    for (const origin of ['http://attacker.example', `http://localhost:${studio.port}`, 'null', `https://127.0.0.1:${studio.port}`]) {
      const r = await request(studio, 'POST', '/api/deform', { body: pose, headers: { Origin: origin } });
      assert.equal(r.status, 403, origin);
      oneLine(r.body);
    }
    const same = await request(studio, 'POST', '/api/deform', { body: pose, headers: { Origin: `http://127.0.0.1:${studio.port}` } });
    assert.equal(same.status, 200);
  });

  it('refuses a body over the cap, with or without a length', async () => {
    const cap = scene.maxBody;
    assert.ok(cap >= 98 * 12);
    const r = await request(studio, 'POST', '/api/load-pose', { body: Buffer.alloc(cap + 1, 0x20) });
    assert.equal(r.status, 413);
    oneLine(r.body);
    const chunked = await new Promise((resolve, reject) => {
      const req = http.request({
        host: '127.0.0.1', port: studio.port, method: 'POST', path: '/api/deform', agent: false,
        headers: { Host: `127.0.0.1:${studio.port}`, 'X-Morvexer-Token': studio.token, 'Transfer-Encoding': 'chunked' },
      }, (res) => {
        res.resume();
        resolve(res.statusCode);
      });
      req.on('error', reject);
      const piece = Buffer.alloc(64 * 1024);
      for (let sent = 0; sent <= cap; sent += piece.length) req.write(piece);
      req.end();
    });
    assert.equal(chunked, 413);
    const justFits = await request(studio, 'POST', '/api/load-pose', { body: Buffer.alloc(cap, 0x20) });
    assert.equal(justFits.status, 400, 'at the cap the body is read, and refused as no OBJ');
  });

  it('refuses a malformed pose or setting with one line, and changes nothing', async () => {
    const good = twisted(rest, -0.5);
    const before = await deform(good, '?strength=0.8&stretch=0.5');
    assert.equal(before.status, 200);
    const bad = [];
    bad.push(['no body', Buffer.alloc(0), /0 bytes/]);
    bad.push(['one point short', bytes(good.subarray(3)), /bytes/]);
    bad.push(['one byte more', Buffer.concat([bytes(good), Buffer.alloc(1)]), /bytes/]);
    for (const [what, value] of [['NaN', NaN], ['infinity', Infinity], ['minus infinity', -Infinity]]) {
      const p = new Float32Array(good);
      p[40] = value;
      bad.push([what, bytes(p), /point 14: y is not a finite number/]);
    }
    for (const [what, body, reason] of bad) {
      const r = await request(studio, 'POST', '/api/deform?strength=0.1', { body });
      assert.equal(r.status, 400, what);
      assert.match(oneLine(r.body), reason, what);
      const s = await request(studio, 'POST', '/api/save', { body });
      assert.equal(s.status, 400, `save: ${what}`);
    }
    for (const query of ['strength=abc', 'strength=1.5', 'strength=-0.1', 'strength=nan', 'strength=inf', 'strength=',
      'strength=0.5x', 'stretch=-1', 'stretch=1e999', 'stretch=two']) {
      const r = await deform(rest, `?${query}`);
      assert.equal(r.status, 400, query);
      assert.match(oneLine(r.body), /strength|stretch/, query);
    }
    assert.equal(firstBitDifference(await poseNow(), good), -1, 'the pose stays the last good one');
    assert.deepEqual(fs.readdirSync(out()).filter((f) => f.startsWith('pose-003')), [], 'no save happened');
    // Strength and stretch stay as the last good request left them.
    const after = await deform(good);
    assert.ok(after.body.equals(before.body));
  });

  it('answers only the bundled page\'s files, from no other place', async () => {
    const page = await request(studio, 'GET', '/', { token: null });
    assert.match(page.headers['content-type'], /text\/html/);
    assert.match(page.headers['content-security-policy'], /default-src 'self'/);
    const three = await request(studio, 'GET', '/vendor/three.module.js', { token: null });
    assert.equal(three.status, 200);
    assert.match(three.headers['content-type'], /javascript/);
    // As it stands, whatever the browser accepts: compressing three.js on every
    // request took seconds on a busy machine, and loopback gains nothing by it.
    const core = await request(studio, 'GET', '/vendor/three.core.js', { token: null, headers: { 'Accept-Encoding': 'gzip, deflate, br' } });
    assert.equal(core.status, 200);
    assert.equal(core.headers['content-encoding'], undefined);
    assert.ok(core.body.equals(fs.readFileSync(path.join(path.dirname(tool), 'web', 'vendor', 'three.core.js'))));
    const sceneAgain = await request(studio, 'GET', '/api/scene', { headers: { 'Accept-Encoding': 'br' } });
    assert.equal(sceneAgain.headers['content-encoding'], undefined);
    assert.deepEqual(JSON.parse(sceneAgain.body), scene);
    for (const p of ['/../../../../etc/passwd', '/%2e%2e/%2e%2e/%2e%2e/etc/passwd', '/vendor/../../../CMakeCache.txt',
      '//etc/passwd', '/vendor/%2e%2e/%2e%2e/build.ninja', '/main.js%00.html', '/vendor', '/web/index.html']) {
      const r = await request(studio, 'GET', p, { token: null });
      assert.ok(r.status === 404 || r.status === 400, `${p}: ${r.status}`);
      assert.ok(!/root:|CMAKE|ninja/.test(r.body.toString()), p);
    }
    assert.equal((await request(studio, 'GET', '/api/mesh/1/rest')).status, 404, 'one mesh only');
    assert.equal((await request(studio, 'GET', '/api/mesh/99999999999999999999/rest')).status, 404);
    assert.equal((await request(studio, 'GET', '/api/nothing')).status, 404);
    assert.notEqual((await request(studio, 'PUT', '/api/deform', { body: bytes(rest) })).status, 200);
    assert.equal((await request(studio, 'GET', '/api/deform')).status, 404);
  });

  it('reads a posed cage from OBJ text, and refuses what is not one', async () => {
    const cases = [
      ['not an OBJ', 'hello\nworld\n', /the posed cage: no vertices/],
      ['a bad number', 'v 1 2 x\n', /the posed cage: line 1: z coordinate 'x' is not a finite number/],
      ['too few points', 'v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n', /has 3 points, but the cage has 98/],
      ['binary', Buffer.from([0x76, 0x20, 0x00, 0x01]), /binary data/],
      ['beyond single precision', `${'v 0 0 0\n'.repeat(97)}v 1e300 0 0\n`, /point 98 lies beyond the range of single precision/],
    ];
    for (const [what, body, reason] of cases) {
      const r = await request(studio, 'POST', '/api/load-pose', { body });
      assert.equal(r.status, 400, what);
      assert.match(oneLine(r.body), reason, what);
    }
  });

  it('survives malformed and concurrent requests and answers right after them', async () => {
    await raw('\x00\x01\x02 garbage\r\n\r\n');
    await raw('GET\r\n\r\n');
    await raw(`GET /api/scene HTTP/1.1\r\nHost: 127.0.0.1:${studio.port}\r\nX-Big: ${'a'.repeat(200000)}\r\n\r\n`);
    await raw(`POST /api/deform HTTP/1.1\r\nHost: 127.0.0.1:${studio.port}\r\nX-Morvexer-Token: ${studio.token}\r\nContent-Length: 1176\r\n\r\nshort`, 50);
    await raw(`POST /api/deform HTTP/1.1\r\nHost: 127.0.0.1:${studio.port}\r\nX-Morvexer-Token: ${studio.token}\r\nContent-Length: -5\r\n\r\n`);
    await raw(`POST /api/deform HTTP/1.1\r\nHost: 127.0.0.1:${studio.port}\r\nX-Morvexer-Token: ${studio.token}\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n`);
    // A reader that hangs up while a large answer is still being written (a
    // broken pipe must not end the server).
    for (let k = 0; k < 10; ++k) {
      await new Promise((resolve) => {
        const socket = net.connect(studio.port, '127.0.0.1', () => {
          socket.write(`GET /vendor/three.module.js HTTP/1.1\r\nHost: 127.0.0.1:${studio.port}\r\n\r\n`);
          socket.once('data', () => { socket.resetAndDestroy(); resolve(); });
        });
        socket.on('error', resolve);
      });
    }

    // Many poses at once, good and bad mixed: each good answer is the one that
    // pose gets alone, so no evaluation saw another's pose half-way.
    const poses = Array.from({ length: 24 }, (_, k) => twisted(rest, (k - 12) / 6));
    const answers = await Promise.all(poses.map((p, k) => (k % 5 === 4
      ? request(studio, 'POST', '/api/deform', { body: bytes(p.subarray(1)) })
      : deform(p, `?strength=${(k % 4) / 4 + 0.25}`))));
    for (let k = 0; k < poses.length; ++k) {
      if (k % 5 === 4) {
        assert.equal(answers[k].status, 400);
        continue;
      }
      assert.equal(answers[k].status, 200);
      const alone = await deform(poses[k], `?strength=${(k % 4) / 4 + 0.25}`);
      assert.ok(answers[k].body.equals(alone.body), `pose ${k}`);
    }
    const r = await request(studio, 'GET', '/api/scene');
    assert.equal(r.status, 200);
    assert.deepEqual(JSON.parse(r.body), scene);
  });

  it('opens a saved scene in the pose it was saved in, or in the one --posed names', async () => {
    const sceneFile = path.join(out(), 'pose-001.vtn');
    const pose = twisted(rest, 1);
    const reopened = await startStudio(['--scene', sceneFile, '--out', path.join(dir, 'out2')]);
    try {
      const s = JSON.parse((await request(reopened, 'GET', '/api/scene')).body);
      assert.equal(s.figures.bindSeconds, null);
      assert.equal(s.strength, 0.6);
      assert.equal(s.stretch, 1);
      assert.equal(firstBitDifference(floats((await request(reopened, 'GET', '/api/cage/pose')).body), pose), -1);
      assert.equal(firstBitDifference(floats((await request(reopened, 'GET', '/api/cage/rest')).body), rest), -1);
      const a = await request(reopened, 'POST', '/api/deform', { body: bytes(pose) });
      const b = await deform(pose, '?strength=0.6&stretch=1');
      assert.ok(a.body.equals(b.body), 'the same answer as the studio that bound it');
    } finally {
      await reopened.stop();
    }
    const posedFile = path.join(dir, 'demo', 'bunny_cage_posed.obj');
    const posed = await startStudio(['--scene', sceneFile, '--posed', posedFile, '--out', path.join(dir, 'out2')]);
    try {
      const p = floats((await request(posed, 'GET', '/api/cage/pose')).body);
      assert.equal(firstBitDifference(p, asFloat32(objPoints(posedFile))), -1);
    } finally {
      await posed.stop();
    }
  });

  it('refuses a wrong command line, a port in use and a pose of another cage', async () => {
    for (const args of [[], ['--scene', 'a.vtn', '--cage', files.cage], ['--cage', files.cage], ['--port', '0', '--scene', 'a.vtn'],
      ['--scene', 'a.vtn', '--mesh', files.mesh]]) {
      const r = run(['studio', ...args]);
      assert.equal(r.code, 2, args.join(' '));
    }
    const busy = run(['studio', '--cage', files.cage, '--mesh', files.mesh, '--out', path.join(dir, 'out3'), '--port', String(studio.port)],
      { timeout: 30000 });
    assert.equal(busy.code, 1);
    assert.match(busy.stderr, new RegExp(`^error: cannot listen on 127\\.0\\.0\\.1:${studio.port}`));
    const small = path.join(dir, 'small.obj');
    fs.writeFileSync(small, 'v 0 0 0\nv 1 0 0\nv 0 1 0\n');
    const wrong = run(['studio', '--cage', files.cage, '--mesh', files.mesh, '--posed', small, '--out', path.join(dir, 'out3')]);
    assert.equal(wrong.code, 1);
    assert.match(wrong.stderr, /small\.obj: 3 points, but the cage has 98/);
  });

  it('tells the points outside the cage, as `morvexer check` finds them', async () => {
    const cage = boxCage([-1, -1, -1], [1, 1, 1], 2), ball = bumpySphere(12, 16);
    const cageFile = path.join(dir, 'small-box.obj'), ballFile = path.join(dir, 'ball.obj');
    writeObj(cageFile, cage.points, cage.faces, 'box');
    // Stretched along x so its two ends stick out of the box.
    writeObj(ballFile, ball.points.map((v, i) => (i % 3 === 0 ? v * 1.4 : v * 0.8)), ball.faces, 'a ball too long for the box');
    const report = path.join(dir, 'check.json');
    runOk(['--quiet', 'check', '--cage', cageFile, '--mesh', ballFile, '--json', report]);
    const expected = JSON.parse(fs.readFileSync(report, 'utf8'));
    assert.equal(expected.outside, true);
    assert.ok(expected.selected.length > 10);
    const s = await startStudio(['--cage', cageFile, '--mesh', ballFile, '--out', path.join(dir, 'out4')]);
    try {
      const outside = JSON.parse((await request(s, 'GET', '/api/outside')).body);
      assert.equal(outside.total, expected.selected.length);
      assert.deepEqual(outside.meshes, [{ count: expected.selected.length, indices: expected.selected }]);
    } finally {
      await s.stop();
    }
  });

  it('stops cleanly on Ctrl-C', async () => {
    const end = await studio.stop();
    studio = null;
    assert.equal(end.code, 0);
    assert.match(end.stdout, /studio stopped/);
  });
});
