// The studio's page: loads the scene from the tool, wires the view, the cage
// editing and the panel together, and sends every pose to be deformed.
import { Api, ApiError, PoseSync } from './api.js';
import { Cage, Pointer } from './edit.js';
import { View } from './view.js';

const $ = (id) => document.getElementById(id);

function say(text, isError = false) {
  $('message').textContent = text;
  $('message').classList.toggle('error', isError);
}

function reason(error) {
  if (error instanceof ApiError && error.status === 403) return `${error.message} (open the address the tool printed)`;
  return error.message || String(error);
}

// The shortest text that reads back as the same float32, so a coordinate shown
// and typed back in is the same number.
function floatText(v) {
  for (let digits = 1; digits < 9; ++digits) {
    const text = String(Number(v.toPrecision(digits)));
    if (Math.fround(Number(text)) === v) return text;
  }
  return String(v);
}

function formatNumber(n) {
  return n.toLocaleString('en-US');
}

async function boot() {
  const token = new URLSearchParams(location.search).get('token') || '';
  const api = new Api(token);
  const scene = await api.json('/api/scene');
  const [outside, rest, pose] = await Promise.all([
    api.json('/api/outside'), api.floats('/api/cage/rest'), api.floats('/api/cage/pose'),
  ]);
  const meshes = await Promise.all(scene.meshes.map(async (m, i) => ({
    triangles: await api.uints(`/api/mesh/${i}/triangles`),
    positions: await api.floats(`/api/mesh/${i}/rest`),
  })));
  const offsets = [];
  let total = 0;
  for (const m of scene.meshes) {
    offsets.push(total);
    total += m.points * 3;
  }

  const view = new View($('viewport'), scene, meshes, pose, outside);
  // What goes with every pose, as typed into the query: the server reads the same text.
  const settings = { strength: String(scene.strength), stretch: String(scene.stretch) };
  let sync = null;
  let shownPose = null;  // the pose whose deformation is on screen
  let pointer = null;

  const cage = new Cage(rest, pose, (what) => {
    if (what === 'selection') view.showSelection(cage.selection);
    else view.cageChanged();
    if (!view.transform.dragging) pointer.placeGizmo();
    showSelection();
    if (what === 'pose') sync.push(cage.pose, settings);
    $('undo').disabled = !cage.undoStack.length;
    $('redo').disabled = !cage.redoStack.length;
  });
  pointer = new Pointer(view, cage, $('box'));
  view.attachOrbit();

  sync = new PoseSync(api, (positions, job, timing) => {
    if (positions.length !== total) {
      say(`the server answered ${positions.length / 3} points for ${total / 3}`, true);
      return;
    }
    scene.meshes.forEach((m, i) => view.setMeshPositions(i, positions.subarray(offsets[i], offsets[i] + m.points * 3)));
    shownPose = job;
    $('round-trip').textContent = `round trip ${timing.roundTripMs.toFixed(1)} ms (deform ${timing.evaluateMs.toFixed(1)} ms)`;
    if ($('message').classList.contains('error')) say('');
  }, (error) => say(reason(error), true));
  setInterval(() => { $('rate').textContent = `${sync.rate()} updates/s`; }, 250);

  // Figures of the binding.
  const f = scene.figures;
  $('fig-points').textContent = formatNumber(f.points);
  $('fig-cage-points').textContent = formatNumber(f.cagePoints);
  $('fig-cage-faces').textContent = formatNumber(f.cageFaces);
  $('fig-memory').textContent = f.memory;
  $('fig-bind').textContent = f.bindSeconds === null ? 'loaded' : `${f.bindSeconds.toFixed(2)} s`;
  $('outside-count').textContent = formatNumber(outside.total);
  $('outside-text').textContent = outside.total === 1 ? 'point outside the cage' : 'points outside the cage';
  $('outside').classList.toggle('some', outside.total > 0);

  // Sliders: the slider's own text goes to the server, so a value shown is a value sent.
  const slider = (name) => {
    const input = $(name), output = $(`${name}-value`);
    input.value = settings[name];
    output.textContent = settings[name];
    input.addEventListener('input', () => {
      settings[name] = input.value;
      output.textContent = input.value;
      sync.push(cage.pose, settings);
    });
  };
  slider('strength');
  slider('stretch');

  // Gizmo modes.
  const setMode = (mode) => {
    view.transform.setMode(mode);
    for (const b of document.querySelectorAll('.tools button')) b.classList.toggle('active', b.dataset.mode === mode);
    view.requestRender();
  };
  for (const b of document.querySelectorAll('.tools button')) b.addEventListener('click', () => setMode(b.dataset.mode));
  setMode('translate');

  // Typed coordinates of a lone selected point.
  const axes = ['x', 'y', 'z'];
  function showSelection() {
    const n = cage.selection.size;
    $('selection-info').textContent = n === 0 ? 'No point selected' : n === 1 ? '1 point selected' : `${n} points selected`;
    $('coords').disabled = n !== 1;
    const [only] = cage.selection;
    $('coords-index').textContent = n === 1 ? String(only + 1) : '–';
    axes.forEach((a, k) => {
      const input = $(`coord-${a}`);
      if (document.activeElement !== input) input.value = n === 1 ? floatText(cage.pose[only * 3 + k]) : '';
    });
  }
  axes.forEach((a, k) => $(`coord-${a}`).addEventListener('change', (e) => {
    // Beyond single precision a number would reach the server as infinite.
    const value = Math.fround(Number(e.target.value));
    if (cage.selection.size !== 1 || e.target.value.trim() === '' || !Number.isFinite(value)) return showSelection();
    const [only] = cage.selection;
    const p = cage.point(only);
    p.setComponent(k, value);
    cage.remember();
    cage.setPoint(only, p);
    cage.edited();
  }));

  const undo = () => cage.undo();
  const redo = () => cage.redo();
  const reset = () => cage.resetToRest();
  $('undo').addEventListener('click', undo);
  $('redo').addEventListener('click', redo);
  $('reset').addEventListener('click', reset);

  let lastSave = null;
  const save = async () => {
    $('save').disabled = true;
    try {
      await sync.idle();
      lastSave = await api.save(cage.pose, settings);
      $('save-info').textContent = `Saved ${lastSave.files.join(', ')} in ${lastSave.folder}`;
      say('');
    } catch (error) {
      say(`save failed: ${reason(error)}`, true);
    } finally {
      $('save').disabled = false;
    }
    return lastSave;
  };
  $('save').addEventListener('click', save);
  $('load').addEventListener('click', () => $('load-file').click());
  $('load-file').addEventListener('change', async (e) => {
    const file = e.target.files[0];
    e.target.value = '';
    if (!file) return;
    try {
      cage.replace(await api.loadPose(await file.text()));
      say(`loaded ${file.name}`);
    } catch (error) {
      say(`${file.name}: ${reason(error)}`, true);
    }
  });

  const help = (show = $('help').hidden) => { $('help').hidden = !show; };
  $('help-button').addEventListener('click', () => help());
  $('help').addEventListener('click', () => help(false));

  document.addEventListener('keydown', (e) => {
    const typing = e.target instanceof HTMLInputElement && e.target.type !== 'range';
    const ctrl = e.ctrlKey || e.metaKey;
    const key = e.key.toLowerCase();
    if (e.key === 'Escape') {
      if (!$('help').hidden) help(false);
      else if (typing) e.target.blur();
      else cage.select([]);
      return;
    }
    if (ctrl && key === 's') { e.preventDefault(); save(); return; }
    if (ctrl && key === 'o') { e.preventDefault(); $('load-file').click(); return; }
    if (typing) return;
    if (ctrl && (key === 'y' || (key === 'z' && e.shiftKey))) { e.preventDefault(); redo(); return; }
    if (ctrl && key === 'z') { e.preventDefault(); undo(); return; }
    if (ctrl || e.altKey) return;
    if (e.key === '?' || key === 'h') help();
    else if (key === 'w') setMode('translate');
    else if (key === 'e') setMode('rotate');
    else if (key === 'r') setMode('scale');
    else if (key === 'a') cage.select([...Array(cage.count).keys()]);
    else if (key === 'f') view.frame();
    else if (e.key === 'Home') reset();
    else return;
    e.preventDefault();
  });

  showSelection();
  $('undo').disabled = $('redo').disabled = true;
  sync.push(cage.pose, settings);
  await sync.idle();

  // For the tests and for the curious: copies only, never the live arrays.
  window.studio = {
    scene,
    meshPositions: (i) => view.meshes[i].position.array.slice(),
    cagePose: () => cage.pose.slice(),
    shownPose: () => shownPose && { pose: shownPose.pose.slice(), settings: { ...shownPose.settings } },
    settings: () => ({ ...settings }),
    selection: () => [...cage.selection].sort((a, b) => a - b),
    handleOnPage: (i) => view.screenOf(i),
    onPage: (x, y, z) => view.onPage(x, y, z),
    idle: () => sync.idle(),
    stats: () => ({
      updates: sync.updates, roundTrips: sync.roundTrips.slice(), evaluations: sync.evaluations.slice(), rate: sync.rate(),
    }),
    lastSave: () => lastSave,
    save,
  };
  document.body.dataset.ready = 'true';
}

boot().catch((error) => {
  $('fatal-text').textContent = reason(error);
  $('fatal').hidden = false;
  document.body.dataset.ready = 'failed';
});
