// How fast the studio answers a pose, over HTTP on one kept-alive connection
// as the page sends them (one at a time, the next as the answer arrives): the
// bundled scanned model, and a generated mesh of 100 174 points. The figures
// are printed, not held against limits; what is checked is that every answer
// is whole and finite.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { after, describe, it } from 'node:test';

import { boxCage, bumpySphere, bunnyCage, floats, median, percentile, request, startStudio, writeObj } from './support.mjs';

// Poses a drag would send: one cage point moved a little further each time.
async function drag(studio, rest, points, steps) {
  const agent = new http.Agent({ keepAlive: true, maxSockets: 1 });
  const pose = new Float32Array(rest);
  const trips = [], evaluations = [];
  const start = performance.now();
  try {
    for (let k = 0; k < steps; ++k) {
      pose[0] = Math.fround(rest[0] - 0.002 * k);
      pose[1] = Math.fround(rest[1] - 0.001 * k);
      const t0 = performance.now();
      const answer = await new Promise((resolve, reject) => {
        const req = http.request({
          host: '127.0.0.1', port: studio.port, method: 'POST', path: '/api/deform', agent,
          headers: { Host: `127.0.0.1:${studio.port}`, 'X-Morvexer-Token': studio.token, 'Content-Type': 'application/octet-stream' },
        }, (res) => {
          const chunks = [];
          res.on('data', (c) => chunks.push(c));
          res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks) }));
        });
        req.on('error', reject);
        req.end(Buffer.from(pose.buffer));
      });
      trips.push(performance.now() - t0);
      evaluations.push(Number(answer.headers['x-morvexer-evaluate-ms']));
      assert.equal(answer.status, 200);
      const positions = floats(answer.body);
      assert.equal(positions.length, points * 3);
      assert.ok(positions.every(Number.isFinite));
    }
  } finally {
    agent.destroy();
  }
  const seconds = (performance.now() - start) / 1000;
  return { trips, evaluations, rate: steps / seconds };
}

function report(t, what, r, goal) {
  const line = `${what}: round trip median ${median(r.trips).toFixed(2)} ms, 90th percentile ${percentile(r.trips, 0.9).toFixed(2)} ms `
    + `(goal ${goal} ms; the server's evaluation median ${median(r.evaluations).toFixed(2)} ms), ${r.rate.toFixed(0)} updates/s back to back`;
  t.diagnostic(line);
  console.log(line);
}

describe('round trips of a pose', () => {
  let dir;
  after(() => dir && fs.rmSync(dir, { recursive: true, force: true }));

  it('on the bundled scanned model (1 839 points)', async (t) => {
    dir ??= fs.mkdtempSync(path.join(os.tmpdir(), 'morvexer-web-'));
    const files = bunnyCage(dir);
    const studio = await startStudio(['--cage', files.cage, '--mesh', files.mesh, '--out', path.join(dir, 'out1')]);
    try {
      const rest = floats((await request(studio, 'GET', '/api/cage/rest')).body);
      await drag(studio, rest, 1839, 20);
      report(t, 'bunny, 1 839 points, over HTTP', await drag(studio, rest, 1839, 300), 5);
    } finally {
      assert.equal((await studio.stop()).code, 0);
    }
  });

  it('on a mesh of 100 174 points', async (t) => {
    dir ??= fs.mkdtempSync(path.join(os.tmpdir(), 'morvexer-web-'));
    const sphere = bumpySphere(316, 317), cage = boxCage([-1.3, -1.3, -1.3], [1.3, 1.3, 1.3], 4);
    const points = sphere.points.length / 3;
    assert.equal(points, 100174);
    writeObj(path.join(dir, 'sphere.obj'), sphere.points, sphere.faces, 'a bumpy sphere of 100 174 points');
    writeObj(path.join(dir, 'box.obj'), cage.points, cage.faces, 'its box cage');
    const start = performance.now();
    const studio = await startStudio(['--cage', path.join(dir, 'box.obj'), '--mesh', path.join(dir, 'sphere.obj'), '--out', path.join(dir, 'out2')]);
    t.diagnostic(`100 174 points bound and served in ${((performance.now() - start) / 1000).toFixed(1)} s`);
    try {
      const rest = floats((await request(studio, 'GET', '/api/cage/rest')).body);
      await drag(studio, rest, points, 3);
      report(t, 'sphere, 100 174 points, over HTTP', await drag(studio, rest, points, 40), 40);
    } finally {
      assert.equal((await studio.stop()).code, 0);
    }
  });
});
