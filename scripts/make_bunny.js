#!/usr/bin/env node
// Writes samples/bunny.obj from the npm package `bunny` (positions and cells).
// Usage: node scripts/make_bunny.js PATH/TO/node_modules/bunny > samples/bunny.obj
// Vertex order is kept as the package has it, so index-based tests stay stable.
'use strict';

const fs = require('fs');
const path = require('path');

function fail(message) {
  process.stderr.write('make_bunny: ' + message + '\n');
  process.exit(1);
}

const dir = process.argv[2];
if (!dir) fail('usage: node make_bunny.js PACKAGE_FOLDER > bunny.obj');
const root = path.resolve(dir);

let pkg;
let mesh;
try {
  pkg = JSON.parse(fs.readFileSync(path.join(root, 'package.json'), 'utf8'));
  mesh = require(root);
} catch (e) {
  fail(root + ': ' + e.message);
}

const positions = mesh.positions;
const cells = mesh.cells;
if (!Array.isArray(positions) || !Array.isArray(cells)) fail(root + ': no positions or cells');

// Reject anything a plain OBJ reader would choke on rather than write a bad file.
positions.forEach((p, i) => {
  if (!Array.isArray(p) || p.length !== 3 || !p.every(Number.isFinite)) fail('bad position ' + i);
});
cells.forEach((c, i) => {
  if (!Array.isArray(c) || c.length < 3 || !c.every((k) => Number.isInteger(k) && k >= 0 && k < positions.length)) {
    fail('bad cell ' + i);
  }
});

const lines = [];
lines.push('# Stanford Bunny, Stanford 3D Scanning Repository, Stanford University Computer Graphics Laboratory');
lines.push('# from the npm package ' + pkg.name + ' ' + pkg.version + ' (licence stated by the package: ' + pkg.license + ')');
lines.push('# converted by scripts/make_bunny.js: ' + positions.length + ' points, ' + cells.length + ' faces');
// JavaScript's shortest round-trip formatting reproduces the package's literals exactly.
for (const p of positions) lines.push('v ' + p.map(String).join(' '));
for (const c of cells) lines.push('f ' + c.map((k) => String(k + 1)).join(' '));
process.stdout.write(lines.join('\n') + '\n');
