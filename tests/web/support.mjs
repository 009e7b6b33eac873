// Shared by the studio's tests: the tool, its samples, a studio started and
// stopped, OBJ files read and written, float32 arrays compared bit for bit.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const repo = path.resolve(here, '../..');
export const tool = process.env.MORVEXER_TOOL || path.join(repo, 'build/default/apps/morvexer/morvexer');
export const samples = process.env.MORVEXER_SAMPLES || path.join(repo, 'samples');
export const webModules = process.env.MORVEXER_WEB_MODULES || path.join(repo, 'web/node_modules');
export const sanitized = /^(ON|1|TRUE|YES)$/i.test(process.env.MORVEXER_SANITIZED || '');

export function need(condition, what) {
  if (!condition) throw new Error(`cannot run: ${what}`);
}

export function tempDir(t) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'morvexer-web-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

export function run(args, options = {}) {
  const r = spawnSync(tool, args, { encoding: 'utf8', timeout: 120000, ...options });
  if (r.error) throw r.error;
  return { code: r.status, stdout: r.stdout, stderr: r.stderr };
}

export function runOk(args, options) {
  const r = run(args, options);
  if (r.code !== 0) throw new Error(`morvexer ${args.join(' ')} exited ${r.code}: ${r.stderr.trim()}`);
  return r;
}

// The demo's box cage around the bundled scanned model.
export function bunnyCage(dir) {
  runOk(['--quiet', 'demo', '--out', path.join(dir, 'demo')]);
  return { cage: path.join(dir, 'demo', 'bunny_cage.obj'), mesh: path.join(samples, 'bunny.obj') };
}

// Starts `morvexer studio` and waits for the address it prints.
export function startStudio(args, { cwd } = {}) {
  need(fs.existsSync(tool), `the tool is not built at ${tool}`);
  const child = spawn(tool, ['studio', ...args], { cwd, stdio: ['ignore', 'pipe', 'pipe'] });
  let stdout = '', stderr = '';
  child.stdout.setEncoding('utf8');
  child.stderr.setEncoding('utf8');
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => {
      child.kill('SIGKILL');
      reject(new Error(`the studio printed no address within 120 s: ${stderr}`));
    }, 120000);
    child.stderr.on('data', (d) => { stderr += d; });
    exited.then(({ code }) => {
      clearTimeout(timer);
      reject(new Error(`the studio exited ${code} before serving: ${stderr.trim()}`));
    });
    child.stdout.on('data', (d) => {
      stdout += d;
      const m = /open (http:\/\/127\.0\.0\.1:(\d+))\/\?token=([0-9a-f]+)/.exec(stdout);
      if (!m) return;
      clearTimeout(timer);
      const studio = {
        child, url: `${m[1]}/?token=${m[3]}`, base: m[1], port: Number(m[2]), token: m[3],
        output: () => ({ stdout, stderr }),
        // Ctrl-C, as a user stops it.
        async stop() {
          if (child.exitCode === null && child.signalCode === null) child.kill('SIGINT');
          const end = await exited;
          return { ...end, stdout, stderr };
        },
      };
      resolve(studio);
    });
  });
}

// A plain HTTP request with full control of the headers (fetch would set Host
// and Origin itself). Answers status, headers and the body as a Buffer.
export function request(studio, method, pathAndQuery, { headers = {}, body, token = studio.token, host } = {}) {
  return new Promise((resolve, reject) => {
    const h = { Host: host ?? `127.0.0.1:${studio.port}`, ...headers };
    if (token !== null) h['X-Morvexer-Token'] = token;
    const req = http.request({ host: '127.0.0.1', port: studio.port, method, path: pathAndQuery, headers: h, agent: false }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks) }));
    });
    req.on('error', reject);
    if (body !== undefined) req.write(body);
    req.end();
  });
}

export function floats(buffer) {
  return new Float32Array(buffer.buffer.slice(buffer.byteOffset, buffer.byteOffset + buffer.byteLength));
}

export function bytes(array) {
  return Buffer.from(array.buffer, array.byteOffset, array.byteLength);
}

// The v lines of an OBJ as doubles, x y z in a row.
export function objPoints(file) {
  const out = [];
  for (const line of fs.readFileSync(file, 'utf8').split(/\r?\n/)) {
    const m = /^\s*v\s+(\S+)\s+(\S+)\s+(\S+)/.exec(line);
    if (m) out.push(Number(m[1]), Number(m[2]), Number(m[3]));
  }
  return out;
}

// Each double rounded to float32, as the studio shows positions.
export function asFloat32(values) {
  return Float32Array.from(values, (v) => Math.fround(v));
}

// The first index where two float32 arrays differ in their bits, or -1.
export function firstBitDifference(a, b) {
  if (a.length !== b.length) return Math.min(a.length, b.length);
  const x = new Uint32Array(a.buffer, a.byteOffset, a.length), y = new Uint32Array(b.buffer, b.byteOffset, b.length);
  for (let i = 0; i < x.length; ++i) if (x[i] !== y[i]) return i;
  return -1;
}

export function writeObj(file, points, faces, comment) {
  const lines = [`# ${comment}`];
  for (let i = 0; i < points.length; i += 3) lines.push(`v ${points[i]} ${points[i + 1]} ${points[i + 2]}`);
  for (const f of faces) lines.push(`f ${f.map((k) => k + 1).join(' ')}`);
  fs.writeFileSync(file, `${lines.join('\n')}\n`);
}

// The surface of the box lo..hi as n x n x n quads, faces outward.
export function boxCage(lo, hi, n) {
  const points = [], faces = [], index = new Map();
  const at = (c) => {
    const key = c.join(',');
    if (!index.has(key)) {
      index.set(key, points.length / 3);
      points.push(...c.map((v, k) => lo[k] + (hi[k] - lo[k]) * v / n));
    }
    return index.get(key);
  };
  for (let axis = 0; axis < 3; ++axis) {
    const u = (axis + 1) % 3, v = (axis + 2) % 3;
    for (let side = 0; side < 2; ++side)
      for (let a = 0; a < n; ++a)
        for (let b = 0; b < n; ++b) {
          const corner = (da, db) => {
            const c = [0, 0, 0];
            c[axis] = side ? n : 0;
            c[u] = a + da;
            c[v] = b + db;
            return at(c);
          };
          faces.push(side ? [corner(0, 0), corner(1, 0), corner(1, 1), corner(0, 1)]
            : [corner(0, 0), corner(0, 1), corner(1, 1), corner(1, 0)]);
        }
  }
  return { points, faces };
}

// A bumpy sphere of rings x segments points plus the two poles, made the same
// every time.
export function bumpySphere(rings, segments) {
  const points = [0, 1, 0], faces = [];
  for (let r = 1; r <= rings; ++r) {
    const theta = Math.PI * r / (rings + 1);
    for (let s = 0; s < segments; ++s) {
      const phi = 2 * Math.PI * s / segments;
      const radius = 1 + 0.04 * Math.sin(7 * theta) * Math.cos(5 * phi);
      points.push(radius * Math.sin(theta) * Math.cos(phi), radius * Math.cos(theta), radius * Math.sin(theta) * Math.sin(phi));
    }
  }
  points.push(0, -1, 0);
  const id = (r, s) => 1 + (r - 1) * segments + (s % segments);
  const south = points.length / 3 - 1;
  for (let s = 0; s < segments; ++s) {
    faces.push([0, id(1, s + 1), id(1, s)]);
    faces.push([south, id(rings, s), id(rings, s + 1)]);
    for (let r = 1; r < rings; ++r) faces.push([id(r, s), id(r, s + 1), id(r + 1, s + 1), id(r + 1, s)]);
  }
  return { points, faces };
}

export function median(values) {
  const s = [...values].sort((a, b) => a - b);
  return s.length ? s[Math.floor(s.length / 2)] : NaN;
}

export function percentile(values, p) {
  const s = [...values].sort((a, b) => a - b);
  return s.length ? s[Math.min(s.length - 1, Math.floor(s.length * p))] : NaN;
}

// An 8-bit RGB or RGBA PNG, not interlaced (what Chromium's screenshots are),
// as width, height and RGBA bytes.
export function decodePng(buffer) {
  assert8(buffer.subarray(0, 8).equals(Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a])), 'not a PNG');
  let width = 0, height = 0, channels = 0;
  const data = [];
  for (let at = 8; at < buffer.length;) {
    const length = buffer.readUInt32BE(at), type = buffer.toString('latin1', at + 4, at + 8);
    const body = buffer.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      assert8(body[8] === 8 && (body[9] === 2 || body[9] === 6) && body[12] === 0, 'an 8-bit RGB(A) PNG, not interlaced');
      channels = body[9] === 6 ? 4 : 3;
    } else if (type === 'IDAT') data.push(body);
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(data));
  const stride = width * channels, rgba = Buffer.alloc(width * height * 4);
  let previous = Buffer.alloc(stride);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const row = Buffer.from(raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1)));
    for (let x = 0; x < stride; ++x) {
      const a = x >= channels ? row[x - channels] : 0, b = previous[x], c = x >= channels ? previous[x - channels] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const predictor = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      row[x] = (row[x] + predictor) & 0xff;
    }
    for (let x = 0; x < width; ++x)
      for (let k = 0; k < 4; ++k) rgba[(y * width + x) * 4 + k] = k < channels ? row[x * channels + k] : 255;
    previous = row;
  }
  return { width, height, rgba };
}

function assert8(condition, what) {
  if (!condition) throw new Error(`decodePng: ${what}`);
}
