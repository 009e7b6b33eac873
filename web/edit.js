// Editing the cage: the pose (float32, as it goes to the server), the selection,
// undo and redo, and the pointer: click, shift-click and box selection, dragging
// points, and the move, rotate and scale gizmo about the selection's centre.
import * as THREE from './vendor/three.module.js';

const HISTORY_LIMIT = 200;

export class Cage {
  constructor(rest, pose, onChange) {
    this.rest = rest;
    this.pose = pose;  // shared with the view's wireframe and handles
    this.selection = new Set();
    this.undoStack = [];
    this.redoStack = [];
    this.onChange = onChange;  // (what) with 'pose' or 'selection'
  }

  get count() {
    return this.pose.length / 3;
  }

  point(i) {
    return new THREE.Vector3(this.pose[i * 3], this.pose[i * 3 + 1], this.pose[i * 3 + 2]);
  }

  // Rounds as the wire does, so what is shown is exactly what is sent.
  setPoint(i, v) {
    this.pose[i * 3] = Math.fround(v.x);
    this.pose[i * 3 + 1] = Math.fround(v.y);
    this.pose[i * 3 + 2] = Math.fround(v.z);
  }

  centre() {
    const c = new THREE.Vector3();
    for (const i of this.selection) c.add(this.point(i));
    return this.selection.size ? c.divideScalar(this.selection.size) : c;
  }

  select(indices, mode = 'replace') {
    if (mode === 'replace') this.selection = new Set(indices);
    else if (mode === 'add') for (const i of indices) this.selection.add(i);
    else for (const i of indices) this.selection.has(i) ? this.selection.delete(i) : this.selection.add(i);
    this.onChange('selection');
  }

  // Before every edit: the pose as it was, for undo.
  remember() {
    this.undoStack.push(this.pose.slice());
    if (this.undoStack.length > HISTORY_LIMIT) this.undoStack.shift();
    this.redoStack.length = 0;
  }

  edited() {
    this.onChange('pose');
  }

  replace(pose) {
    this.remember();
    this.pose.set(pose);
    this.edited();
  }

  undo() {
    if (!this.undoStack.length) return false;
    this.redoStack.push(this.pose.slice());
    this.pose.set(this.undoStack.pop());
    this.edited();
    return true;
  }

  redo() {
    if (!this.redoStack.length) return false;
    this.undoStack.push(this.pose.slice());
    this.pose.set(this.redoStack.pop());
    this.edited();
    return true;
  }

  resetToRest() {
    this.replace(this.rest);
  }
}

// The pointer on the view: what a press starts depends on what lies under it.
//   on a handle: select it (shift: add or take away) and drag the selection in
//   the plane facing the camera; on empty space: orbit (left), pan (right),
//   zoom (wheel), a click there clears the selection; shift-drag or ctrl-drag
//   on empty space: box selection (shift adds, ctrl replaces).
export class Pointer {
  constructor(view, cage, boxElement) {
    this.view = view;
    this.cage = cage;
    this.box = boxElement;
    this.drag = null;
    this.gizmoStart = null;
    const canvas = view.canvas;
    canvas.addEventListener('pointerdown', (e) => this.down(e));
    canvas.addEventListener('pointermove', (e) => this.move(e));
    canvas.addEventListener('pointerup', (e) => this.up(e));
    canvas.addEventListener('pointercancel', (e) => this.up(e));

    const t = view.transform;
    t.addEventListener('mouseDown', () => this.gizmoBegin());
    t.addEventListener('objectChange', () => this.gizmoMove());
    t.addEventListener('mouseUp', () => { this.gizmoStart = null; });
  }

  down(e) {
    if (e.button !== 0 || this.view.transform.dragging) return;
    const hit = this.view.pick(e.clientX, e.clientY);
    if (hit !== null) {
      e.stopImmediatePropagation();
      if (e.shiftKey) {
        this.cage.select([hit], 'toggle');
        return;
      }
      if (!this.cage.selection.has(hit)) this.cage.select([hit]);
      const grabbed = this.cage.point(hit);
      this.drag = {
        kind: 'points', id: e.pointerId, grabbed, from: this.view.pointerOnPlane(e.clientX, e.clientY, grabbed),
        start: this.cage.pose.slice(), moved: false,
      };
      this.view.canvas.setPointerCapture(e.pointerId);
    } else if (e.shiftKey || e.ctrlKey || e.metaKey) {
      e.stopImmediatePropagation();
      this.drag = { kind: 'box', id: e.pointerId, x: e.clientX, y: e.clientY, add: e.shiftKey };
      this.view.canvas.setPointerCapture(e.pointerId);
      this.showBox(e.clientX, e.clientY);
    } else {
      this.drag = { kind: 'empty', id: e.pointerId, x: e.clientX, y: e.clientY };
    }
  }

  move(e) {
    const d = this.drag;
    if (!d || d.id !== e.pointerId) return;
    if (d.kind === 'points') {
      const to = this.view.pointerOnPlane(e.clientX, e.clientY, d.grabbed);
      if (!to || !d.from) return;
      if (!d.moved) {
        // The pose before the drag, not before its first step.
        this.cage.undoStack.push(d.start.slice());
        this.cage.redoStack.length = 0;
        d.moved = true;
      }
      const delta = to.sub(d.from);
      const p = new THREE.Vector3();
      for (const i of this.cage.selection) {
        p.set(d.start[i * 3], d.start[i * 3 + 1], d.start[i * 3 + 2]).add(delta);
        this.cage.setPoint(i, p);
      }
      this.cage.edited();
    } else if (d.kind === 'box') {
      this.showBox(e.clientX, e.clientY);
    }
  }

  up(e) {
    const d = this.drag;
    if (!d || d.id !== e.pointerId) return;
    this.drag = null;
    if (d.kind === 'box') {
      this.box.hidden = true;
      const [l, r] = [Math.min(d.x, e.clientX), Math.max(d.x, e.clientX)];
      const [t, b] = [Math.min(d.y, e.clientY), Math.max(d.y, e.clientY)];
      this.cage.select(this.view.inside(l, t, r, b), d.add ? 'add' : 'replace');
    } else if (d.kind === 'empty' && Math.hypot(e.clientX - d.x, e.clientY - d.y) < 4) {
      this.cage.select([]);
    }
  }

  showBox(x, y) {
    const d = this.drag;
    const host = this.box.parentElement.getBoundingClientRect();
    Object.assign(this.box.style, {
      left: `${Math.min(d.x, x) - host.left}px`, top: `${Math.min(d.y, y) - host.top}px`,
      width: `${Math.abs(x - d.x)}px`, height: `${Math.abs(y - d.y)}px`,
    });
    this.box.hidden = false;
  }

  // The gizmo sits on a pivot at the selection's centre; the pivot's change
  // since the press carries the selected points along, about that centre.
  placeGizmo() {
    const { pivot, transform } = this.view;
    if (!this.cage.selection.size) {
      transform.detach();
    } else {
      pivot.position.copy(this.cage.centre());
      pivot.quaternion.identity();
      pivot.scale.set(1, 1, 1);
      pivot.updateMatrixWorld(true);
      transform.attach(pivot);
    }
    this.view.requestRender();
  }

  gizmoBegin() {
    const { pivot } = this.view;
    pivot.updateMatrixWorld(true);
    this.gizmoStart = { inverse: pivot.matrixWorld.clone().invert(), pose: this.cage.pose.slice() };
    this.cage.remember();
  }

  gizmoMove() {
    const s = this.gizmoStart;
    if (!s) return;
    const { pivot } = this.view;
    pivot.updateMatrixWorld(true);
    const m = pivot.matrixWorld.clone().multiply(s.inverse);
    const p = new THREE.Vector3();
    for (const i of this.cage.selection) {
      p.set(s.pose[i * 3], s.pose[i * 3 + 1], s.pose[i * 3 + 2]).applyMatrix4(m);
      this.cage.setPoint(i, p);
    }
    this.cage.edited();
  }
}
